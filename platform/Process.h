// Process information: module lookup and the IsWow64Process routine.
#pragma once

#include "platform/Types.h"

namespace platform {

/// A routine address as GetProcAddress returns it; null when the export is missing.
using ProcAddress = void*;

class Process {
 public:
  virtual ~Process() = default;
  virtual Handle GetModuleHandleW(const char16_t* moduleName) = 0;
  virtual ProcAddress GetProcAddress(Handle module, const char* procName) = 0;
  virtual Handle GetCurrentProcess() = 0;
  /// Calls the IsWow64Process routine found at routine (the platform knows its calling
  /// convention; the caller only has its address).
  virtual Bool CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) = 0;
};

}  // namespace platform
