// The simulated machine's process information.
#include "platform/sim/SimProcess.h"

#include <cstring>
#include <string>

#include "platform/Text.h"

namespace platform::sim {

namespace {

constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;

// The address GetProcAddress hands out for IsWow64Process; only its identity matters.
char isWow64ProcessRoutine = 0;

}  // namespace

void SimProcess::SetIsWow64Process(bool present, bool wow64) {
  std::lock_guard lock(core_.Mutex());
  present_ = present;
  wow64_ = wow64;
}

Handle SimProcess::GetModuleHandleW(const char16_t* moduleName) {
  std::lock_guard lock(core_.Mutex());
  std::string name = moduleName == nullptr ? std::string("(null)") : ToUtf8(moduleName);
  // The loader matches module names without regard to case, with or without ".dll".
  bool kernel32 =
      moduleName != nullptr && (CompareIgnoringAsciiCase(moduleName, u"kernel32") == 0 ||
                                CompareIgnoringAsciiCase(moduleName, u"kernel32.dll") == 0);
  std::uint32_t injected = 0;
  const bool fails = core_.TakeFault("GetModuleHandleW", &injected);
  Handle h = kernel32 && !fails ? kKernel32 : kNullHandle;
  if (h == kNullHandle) SimCore::SetLastError(fails ? injected : kErrorModNotFound);
  core_.Record([&] { return "GetModuleHandleW \"" + name + "\" -> " + HandleText(h); });
  return h;
}

ProcAddress SimProcess::GetProcAddress(Handle module, const char* procName) {
  std::lock_guard lock(core_.Mutex());
  std::string name = procName == nullptr ? std::string("(null)") : std::string(procName);
  ProcAddress routine = nullptr;
  std::uint32_t injected = 0;
  const bool fails = core_.TakeFault("GetProcAddress", &injected);
  // Export names are case-sensitive.
  if (!fails && module == kKernel32 && present_ && procName != nullptr &&
      std::strcmp(procName, "IsWow64Process") == 0) {
    routine = &isWow64ProcessRoutine;
  }
  if (routine == nullptr) SimCore::SetLastError(fails ? injected : kErrorProcNotFound);
  core_.Record([&] {
    return "GetProcAddress " + HandleText(module) + " \"" + name + "\" -> " +
           (routine == nullptr ? "null" : "IsWow64Process");
  });
  return routine;
}

Handle SimProcess::GetCurrentProcess() {
  std::lock_guard lock(core_.Mutex());
  core_.Record([&] { return "GetCurrentProcess -> " + HandleText(kCurrentProcess); });
  return kCurrentProcess;
}

Bool SimProcess::CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) {
  std::lock_guard lock(core_.Mutex());
  std::string what;
  if (core_.Recording()) what = "IsWow64Process " + HandleText(process);
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    core_.Record([&] { return what + " -> 0"; });
    return Bool{0};
  };
  std::uint32_t injected = 0;
  if (core_.TakeFault("IsWow64Process", &injected)) return fail(injected);
  // Calling anything but the exported routine would crash a real process; here it fails.
  if (routine != &isWow64ProcessRoutine || !present_) return fail(kErrorInvalidParameter);
  if (process != kCurrentProcess) return fail(kErrorInvalidHandle);
  if (wow64 == nullptr) return fail(998);  // ERROR_NOACCESS
  *wow64 = wow64_ ? 1 : 0;
  core_.Record([&] { return what + " -> 1 (" + std::to_string(*wow64) + ")"; });
  return 1;
}

}  // namespace platform::sim
