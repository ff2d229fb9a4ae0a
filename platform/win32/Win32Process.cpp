// Process information on real Windows: kernel32's module lookup and IsWow64Process.
#include "platform/win32/Win32Process.h"

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

namespace {
using IsWow64ProcessRoutine = BOOL(WINAPI*)(HANDLE, PBOOL);
}  // namespace

Handle Win32Process::GetModuleHandleW(const char16_t* moduleName) {
  return reinterpret_cast<Handle>(::GetModuleHandleW(W(moduleName)));
}

ProcAddress Win32Process::GetProcAddress(Handle module, const char* procName) {
  return reinterpret_cast<ProcAddress>(
      ::GetProcAddress(reinterpret_cast<HMODULE>(module), procName));
}

Handle Win32Process::GetCurrentProcess() {
  return FromH(::GetCurrentProcess());
}

Bool Win32Process::CallIsWow64Process(ProcAddress routine, Handle process, Bool* wow64) {
  if (routine == nullptr) return FALSE;
  // The routine was found by name; its calling convention is the system's own.
  auto isWow64Process = reinterpret_cast<IsWow64ProcessRoutine>(routine);
  return isWow64Process(H(process), wow64);
}

}  // namespace platform::win32
