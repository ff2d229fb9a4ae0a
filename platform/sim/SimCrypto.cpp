// The simulated machine's CryptoAPI, computing MD5 and RC4 with libgcrypt.
#include "platform/sim/SimCrypto.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/Text.h"

namespace platform::sim {

namespace {

constexpr const char16_t* kBaseProvider = u"Microsoft Base Cryptographic Provider v1.0";
constexpr const char16_t* kEnhancedProvider = u"Microsoft Enhanced Cryptographic Provider v1.0";
constexpr const char16_t* kStrongProvider = u"Microsoft Strong Cryptographic Provider";
constexpr std::size_t kBaseSaltBytes = 11;

void InitGcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (gcry_check_version(nullptr) == nullptr) {
      std::fputs("libgcrypt failed to initialise\n", stderr);
      std::abort();
    }
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

std::string Show(const char16_t* text) {
  return text == nullptr ? "(null)" : ToUtf8(text);
}

}  // namespace

SimCrypto::SimCrypto(SimCore& core, SimScheduler& scheduler) : core_(core), scheduler_(scheduler) {
  InitGcrypt();
}

void SimCrypto::SetKeyStore(SimKeyStore store) {
  std::lock_guard lock(core_.Mutex());
  store_ = store;
}

SimKeyStore SimCrypto::KeyStore() const {
  std::lock_guard lock(core_.Mutex());
  return store_;
}

void SimCrypto::SetCipherResult(Bool result) {
  std::lock_guard lock(core_.Mutex());
  cipherResult_ = result;
}

std::array<std::uint8_t, 16> SimCrypto::Md5(const std::uint8_t* data, std::size_t length) {
  InitGcrypt();
  std::array<std::uint8_t, 16> digest{};
  gcry_md_hash_buffer(GCRY_MD_MD5, digest.data(), data, length);
  return digest;
}

void SimCrypto::Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data,
                    std::size_t length) {
  InitGcrypt();
  gcry_cipher_hd_t cipher = nullptr;
  if (gcry_cipher_open(&cipher, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0) != 0 ||
      gcry_cipher_setkey(cipher, key, keyLength) != 0 ||
      gcry_cipher_encrypt(cipher, data, length, nullptr, 0) != 0) {
    std::fputs("libgcrypt: RC4 failed\n", stderr);
    std::abort();
  }
  gcry_cipher_close(cipher);
}

Bool SimCrypto::Fail(SimCall& call, std::uint32_t error) {
  SimCore::SetLastError(error);
  call.Record([&] { return " -> 0 " + HexText(error); });
  return 0;
}

CryptHandle SimCrypto::NewKey(Key key, const char* what) {
  CryptHandle h = core_.OpenHandle(HandleEntry{"cryptkey", what},
                                   [this](Handle closed) { keys_.erase(closed); });
  keys_[h] = std::move(key);
  return h;
}

Bool SimCrypto::CryptAcquireContextW(CryptHandle* provider, const char16_t* container,
                                     const char16_t* providerName, std::uint32_t providerType,
                                     std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCryptAcquireContextW);
  call.Describe([&] {
    return "CryptAcquireContextW " + Show(container) + " " + Show(providerName) + " " +
           std::to_string(providerType) + " " + HexText(flags);
  });
  if (call.failed()) return Fail(call, call.error());
  if (provider == nullptr) return Fail(call, kErrorInvalidParameter);
  if (providerType != kProvRsaFull) return Fail(call, kNteProvTypeNotDef);
  Provider p;
  if (providerName != nullptr) {
    p.base = CompareIgnoringAsciiCase(providerName, kBaseProvider) == 0;
    if (!p.base && CompareIgnoringAsciiCase(providerName, kEnhancedProvider) != 0 &&
        CompareIgnoringAsciiCase(providerName, kStrongProvider) != 0) {
      return Fail(call, kNteKeysetNotDef);
    }
  }
  // Only the default container is modelled.
  if (container != nullptr && container[0] != 0 && flags != kCryptVerifyContext) {
    return Fail(call, kNteBadKeyset);
  }
  switch (flags) {
    case 0:
      if (!store_.containerExists) return Fail(call, kNteBadKeyset);
      break;
    case kCryptNewKeyset:
      if (store_.containerExists) return Fail(call, kNteExists);
      store_ = SimKeyStore{true, false, false, store_.keyGenerationMs};
      break;
    case kCryptVerifyContext:
      p.verify = true;
      break;
    case kCryptDeleteKeyset:
      if (!store_.containerExists) return Fail(call, kNteBadKeyset);
      store_ = SimKeyStore{false, false, false, store_.keyGenerationMs};
      *provider = 0;
      call.Record([&] { return " -> 1 deleted"; });
      return 1;
    default:
      return Fail(call, kNteBadFlags);
  }
  CryptHandle h = core_.OpenHandle(HandleEntry{"cryptprov", Show(providerName)},
                                   [this](Handle closed) { providers_.erase(closed); });
  providers_[h] = p;
  *provider = h;
  call.Record([&] { return " -> 1 " + HandleText(h); });
  return 1;
}

