// CryptoAPI: key containers, the passphrase hash, the derived RC4 key and its cipher.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

/// HCRYPTPROV, HCRYPTKEY and HCRYPTHASH: pointer-sized, 0 is none.
using CryptHandle = std::uintptr_t;

inline constexpr std::uint32_t kProvRsaFull = 1;
inline constexpr std::uint32_t kCryptNewKeyset = 0x8;
inline constexpr std::uint32_t kCryptDeleteKeyset = 0x10;
inline constexpr std::uint32_t kCryptVerifyContext = 0xF0000000u;
inline constexpr std::uint32_t kAtKeyExchange = 1;
inline constexpr std::uint32_t kAtSignature = 2;
inline constexpr std::uint32_t kCalgMd5 = 0x8003;
inline constexpr std::uint32_t kCalgRc4 = 0x6801;
inline constexpr std::uint32_t kCryptExportable = 0x1;
inline constexpr std::uint32_t kCryptOaep = 0x40;

inline constexpr std::uint32_t kNteBadUid = 0x80090001u;
inline constexpr std::uint32_t kNteBadHash = 0x80090002u;
inline constexpr std::uint32_t kNteBadKey = 0x80090003u;
inline constexpr std::uint32_t kNteBadAlgid = 0x80090008u;
inline constexpr std::uint32_t kNteBadFlags = 0x80090009u;
inline constexpr std::uint32_t kNteBadHashState = 0x8009000Bu;
inline constexpr std::uint32_t kNteNoKey = 0x8009000Du;
inline constexpr std::uint32_t kNteNoMemory = 0x8009000Eu;
inline constexpr std::uint32_t kNteExists = 0x8009000Fu;
inline constexpr std::uint32_t kNteBadKeyset = 0x80090016u;
inline constexpr std::uint32_t kNteProvTypeNotDef = 0x80090017u;
inline constexpr std::uint32_t kNteKeysetNotDef = 0x80090019u;

/// The advapi32 CryptoAPI calls of the policy decryption (and of the tool that encrypts).
/// Failures set the calling thread's last error, read through Threads::GetLastError.
class Crypto {
 public:
  virtual ~Crypto() = default;
  /// CryptAcquireContextW; container and providerName may be null (the defaults).
  virtual Bool CryptAcquireContextW(CryptHandle* provider, const char16_t* container,
                                    const char16_t* providerName, std::uint32_t providerType,
                                    std::uint32_t flags) = 0;
  virtual Bool CryptReleaseContext(CryptHandle provider, std::uint32_t flags) = 0;
  /// CryptGetUserKey: the container's key pair of that kind (AT_SIGNATURE, AT_KEYEXCHANGE).
  virtual Bool CryptGetUserKey(CryptHandle provider, std::uint32_t keySpec, CryptHandle* key) = 0;
  virtual Bool CryptGenKey(CryptHandle provider, std::uint32_t algorithm, std::uint32_t flags,
                           CryptHandle* key) = 0;
  virtual Bool CryptDestroyKey(CryptHandle key) = 0;
  virtual Bool CryptCreateHash(CryptHandle provider, std::uint32_t algorithm, CryptHandle key,
                               std::uint32_t flags, CryptHandle* hash) = 0;
  virtual Bool CryptHashData(CryptHandle hash, const std::uint8_t* data, std::uint32_t length,
                             std::uint32_t flags) = 0;
  /// CryptDeriveKey; the upper 16 bits of flags are the key length in bits (0: the default).
  virtual Bool CryptDeriveKey(CryptHandle provider, std::uint32_t algorithm, CryptHandle baseData,
                              std::uint32_t flags, CryptHandle* key) = 0;
  virtual Bool CryptDestroyHash(CryptHandle hash) = 0;
  /// Decrypts *length bytes of data in place.
  virtual Bool CryptDecrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                            std::uint8_t* data, std::uint32_t* length) = 0;
  /// Encrypts *length bytes of data in place (capacity bytes of room); used by the policy tool.
  virtual Bool CryptEncrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                            std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity) = 0;
};

}  // namespace platform
