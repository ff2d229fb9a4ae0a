// CryptoAPI on real Windows.
#pragma once

#include "platform/Crypto.h"

namespace platform::win32 {

class Win32Crypto final : public Crypto {
 public:
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
};

}  // namespace platform::win32