Bool SimCrypto::CryptReleaseContext(CryptHandle provider, std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCryptReleaseContext);
  call.Describe([&] { return "CryptReleaseContext " + HandleText(provider); });
  if (call.failed()) return Fail(call, call.error());
  if (!providers_.contains(provider)) return Fail(call, kNteBadUid);
  if (flags != 0) return Fail(call, kNteBadFlags);
  core_.CloseHandle(provider);
  call.Record([&] { return " -> 1"; });
  return 1;
}

Bool SimCrypto::CryptGetUserKey(CryptHandle provider, std::uint32_t keySpec, CryptHandle* key) {
  SimCall call = core_.Enter(Fault::kCryptGetUserKey);
  call.Describe(
      [&] { return "CryptGetUserKey " + HandleText(provider) + " " + std::to_string(keySpec); });
  if (call.failed()) return Fail(call, call.error());
  auto it = providers_.find(provider);
  if (it == providers_.end()) return Fail(call, kNteBadUid);
  if (key == nullptr) return Fail(call, kErrorInvalidParameter);
  if (keySpec != kAtSignature && keySpec != kAtKeyExchange) return Fail(call, kNteBadKey);
  bool present = !it->second.verify && store_.containerExists &&
                 (keySpec == kAtSignature ? store_.signatureKey : store_.exchangeKey);
  if (!present) return Fail(call, kNteNoKey);
  *key = NewKey(Key{}, "user key pair");
  call.Record([&] { return " -> 1 " + HandleText(*key); });
  return 1;
}

Bool SimCrypto::CryptGenKey(CryptHandle provider, std::uint32_t algorithm, std::uint32_t flags,
                            CryptHandle* key) {
  std::uint32_t takesMs = 0;
  {
    std::lock_guard lock(core_.Mutex());
    takesMs = store_.keyGenerationMs;
  }
  // The pair takes its time outside the machine's lock, as a real key generation would.
  if (takesMs > 0) scheduler_.Sleep(takesMs);
  SimCall call = core_.Enter(Fault::kCryptGenKey);
  call.Describe([&] {
    return "CryptGenKey " + HandleText(provider) + " " + std::to_string(algorithm) + " " +
           HexText(flags);
  });
  if (call.failed()) return Fail(call, call.error());
  auto it = providers_.find(provider);
  if (it == providers_.end()) return Fail(call, kNteBadUid);
  if (key == nullptr) return Fail(call, kErrorInvalidParameter);
  if (algorithm != kAtSignature && algorithm != kAtKeyExchange) return Fail(call, kNteBadAlgid);
  // A verify context has no container to keep the pair in; the key lives only in the handle.
  if (!it->second.verify) {
    (algorithm == kAtSignature ? store_.signatureKey : store_.exchangeKey) = true;
  }
  *key = NewKey(Key{}, "generated key pair");
  call.Record([&] { return " -> 1 " + HandleText(*key); });
  return 1;
}

Bool SimCrypto::CryptDestroyKey(CryptHandle key) {
  SimCall call = core_.Enter(Fault::kCryptDestroyKey);
  call.Describe([&] { return "CryptDestroyKey " + HandleText(key); });
  if (call.failed()) return Fail(call, call.error());
  if (!keys_.contains(key)) return Fail(call, kNteBadKey);
  core_.CloseHandle(key);
  call.Record([&] { return " -> 1"; });
  return 1;
}

Bool SimCrypto::CryptCreateHash(CryptHandle provider, std::uint32_t algorithm, CryptHandle key,
                                std::uint32_t flags, CryptHandle* hash) {
  SimCall call = core_.Enter(Fault::kCryptCreateHash);
  call.Describe([&] {
    return "CryptCreateHash " + HandleText(provider) + " " + HexText(algorithm) + " " +
           HandleText(key) + " " + HexText(flags);
  });
  if (call.failed()) return Fail(call, call.error());
  if (!providers_.contains(provider)) return Fail(call, kNteBadUid);
  if (hash == nullptr) return Fail(call, kErrorInvalidParameter);
  if (algorithm != kCalgMd5) return Fail(call, kNteBadAlgid);
  if (key != 0) return Fail(call, kNteBadKey);
  if (flags != 0) return Fail(call, kNteBadFlags);
  CryptHandle h = core_.OpenHandle(HandleEntry{"crypthash", "md5"},
                                   [this](Handle closed) { hashes_.erase(closed); });
  hashes_[h] = Hash{};
  *hash = h;
  call.Record([&] { return " -> 1 " + HandleText(h); });
  return 1;
}

