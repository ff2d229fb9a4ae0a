// The simulated machine's process information: kernel32 and its IsWow64Process export.
#pragma once

#include "platform/Process.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// One process with kernel32 loaded. Whether kernel32 exports IsWow64Process, and what the
/// routine answers, is set by the test: absent (a system older than the routine), present and
/// false (native), present and true (a 32-bit process on 64-bit Windows).
class SimProcess final : public Process {
 public:
  explicit SimProcess(SimCore& core) : core_(core) {}

  /// Present and answering false unless set otherwise.
  void SetIsWow64Process(bool present, bool wow64 = false);

  Handle GetModuleHandleW(const char16_t* moduleName) override;
  ProcAddress GetProcAddress(Handle module, const char* procName) override;
  Handle GetCurrentProcess() override;
  Bool CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) override;

  /// The module handle that GetModuleHandleW gives for kernel32.
  static constexpr Handle kKernel32 = 0x77000000;
  /// The pseudo handle of the current process, as Win32 defines it.
  static constexpr Handle kCurrentProcess = ~Handle{0};

 private:
  SimCore& core_;
  bool present_ = true;
  bool wow64_ = false;
};

}  // namespace platform::sim
