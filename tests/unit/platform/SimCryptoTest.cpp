// The simulated CryptoAPI: published MD5 and RC4 vectors, key derivation and the key container.
#include "platform/sim/SimCrypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Threads.h"
#include "platform/sim/SimMachine.h"

namespace platform::sim {
namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::vector<std::uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(SimCryptoTest, Md5MatchesRfc1321) {
  const struct {
    std::string message;
    const char* digest;
  } rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& r : rows) {
    auto digest =
        SimCrypto::Md5(reinterpret_cast<const std::uint8_t*>(r.message.data()), r.message.size());
    EXPECT_EQ(std::vector<std::uint8_t>(digest.begin(), digest.end()), FromHex(r.digest))
        << r.message;
  }
}

TEST(SimCryptoTest, Rc4MatchesRfc6229) {
  // Keystream bytes at offsets 0 and 16 (RFC 6229, section 2).
  const struct {
    const char* key;
    const char* at0;
    const char* at16;
  } rows[] = {
      {"0102030405", "b2396305f03dc027ccc3524a0a1118a8", "6982944f18fc82d589c403a47a0d0919"},
      {"01020304050607", "293f02d47f37c9b633f2af5285feb46b", "e620f1390d19bd84e2e0fd752031afc1"},
      {"0102030405060708", "97ab8a1bf0afb96132f2f67258da15a8", "8263efdb45c4a18684ef87e6b19e5b09"},
      {"0102030405060708090a0b0c0d0e0f10", "9ac7cc9a609d1ef7b2932899cde41b97",
       "5248c4959014126a6e8a84f11d1a9e1c"},
  };
  for (const auto& r : rows) {
    std::vector<std::uint8_t> key = FromHex(r.key);
    std::vector<std::uint8_t> stream(32, 0);
    SimCrypto::Rc4(key.data(), key.size(), stream.data(), stream.size());
    EXPECT_EQ(std::vector<std::uint8_t>(stream.begin(), stream.begin() + 16), FromHex(r.at0))
        << r.key;
    EXPECT_EQ(std::vector<std::uint8_t>(stream.begin() + 16, stream.end()), FromHex(r.at16))
        << r.key;
  }
}

// Derives an RC4 key from the passphrase through the seam and returns n keystream bytes.
std::vector<std::uint8_t> Keystream(SimCrypto& crypto, const char16_t* provider,
                                    std::uint32_t deriveFlags, std::size_t n) {
  std::u16string pass = u"rOdWelma_640193@KXF#bAun!tep*";
  std::vector<std::uint8_t> bytes;
  for (char16_t c : pass) {
    bytes.push_back(c & 0xFF);
    bytes.push_back(c >> 8);
  }
  CryptHandle prov = 0, hash = 0, key = 0;
  EXPECT_EQ(crypto.CryptAcquireContextW(&prov, nullptr, provider, kProvRsaFull, 0), 1);
  EXPECT_EQ(crypto.CryptCreateHash(prov, kCalgMd5, 0, 0, &hash), 1);
  EXPECT_EQ(crypto.CryptHashData(hash, bytes.data(), 58, 0), 1);
  std::vector<std::uint8_t> out(n, 0);
  if (crypto.CryptDeriveKey(prov, kCalgRc4, hash, deriveFlags, &key) == 1) {
    std::uint32_t len = static_cast<std::uint32_t>(n);
    EXPECT_EQ(crypto.CryptEncrypt(key, 0, 1, 0, out.data(), &len, len), 1);
    crypto.CryptDestroyKey(key);
  } else {
    out.clear();
  }
  crypto.CryptDestroyHash(hash);
  crypto.CryptReleaseContext(prov, 0);
  return out;
}

TEST(SimCryptoTest, DerivedKeysFollowTheProvider) {
  SimMachine m;
  std::vector<std::uint8_t> digest = FromHex("818c1e1542cb67f8bbc9d66a3ee08556");
  std::vector<std::uint8_t> full(16, 0);
  SimCrypto::Rc4(digest.data(), 16, full.data(), 16);
  std::vector<std::uint8_t> salted(digest.begin(), digest.begin() + 5);
  salted.resize(16, 0);
  std::vector<std::uint8_t> base(16, 0);
  SimCrypto::Rc4(salted.data(), 16, base.data(), 16);

  EXPECT_EQ(Keystream(m.crypto, nullptr, kCryptExportable, 16), full);
  EXPECT_EQ(Keystream(m.crypto, u"Microsoft Enhanced Cryptographic Provider v1.0",
                      kCryptExportable | (128u << 16), 16),
            full);
  EXPECT_EQ(
      Keystream(m.crypto, u"Microsoft Base Cryptographic Provider v1.0", kCryptExportable, 16),
      base);
  EXPECT_TRUE(Keystream(m.crypto, u"Microsoft Base Cryptographic Provider v1.0",
                        kCryptExportable | (128u << 16), 16)
                  .empty());
  EXPECT_EQ(m.core.OpenHandleCount(), 0u);
}