Bool SimCrypto::CryptHashData(CryptHandle hash, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t flags) {
  SimCall call = core_.Enter(Fault::kCryptHashData);
  call.Describe([&] {
    return "CryptHashData " + HandleText(hash) + " " + std::to_string(length) + " " +
           HexText(flags);
  });
  if (call.failed()) return Fail(call, call.error());
  auto it = hashes_.find(hash);
  if (it == hashes_.end()) return Fail(call, kNteBadHash);
  if (flags != 0) return Fail(call, kNteBadFlags);
  if (it->second.finished) return Fail(call, kNteBadHashState);
  if (data == nullptr && length > 0) return Fail(call, kErrorInvalidParameter);
  if (length > 0) it->second.data.insert(it->second.data.end(), data, data + length);
  call.Record([&] { return " -> 1"; });
  return 1;
}

Bool SimCrypto::CryptDeriveKey(CryptHandle provider, std::uint32_t algorithm, CryptHandle baseData,
                               std::uint32_t flags, CryptHandle* key) {
  SimCall call = core_.Enter(Fault::kCryptDeriveKey);
  call.Describe([&] {
    return "CryptDeriveKey " + HandleText(provider) + " " + HexText(algorithm) + " " +
           HandleText(baseData) + " " + HexText(flags);
  });
  if (call.failed()) return Fail(call, call.error());
  auto p = providers_.find(provider);
  if (p == providers_.end()) return Fail(call, kNteBadUid);
  auto h = hashes_.find(baseData);
  if (h == hashes_.end()) return Fail(call, kNteBadHash);
  if (key == nullptr) return Fail(call, kErrorInvalidParameter);
  if (algorithm != kCalgRc4) return Fail(call, kNteBadAlgid);
  std::uint32_t bits = flags >> 16;
  std::uint32_t maxBits = p->second.base ? 56 : 128;
  if (bits == 0) bits = p->second.base ? 40 : 128;
  if (bits < 40 || bits > maxBits || bits % 8 != 0) return Fail(call, kNteBadFlags);
  std::array<std::uint8_t, 16> digest = Md5(h->second.data.data(), h->second.data.size());
  h->second.finished = true;
  Key k;
  k.symmetric = true;
  k.rc4Key.assign(digest.begin(), digest.begin() + bits / 8);
  // The Base provider pads its short keys with zero salt up to 128 bits.
  if (p->second.base && bits == 40) k.rc4Key.resize(k.rc4Key.size() + kBaseSaltBytes, 0);
  *key = NewKey(std::move(k), "rc4");
  call.Record([&] { return " -> 1 " + HandleText(*key); });
  return 1;
}

Bool SimCrypto::CryptDestroyHash(CryptHandle hash) {
  SimCall call = core_.Enter(Fault::kCryptDestroyHash);
  call.Describe([&] { return "CryptDestroyHash " + HandleText(hash); });
  if (call.failed()) return Fail(call, call.error());
  if (!hashes_.contains(hash)) return Fail(call, kNteBadHash);
  core_.CloseHandle(hash);
  call.Record([&] { return " -> 1"; });
  return 1;
}

Bool SimCrypto::Cipher(Fault fault, CryptHandle key, CryptHandle hash, Bool final,
                       std::uint32_t flags, std::uint8_t* data, std::uint32_t* length,
                       std::uint32_t capacity) {
  SimCall call = core_.Enter(fault);
  call.Describe([&] {
    return std::string(FaultName(fault)) + " " + HandleText(key) + " " + HandleText(hash) + " " +
           std::to_string(final) + " " + HexText(flags) + " " +
           (length == nullptr ? "(null)" : std::to_string(*length));
  });
  if (call.failed()) return Fail(call, call.error());
  auto it = keys_.find(key);
  if (it == keys_.end() || !it->second.symmetric) return Fail(call, kNteBadKey);
  if (hash != 0) return Fail(call, kNteBadHash);
  if ((flags & ~kCryptOaep) != 0) return Fail(call, kNteBadFlags);
  if (length == nullptr || (data == nullptr && *length > 0)) {
    return Fail(call, kErrorInvalidParameter);
  }
  if (*length > capacity) return Fail(call, kErrorMoreDataCode);
  Key& k = it->second;
  // The keystream goes on from where the previous call of this key stopped.
  std::vector<std::uint8_t> stream(k.streamOffset + *length, 0);
  Rc4(k.rc4Key.data(), k.rc4Key.size(), stream.data(), stream.size());
  for (std::uint32_t i = 0; i < *length; ++i) data[i] ^= stream[k.streamOffset + i];
  // A final call leaves the key ready for a new message from the start of the keystream.
  k.streamOffset = final ? 0 : k.streamOffset + *length;
  call.Record([&] { return " -> " + std::to_string(cipherResult_); });
  return cipherResult_;
}

Bool SimCrypto::CryptDecrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                             std::uint8_t* data, std::uint32_t* length) {
  return Cipher(Fault::kCryptDecrypt, key, hash, final, flags, data, length,
                length == nullptr ? 0 : *length);
}

Bool SimCrypto::CryptEncrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                             std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity) {
  return Cipher(Fault::kCryptEncrypt, key, hash, final, flags, data, length, capacity);
}

}  // namespace platform::sim
