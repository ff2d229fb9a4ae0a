// The system directory rule and WOW64 detection.
#include "platform/SystemDir.h"

#include <algorithm>
#include <iterator>

#include "platform/Platform.h"

namespace platform {

ProcAddress IsWow64ProcessPtr = nullptr;
Bool IsWow64 = 0;

void ResetProcessState() {
  IsWow64 = 0;
}

void ResolveIsWow64ProcessPtr() {
  Process& process = *Current().process;
  IsWow64ProcessPtr =
      process.GetProcAddress(process.GetModuleHandleW(u"kernel32"), "IsWow64Process");
}

void DetectWow64() {
  IsWow64 = 0;
  if (IsWow64ProcessPtr == nullptr) return;
  Process& process = *Current().process;
  process.CallIsWow64Process(IsWow64ProcessPtr, process.GetCurrentProcess(), &IsWow64);
}

void SystemDirPath(char16_t (&path)[kMaxPath]) {
  Files& files = *Current().files;
  std::fill(std::begin(path), std::end(path), char16_t{0});
  files.SHGetSpecialFolderPathW(kNullHandle, path, kCsidlSystem, 0);
  if (IsWow64 != 0) {
    // A 32-bit process under WOW64 keeps its files beside the 64-bit system folder, in the
    // Windows directory's SysWOW64.
    files.PathRemoveFileSpecW(path);
    files.PathAddBackslashW(path);
    files.PathAppendW(path, u"SysWOW64");
  }
  files.PathAddBackslashW(path);
}

}  // namespace platform
