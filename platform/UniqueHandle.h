// Move-only ownership of platform handles, and the traits of every kind the code owns: what
// marks a failed open and how each kind is released, always through the installed platform.
#pragma once

#include <utility>

#include "platform/Crypto.h"
#include "platform/Devices.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/Threads.h"
#include "platform/Types.h"
#include "platform/Volumes.h"

namespace platform {

/// Traits: static Handle Invalid(); static void Close(Handle). The calling thread's last error
/// is kept across every close here, so that a caller can still read the error of the call that
/// failed after the handles of the earlier calls have gone out of scope.
template <typename Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] bool valid() const { return handle_ != Traits::Invalid(); }
  [[nodiscard]] Handle get() const { return handle_; }
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle h = Traits::Invalid()) {
    Handle old = std::exchange(handle_, h);
    if (old == Traits::Invalid()) return;
    Threads& threads = *Current().threads;
    const std::uint32_t error = threads.GetLastError();
    Traits::Close(old);
    threads.SetLastError(error);
  }

 private:
  Handle handle_ = Traits::Invalid();
};

/// Events, threads, processes and file mappings: null on failure, closed with CloseHandle.
struct KernelHandleTraits {
  static Handle Invalid() { return kNullHandle; }
  static void Close(Handle h) { Current().threads->CloseHandle(h); }
};
/// Files and volumes from CreateFileW: INVALID_HANDLE_VALUE on failure, closed with CloseHandle.
struct FileHandleTraits {
  static Handle Invalid() { return kInvalidHandleValue; }
  static void Close(Handle h) { Current().threads->CloseHandle(h); }
};
/// Volume searches from FindFirstVolumeW, closed with FindVolumeClose.
struct VolumeSearchTraits {
  static Handle Invalid() { return kInvalidHandleValue; }
  static void Close(Handle h) { Current().volumes->FindVolumeClose(h); }
};

/// Registry keys from RegOpenKeyExW and RegCreateKeyExW, closed with RegCloseKey.
struct RegKeyTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle key) { Current().registry->RegCloseKey(key); }
};
/// Device information sets from SetupDiGetClassDevsW, destroyed with
/// SetupDiDestroyDeviceInfoList.
struct DevInfoTraits {
  static Handle Invalid() { return kInvalidHandleValue; }
  static void Close(Handle set) { Current().devices->SetupDiDestroyDeviceInfoList(set); }
};
/// CryptoAPI contexts from CryptAcquireContextW, released with CryptReleaseContext.
struct CryptProviderTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { Current().crypto->CryptReleaseContext(h, 0); }
};
/// Hash objects from CryptCreateHash, destroyed with CryptDestroyHash.
struct CryptHashTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { Current().crypto->CryptDestroyHash(h); }
};
/// Keys from CryptGetUserKey, CryptGenKey or CryptDeriveKey, destroyed with CryptDestroyKey.
struct CryptKeyTraits {
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { Current().crypto->CryptDestroyKey(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueVolumeSearch = UniqueHandle<VolumeSearchTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueDevInfo = UniqueHandle<DevInfoTraits>;
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
using UniqueCryptKey = UniqueHandle<CryptKeyTraits>;

}  // namespace platform
