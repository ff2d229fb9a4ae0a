// Ownership of the tool's Windows handles: service handles, kernel objects and mapped views.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/win32/WindowsSupport.h"

namespace tarvelctl::win32 {

/// SC_HANDLE from OpenSCManagerW, OpenServiceW and CreateServiceW (null on failure).
struct ServiceHandleTraits {
  static platform::Handle Invalid() { return platform::kNullHandle; }
  static void Close(platform::Handle h) {
    DWORD error = ::GetLastError();
    ::CloseServiceHandle(reinterpret_cast<SC_HANDLE>(h));
    ::SetLastError(error);
  }
};
using ServiceHandle = platform::UniqueHandle<ServiceHandleTraits>;

/// Processes, events and file mappings (null on failure); closed through the installed
/// platform's CloseHandle.
struct KernelHandleTraits {
  static platform::Handle Invalid() { return platform::kNullHandle; }
  static void Close(platform::Handle h) {
    DWORD error = ::GetLastError();
    platform::Current().threads->CloseHandle(h);
    ::SetLastError(error);
  }
};
using KernelHandle = platform::UniqueHandle<KernelHandleTraits>;

/// Files from CreateFileW (INVALID_HANDLE_VALUE on failure); closed through the installed
/// platform's CloseHandle.
struct FileHandleTraits {
  static platform::Handle Invalid() { return platform::kInvalidHandleValue; }
  static void Close(platform::Handle h) {
    DWORD error = ::GetLastError();
    platform::Current().threads->CloseHandle(h);
    ::SetLastError(error);
  }
};
using FileHandle = platform::UniqueHandle<FileHandleTraits>;

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
