// The simulated machine's CryptoAPI: the account's key container and an MD5/RC4 provider.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/Crypto.h"
#include "platform/sim/SimCore.h"
#include "platform/sim/SimScheduler.h"

namespace platform::sim {

/// The account's default key container.
struct SimKeyStore {
  bool containerExists = true;
  bool signatureKey = true;  ///< an AT_SIGNATURE key pair is stored
  bool exchangeKey = false;  ///< an AT_KEYEXCHANGE key pair is stored
  /// Virtual milliseconds that CryptGenKey takes to make a pair (a slow first start-up).
  std::uint32_t keyGenerationMs = 0;
};

/// The RSA-full providers as Windows (and Wine) behave for this system: one default key
/// container shared by every provider; opening it with flags 0 fails with NTE_BAD_KEYSET until
/// CRYPT_NEWKEYSET creates it; CryptGetUserKey fails with NTE_NO_KEY until CryptGenKey makes
/// the pair. Hashes are MD5 and derived keys RC4, computed with libgcrypt. The default
/// provider (no name) and the Enhanced and Strong ones derive 128-bit RC4 keys (the 16 digest
/// bytes); the Base provider derives 40-bit keys followed by 11 zero salt bytes. Handles are
/// entries of the core's handle table (kinds "cryptprov", "cryptkey", "crypthash"), so leaks
/// show there.
class SimCrypto final : public Crypto {
 public:
  SimCrypto(SimCore& core, SimScheduler& scheduler);

  void SetKeyStore(SimKeyStore store);
  [[nodiscard]] SimKeyStore KeyStore() const;
  /// What a successful CryptDecrypt or CryptEncrypt returns (1 unless a test changes it).
  void SetCipherResult(Bool result);

  /// MD5 (RFC 1321) of the bytes.
  static std::array<std::uint8_t, 16> Md5(const std::uint8_t* data, std::size_t length);
  /// RC4 over the bytes in place, from the start of the key's keystream.
  static void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data,
                  std::size_t length);

  Bool CryptAcquireContextW(CryptHandle* provider, const char16_t* container,
                            const char16_t* providerName, std::uint32_t providerType,
                            std::uint32_t flags) override;
  Bool CryptReleaseContext(CryptHandle provider, std::uint32_t flags) override;
  Bool CryptGetUserKey(CryptHandle provider, std::uint32_t keySpec, CryptHandle* key) override;
  Bool CryptGenKey(CryptHandle provider, std::uint32_t algorithm, std::uint32_t flags,
                   CryptHandle* key) override;
  Bool CryptDestroyKey(CryptHandle key) override;
  Bool CryptCreateHash(CryptHandle provider, std::uint32_t algorithm, CryptHandle key,
                       std::uint32_t flags, CryptHandle* hash) override;
  Bool CryptHashData(CryptHandle hash, const std::uint8_t* data, std::uint32_t length,
                     std::uint32_t flags) override;
  Bool CryptDeriveKey(CryptHandle provider, std::uint32_t algorithm, CryptHandle baseData,
                      std::uint32_t flags, CryptHandle* key) override;
  Bool CryptDestroyHash(CryptHandle hash) override;
  Bool CryptDecrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                    std::uint8_t* data, std::uint32_t* length) override;
  Bool CryptEncrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                    std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity) override;

 private:
  struct Provider {
    bool base = false;    ///< the Base provider: 40-bit salted RC4 keys
    bool verify = false;  ///< CRYPT_VERIFYCONTEXT: no container
  };
  struct Hash {
    std::vector<std::uint8_t> data;
    bool finished = false;  ///< a key was derived from it; no more data may be added
  };
  struct Key {
    bool symmetric = false;  ///< a derived RC4 key, as opposed to a key pair
    std::vector<std::uint8_t> rc4Key;
    std::uint64_t streamOffset = 0;  ///< keystream bytes used since the last final call
  };

  /// Journals the call's failure and sets the last error.
  static Bool Fail(SimCall& call, std::uint32_t error);
  /// CryptDecrypt and CryptEncrypt, journalled and failed under the fault point's name.
  Bool Cipher(Fault fault, CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
              std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity);
  CryptHandle NewKey(Key key, const char* what);

  SimCore& core_;
  SimScheduler& scheduler_;
  SimKeyStore store_;
  Bool cipherResult_ = 1;
  std::map<CryptHandle, Provider> providers_;
  std::map<CryptHandle, Hash> hashes_;
  std::map<CryptHandle, Key> keys_;
};

}  // namespace platform::sim
