// Ownership of CryptoAPI contexts, hashes and keys: released through the installed platform.
#pragma once

#include "platform/Crypto.h"
#include "platform/Platform.h"
#include "platform/UniqueHandle.h"

namespace platform {

struct CryptProviderTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { Current().crypto->CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { Current().crypto->CryptDestroyHash(h); }
};
struct CryptKeyTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { Current().crypto->CryptDestroyKey(h); }
};

/// A context from CryptAcquireContextW, released with CryptReleaseContext.
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;
/// A hash object from CryptCreateHash, destroyed with CryptDestroyHash.
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
/// A key from CryptGetUserKey, CryptGenKey or CryptDeriveKey, destroyed with CryptDestroyKey.
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;

}  // namespace platform
