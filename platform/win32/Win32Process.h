// Process information on real Windows.
#pragma once

#include "platform/Process.h"

namespace platform::win32 {

class Win32Process final : public Process {
 public:
  Handle GetModuleHandleW(const char16_t* moduleName) override;
  ProcAddress GetProcAddress(Handle module, const char* procName) override;
  Handle GetCurrentProcess() override;
  Bool CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) override;
};

}  // namespace platform::win32
