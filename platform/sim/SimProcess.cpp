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
  SimCall call = core_.Enter(Fault::kGetModuleHandleW);
  // The loader matches module names without regard to case, with or without ".dll".
  bool kernel32 =
      moduleName != nullptr && (CompareIgnoringAsciiCase(moduleName, u"kernel32") == 0 ||
                                CompareIgnoringAsciiCase(moduleName, u"kernel32.dll") == 0);
  Handle h = kernel32 && !call.failed() ? kKernel32 : kNullHandle;
  if (h == kNullHandle) SimCore::SetLastError(call.failed() ? call.error() : kErrorModNotFound);
  call.Record([&] {
    return "GetModuleHandleW \"" +
           (moduleName == nullptr ? std::string("(null)") : ToUtf8(moduleName)) + "\" -> " +
           HandleText(h);
  });
  return h;
}

ProcAddress SimProcess::GetProcAddress(Handle module, const char* procName) {
  SimCall call = core_.Enter(Fault::kGetProcAddress);
  ProcAddress routine = nullptr;
  // Export names are case-sensitive.
  if (!call.failed() && module == kKernel32 && present_ && procName != nullptr &&
      std::strcmp(procName, "IsWow64Process") == 0) {
    routine = &isWow64ProcessRoutine;
  }
  if (routine == nullptr) SimCore::SetLastError(call.failed() ? call.error() : kErrorProcNotFound);
  call.Record([&] {
    return "GetProcAddress " + HandleText(module) + " \"" +
           (procName == nullptr ? std::string("(null)") : std::string(procName)) + "\" -> " +
           (routine == nullptr ? "null" : "IsWow64Process");
  });
  return routine;
}

Handle SimProcess::GetCurrentProcess() {
  SimCall call = core_.Enter();
  call.Record([] { return "GetCurrentProcess -> " + HandleText(kCurrentProcess); });
  return kCurrentProcess;
}

Bool SimProcess::CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) {
  SimCall call = core_.Enter(Fault::kIsWow64Process);
  call.Describe([&] { return "IsWow64Process " + HandleText(process); });
  auto fail = [&](std::uint32_t error) {
    SimCore::SetLastError(error);
    call.Record([] { return " -> 0"; });
    return Bool{0};
  };
  if (call.failed()) return fail(call.error());
  // Calling anything but the exported routine would crash a real process; here it fails.
  if (routine != &isWow64ProcessRoutine || !present_) return fail(kErrorInvalidParameter);
  if (process != kCurrentProcess) return fail(kErrorInvalidHandle);
  if (wow64 == nullptr) return fail(998);  // ERROR_NOACCESS
  *wow64 = wow64_ ? 1 : 0;
  call.Record([&] { return " -> 1 (" + std::to_string(*wow64) + ")"; });
  return 1;
}

}  // namespace platform::sim
