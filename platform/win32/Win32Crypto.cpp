// CryptoAPI on real Windows: thin calls of advapi32.
#include "platform/win32/Win32Crypto.h"

#include "platform/win32/WindowsSupport.h"

// WindowsSupport.h keeps windows.h lean, which leaves the CryptoAPI out.
#include <wincrypt.h>

namespace platform::win32 {

namespace {
static_assert(sizeof(HCRYPTPROV) == sizeof(CryptHandle), "crypt handles are pointer-sized");
}  // namespace

Bool Win32Crypto::CryptAcquireContextW(CryptHandle* provider, const char16_t* container,
                                       const char16_t* providerName, std::uint32_t providerType,
                                       std::uint32_t flags) {
  HCRYPTPROV h = 0;
  BOOL ok = ::CryptAcquireContextW(&h, W(container), W(providerName), providerType, flags);
  if (provider != nullptr) *provider = h;
  return ok;
}

Bool Win32Crypto::CryptReleaseContext(CryptHandle provider, std::uint32_t flags) {
  return ::CryptReleaseContext(provider, flags);
}

Bool Win32Crypto::CryptGetUserKey(CryptHandle provider, std::uint32_t keySpec, CryptHandle* key) {
  HCRYPTKEY h = 0;
  BOOL ok = ::CryptGetUserKey(provider, keySpec, &h);
  if (key != nullptr) *key = h;
  return ok;
}

Bool Win32Crypto::CryptGenKey(CryptHandle provider, std::uint32_t algorithm, std::uint32_t flags,
                              CryptHandle* key) {
  HCRYPTKEY h = 0;
  BOOL ok = ::CryptGenKey(provider, algorithm, flags, &h);
  if (key != nullptr) *key = h;
  return ok;
}

Bool Win32Crypto::CryptDestroyKey(CryptHandle key) {
  return ::CryptDestroyKey(key);
}

Bool Win32Crypto::CryptCreateHash(CryptHandle provider, std::uint32_t algorithm, CryptHandle key,
                                  std::uint32_t flags, CryptHandle* hash) {
  HCRYPTHASH h = 0;
  BOOL ok = ::CryptCreateHash(provider, algorithm, key, flags, &h);
  if (hash != nullptr) *hash = h;
  return ok;
}

Bool Win32Crypto::CryptHashData(CryptHandle hash, const std::uint8_t* data, std::uint32_t length,
                                std::uint32_t flags) {
  return ::CryptHashData(hash, data, length, flags);
}

Bool Win32Crypto::CryptDeriveKey(CryptHandle provider, std::uint32_t algorithm,
                                 CryptHandle baseData, std::uint32_t flags, CryptHandle* key) {
  HCRYPTKEY h = 0;
  BOOL ok = ::CryptDeriveKey(provider, algorithm, baseData, flags, &h);
  if (key != nullptr) *key = h;
  return ok;
}

Bool Win32Crypto::CryptDestroyHash(CryptHandle hash) {
  return ::CryptDestroyHash(hash);
}

Bool Win32Crypto::CryptDecrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                               std::uint8_t* data, std::uint32_t* length) {
  DWORD len = length != nullptr ? *length : 0;
  BOOL ok = ::CryptDecrypt(key, hash, final, flags, data, &len);
  if (length != nullptr) *length = len;
  return ok;
}

Bool Win32Crypto::CryptEncrypt(CryptHandle key, CryptHandle hash, Bool final, std::uint32_t flags,
                               std::uint8_t* data, std::uint32_t* length, std::uint32_t capacity) {
  DWORD len = length != nullptr ? *length : 0;
  BOOL ok = ::CryptEncrypt(key, hash, final, flags, data, &len, capacity);
  if (length != nullptr) *length = len;
  return ok;
}

}  // namespace platform::win32
