// The system directory rule and WOW64 detection.
#include "service/SystemDir.h"

#include <algorithm>
#include <iterator>

#include "platform/Platform.h"

namespace service {

platform::ProcAddress IsWow64ProcessPtr = nullptr;
platform::Bool IsWow64 = 0;

void ResolveIsWow64ProcessPtr() {
  platform::Process& process = *platform::Current().process;
  IsWow64ProcessPtr =
      process.GetProcAddress(process.GetModuleHandleW(u"kernel32"), "IsWow64Process");
}

void DetectWow64() {
  IsWow64 = 0;
  if (IsWow64ProcessPtr == nullptr) return;
  platform::Process& process = *platform::Current().process;
  process.CallIsWow64Process(IsWow64ProcessPtr, process.GetCurrentProcess(), &IsWow64);
}

void SystemDirPath(char16_t (&path)[platform::kMaxPath]) {
  platform::Files& files = *platform::Current().files;
  std::fill(std::begin(path), std::end(path), char16_t{0});
  files.SHGetSpecialFolderPathW(platform::kNullHandle, path, platform::kCsidlSystem, 0);
  if (IsWow64 != 0) {
    // A 32-bit process under WOW64 keeps its files beside the 64-bit system folder, in the
    // Windows directory's SysWOW64.
    files.PathRemoveFileSpecW(path);
    files.PathAddBackslashW(path);
    files.PathAppendW(path, u"SysWOW64");
  }
  files.PathAddBackslashW(path);
}

}  // namespace service
