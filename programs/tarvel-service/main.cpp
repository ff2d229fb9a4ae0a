// The service executable: installs the real Windows platform and runs the service's entry
// routine on the main thread.
#include "platform/Types.h"
#include "platform/win32/Win32Platform.h"
#include "service/ServiceEntry.h"

namespace {

// The platform is never destroyed: the worker and the poll ticks, which the process's exit
// does not wait for, may still use it while static objects are being destroyed.
union NeverDestroyed {
  NeverDestroyed() : platform() {}
  ~NeverDestroyed() {}
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;
  platform::win32::Win32Platform platform;
};

}  // namespace

// The GUI subsystem's wide entry point, declared without <windows.h>: both instance handles are
// pointers, the command line is a wide string, WINAPI is __stdcall (which x86_64 ignores).
// The command line and the show command are not used.
extern "C" int __stdcall wWinMain(void* instance, void* prevInstance, wchar_t* /*commandLine*/,
                                  int /*showCommand*/) {
  static NeverDestroyed windows;
  windows.platform.Install();
  service::InitialiseProcess();
  return service::EntryRoutine(reinterpret_cast<platform::Handle>(instance),
                               reinterpret_cast<platform::Handle>(prevInstance));
}
