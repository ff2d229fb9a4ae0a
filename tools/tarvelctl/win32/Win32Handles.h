// Ownership of the tool's service handles and LocalAlloc memory; every other kind is in
// platform/UniqueHandle.h.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/win32/WindowsSupport.h"

namespace tarvelctl::win32 {

/// SC_HANDLE from OpenSCManagerW, OpenServiceW and CreateServiceW (null on failure): the one
/// kind that the platform seam does not carry, so its traits live with the tool's Win32 code.
struct ServiceHandleTraits {
  static platform::Handle Invalid() { return platform::kNullHandle; }
  static void Close(platform::Handle h) { ::CloseServiceHandle(reinterpret_cast<SC_HANDLE>(h)); }
};
using ServiceHandle = platform::UniqueHandle<ServiceHandleTraits>;

/// Memory that a Win32 call allocated with LocalAlloc (security descriptors, SDDL text).
struct LocalFreeDeleter {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

inline SC_HANDLE Sc(const ServiceHandle& h) {
  return reinterpret_cast<SC_HANDLE>(h.get());
}
inline platform::Handle FromSc(SC_HANDLE h) {
  return reinterpret_cast<platform::Handle>(h);
}

/// FormatMessageW's text for a Win32 error code, UTF-8, without its line end.
std::string WindowsErrorText(DWORD code);

}  // namespace tarvelctl::win32