TEST(SimCryptoTest, FinalCallsRestartTheKeystream) {
  SimMachine m;
  CryptHandle prov = 0, hash = 0, key = 0;
  ASSERT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, nullptr, kProvRsaFull, 0), 1);
  ASSERT_EQ(m.crypto.CryptCreateHash(prov, kCalgMd5, 0, 0, &hash), 1);
  ASSERT_EQ(m.crypto.CryptDeriveKey(prov, kCalgRc4, hash, 0, &key), 1);
  // The hash is spent once a key came from it.
  EXPECT_EQ(m.crypto.CryptHashData(hash, Bytes("x").data(), 1, 0), 0);
  EXPECT_EQ(m.threads.GetLastError(), kNteBadHashState);
  std::vector<std::uint8_t> a(8, 0), b(8, 0), c(4, 0), d(4, 0);
  std::uint32_t n = 8;
  m.crypto.CryptDecrypt(key, 0, 1, kCryptOaep, a.data(), &n);
  m.crypto.CryptDecrypt(key, 0, 1, kCryptOaep, b.data(), &n);
  EXPECT_EQ(a, b);
  n = 4;
  m.crypto.CryptDecrypt(key, 0, 0, 0, c.data(), &n);
  m.crypto.CryptDecrypt(key, 0, 1, 0, d.data(), &n);
  c.insert(c.end(), d.begin(), d.end());
  EXPECT_EQ(c, a);
  // A buffer too small for CryptEncrypt is refused.
  n = 8;
  EXPECT_EQ(m.crypto.CryptEncrypt(key, 0, 1, 0, a.data(), &n, 4), 0);
  EXPECT_EQ(m.threads.GetLastError(), kErrorMoreDataCode);
  m.crypto.SetCipherResult(2);
  EXPECT_EQ(m.crypto.CryptDecrypt(key, 0, 1, 0, a.data(), &n), 2);
  m.crypto.CryptDestroyKey(key);
  m.crypto.CryptDestroyHash(hash);
  m.crypto.CryptReleaseContext(prov, 0);
  EXPECT_EQ(m.core.OpenHandleCount(), 0u);
}

TEST(SimCryptoTest, KeyContainerIsCreatedThenFilled) {
  SimMachine m;
  m.crypto.SetKeyStore(SimKeyStore{false, false, false});
  const char16_t* base = u"Microsoft Base Cryptographic Provider v1.0";
  CryptHandle prov = 0, key = 0;
  EXPECT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, base, kProvRsaFull, 0), 0);
  EXPECT_EQ(m.threads.GetLastError(), kNteBadKeyset);
  ASSERT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, base, kProvRsaFull, kCryptNewKeyset), 1);
  EXPECT_EQ(m.crypto.CryptGetUserKey(prov, kAtSignature, &key), 0);
  EXPECT_EQ(m.threads.GetLastError(), kNteNoKey);
  ASSERT_EQ(m.crypto.CryptGenKey(prov, kAtSignature, 0, &key), 1);
  m.crypto.CryptDestroyKey(key);
  EXPECT_EQ(m.crypto.CryptGetUserKey(prov, kAtSignature, &key), 1);
  m.crypto.CryptDestroyKey(key);
  m.crypto.CryptReleaseContext(prov, 0);
  // The container now exists for every provider, and cannot be created twice.
  EXPECT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, nullptr, kProvRsaFull, kCryptNewKeyset),
            0);
  EXPECT_EQ(m.threads.GetLastError(), kNteExists);
  EXPECT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, nullptr, kProvRsaFull, 0), 1);
  m.crypto.CryptReleaseContext(prov, 0);
  EXPECT_EQ(m.crypto.CryptAcquireContextW(&prov, nullptr, u"No Such Provider", kProvRsaFull, 0), 0);
  EXPECT_EQ(m.core.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace platform::sim
