// The real service-control and windowing layers under Wine: the dispatcher outside the Service
// Control Manager, the notification window, sent messages run inside PeekMessageW, posted ones
// removed without reaching the window procedure.
#include <atomic>
#include <thread>
#include <vector>

#include "platform/ServiceControl.h"
#include "platform/Windowing.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WindowsSupport.h"
#include "service/ServiceState.h"
#include "service/ServiceWorker.h"
#include "tests/wine/WineCheck.h"

using winecheck::Check;
using winecheck::CheckEq;

namespace {

std::atomic<int> procCalls{0};
std::atomic<std::uint32_t> lastMessage{0};
std::atomic<std::uintptr_t> lastUnitMask{0};

std::intptr_t RecordingProc(platform::Handle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
  ++procCalls;
  lastMessage = message;
  if (message == platform::kWmDeviceChange && lParam != 0) {
    lastUnitMask = reinterpret_cast<const platform::DevBroadcastVolume*>(lParam)->dbcv_unitmask;
    return 1;
  }
  return platform::Current().windowing->DefWindowProcW(window, message, wParam, lParam);
}

void ServiceMainNeverRun(std::uint32_t, char16_t**) {}

}  // namespace

int main() {
  platform::win32::Win32Platform real;
  real.Install();
  platform::Windowing& windowing = *real.platform().windowing;

  // Not started by the Service Control Manager: the dispatcher fails at once with 1063.
  platform::ServiceTableEntry table[] = {{u"Tarvel Service", ServiceMainNeverRun},
                                         {nullptr, nullptr}};
  CheckEq(real.service.StartServiceCtrlDispatcherW(table), 0, "dispatcher fails outside the SCM");
  CheckEq(real.threads.GetLastError(), 1063, "with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT");

  // A window station of its own, as a service has: Wine creates hidden windows there without a
  // display driver (in WinSta0 it would need one).
  HWINSTA station = ::CreateWindowStationW(L"TarvelCheck", 0, GENERIC_ALL, nullptr);
  Check(station != nullptr && ::SetProcessWindowStation(station) != FALSE,
        "a window station of its own");
  HDESK desktop = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  Check(desktop != nullptr && ::SetThreadDesktop(desktop) != FALSE, "and a desktop in it");

  // The service's own window, found by class and title.
  service::InstanceHandle = reinterpret_cast<platform::Handle>(::GetModuleHandleW(nullptr));
  CheckEq(service::CreateNotifyWindow(), 1, "CreateNotifyWindow succeeds");
  HWND found = ::FindWindowW(L"MainWndClass", L"Tarvel Service");
  Check(found != nullptr && reinterpret_cast<platform::Handle>(found) == service::NotifyWindow,
        "the hidden window is found by class and title");
  Check(found != nullptr && !::IsWindowVisible(found), "and it is not visible");

  // A window of a recording procedure for the message rules.
  platform::WndClass wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.hInstance = service::InstanceHandle;
  wc.lpszClassName = u"TarvelCheckClass";
  Check(windowing.RegisterClassW(&wc) != 0, "RegisterClassW through the trampoline");
  platform::Handle window = windowing.CreateWindowExW(
      0, u"TarvelCheckClass", u"check", platform::kWsOverlappedWindow, platform::kCwUseDefault,
      platform::kCwUseDefault, platform::kCwUseDefault, platform::kCwUseDefault, 0, 0,
      service::InstanceHandle, nullptr);
  Check(window != 0, "CreateWindowExW");
  Check(procCalls > 0, "creation messages reach the procedure");
  HWND hwnd = reinterpret_cast<HWND>(window);

  // Posted messages are removed and returned, never dispatched; the window stays.
  procCalls = 0;
  ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
  ::PostMessageW(hwnd, WM_USER + 1, 0, 0);
  std::vector<std::uint32_t> removed;
  platform::Msg msg{};
  while (windowing.PeekMessageW(&msg, window, 0, 0, platform::kPmRemove) != 0) {
    removed.push_back(msg.message);
  }
  Check(removed == std::vector<std::uint32_t>{WM_CLOSE, WM_USER + 1},
        "PeekMessageW removes the posted messages in order");
  CheckEq(procCalls, 0, "posted messages never reach the procedure");
  Check(::IsWindow(hwnd) != FALSE, "the window is not closed");

  // A message sent from another thread runs inside this thread's PeekMessageW.
  procCalls = 0;
  std::atomic<LRESULT> result{-1};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    platform::DevBroadcastVolume volume{sizeof volume, platform::kDbtDevtypVolume, 0, 1u << 4, 0};
    result = ::SendMessageW(hwnd, WM_DEVICECHANGE, platform::kDbtDeviceArrival,
                            reinterpret_cast<LPARAM>(&volume));
    done = true;
  });
  ::Sleep(200);
  CheckEq(procCalls, 0, "a sent message waits for the owner's PeekMessageW");
  for (int i = 0; i < 2000 && !done; ++i) {
    ::Sleep(1);
    windowing.PeekMessageW(&msg, window, 0, 0, platform::kPmRemove);
  }
  sender.join();
  CheckEq(procCalls, 1, "PeekMessageW runs the procedure for the sent message");
  CheckEq(lastMessage, WM_DEVICECHANGE, "with WM_DEVICECHANGE");
  CheckEq(static_cast<long long>(lastUnitMask), 1 << 4, "and the broadcast's unit mask");
  CheckEq(result, 1, "the procedure's result goes back to the sender");
  return winecheck::Finish();
}
