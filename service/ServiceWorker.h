// The worker thread and its hidden notification window, which receives device-change messages.
#pragma once

#include <cstdint>

#include "platform/ServiceNames.h"
#include "platform/Types.h"

namespace service {

using platform::kNotifyWindowClass;

/// Starts the worker thread (ServiceWorkerMain) and stores its handle in WorkerThread.
/// 1 when a thread was started, else 0.
platform::Bool StartWorker();

/// The worker thread: creates the notification window, then polls (1 ms sleeps, PeekMessageW)
/// while WorkerRunning is set. PeekMessageW runs the window procedure for messages sent to the
/// window; what it removes from the posted queue is dropped. Exit code 0.
std::uint32_t ServiceWorkerMain(void* parameter);

/// Registers "MainWndClass" (only when the previous-instance handle is null) and creates the
/// hidden top-level window "Tarvel Service" into NotifyWindow. 1 on success, 0 on failure.
platform::Bool CreateNotifyWindow();

/// The window procedure: hands WM_DEVICECHANGE to the VolumeGuard while either lock is on;
/// everything else goes to DefWindowProcW.
std::intptr_t NotifyWndProc(platform::Handle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam);

}  // namespace service
