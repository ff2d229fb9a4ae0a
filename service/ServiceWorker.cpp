// The worker thread and its hidden notification window.
#include "service/ServiceWorker.h"

#include "guard/VolumeGuard.h"
#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/Windowing.h"
#include "service/ServiceState.h"

namespace service {

using platform::kNullHandle;

namespace {

platform::Windowing& Windowing() {
  return *platform::Current().windowing;
}

}  // namespace

platform::Bool StartWorker() {
  platform::Handle h = platform::Current().threads->CreateThread(ServiceWorkerMain, nullptr);
  WorkerThread = h;
  return h != kNullHandle && h != platform::kInvalidHandleValue ? 1 : 0;
}

std::uint32_t ServiceWorkerMain(void* /*parameter*/) {
  platform::LogA("\n(VexService) Start ServiceExecution...");
  // Without a window the loop still runs, until the stop; no device change is seen then.
  CreateNotifyWindow();

  platform::Threads& threads = *platform::Current().threads;
  platform::Msg message{};
  // The loop never waits for messages: each PeekMessageW, after a 1 ms sleep, is where the
  // system delivers messages sent to the window. Posted messages are taken off and dropped,
  // one per sleep, and the run flag is checked after each, so a stop ends the loop within two
  // sleeps however many messages keep arriving.
  while (WorkerRunning != 0) {
    threads.Sleep(1);
    while (Windowing().PeekMessageW(&message, NotifyWindow, 0, 0, platform::kPmRemove) != 0) {
      if (WorkerRunning == 0) break;
      threads.Sleep(1);
    }
  }
  platform::LogA("\n(VexService) Finish ServiceExecution");
  return 0;
}

platform::Bool CreateNotifyWindow() {
  platform::Windowing& windowing = Windowing();
  const platform::Handle instance = InstanceHandle;
  if (PrevInstanceHandle == kNullHandle) {
    platform::WndClass wc{};
    wc.style = 0;
    wc.lpfnWndProc = NotifyWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = windowing.LoadIconW(kNullHandle, platform::kIdiApplication);
    wc.hCursor = windowing.LoadCursorW(kNullHandle, platform::kIdcArrow);
    wc.hbrBackground = windowing.GetStockObject(platform::kWhiteBrush);
    wc.lpszMenuName = u"MainMenu";
    wc.lpszClassName = kNotifyWindowClass;
    if (windowing.RegisterClassW(&wc) == 0) {
      platform::LogA("\n(VexService) Fail to create WNDCLASS");
      return 0;
    }
  }
  NotifyWindow = windowing.CreateWindowExW(
      0, kNotifyWindowClass, kServiceName, platform::kWsOverlappedWindow, platform::kCwUseDefault,
      platform::kCwUseDefault, platform::kCwUseDefault, platform::kCwUseDefault, kNullHandle,
      kNullHandle, instance, nullptr);
  if (NotifyWindow == kNullHandle) {
    platform::LogA("\n(VexService) Fail to create WndClass");
    return 0;
  }
  windowing.ShowWindow(NotifyWindow, platform::kSwHide);
  platform::LogA("\n(VexService) before call settimer");
  platform::LogA("\n(VexService) Success create console window");
  return 1;
}

std::intptr_t NotifyWndProc(platform::Handle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) {
  platform::LogW(u"WndProc WndProc WndProc WndProc");
  if (message == platform::kWmDeviceChange &&
      (guard::VolumeGuard::RemovableLock == 1 || guard::VolumeGuard::OpticalLock == 1)) {
    platform::LogW(u"\n(VexService) Get Device change in WndProc");
    // lParam carries the broadcast's address.
    return guard::TheVolumeGuard().OnDeviceChange(
        static_cast<std::uint32_t>(wParam),
        reinterpret_cast<const void*>(lParam));  // NOLINT(performance-no-int-to-ptr)
  }
  if (message == platform::kWmTimer) platform::LogW(u"timer timer");
  return Windowing().DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace service
