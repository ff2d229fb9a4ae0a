// The service's life under the Service Control Manager.
#include "service/ServiceLifecycle.h"

#include "guard/VolumeGuard.h"
#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/ServiceControl.h"
#include "platform/Threads.h"
#include "service/ServiceState.h"
#include "service/ServiceWorker.h"

namespace service {

using platform::kNullHandle;

namespace {

platform::Threads& Threads() {
  return *platform::Current().threads;
}

void StopSequence() {
  CurrentState = platform::kServiceStopPending;
  ReportServiceStatus(platform::kServiceStopPending, 0, 0, 1, kStopWaitHintMs);
  // Whatever the report's outcome; when it failed, StopService has already run once.
  StopService();
}

void ReReport() {
  const std::uint32_t state = CurrentState;
  if (state == 0) return;
  ReportServiceStatus(state, 0, 0, 0, 0);
}

}  // namespace

void ServiceMain(std::uint32_t /*argc*/, char16_t** /*argv*/) {
  StatusHandle =
      platform::Current().service->RegisterServiceCtrlHandlerW(kServiceName, ServiceControlHandler);
  if (StatusHandle == kNullHandle) {
    platform::LogA("\n(VexService) RegisterServiceCtrlHandler Fail!!");
    return;
  }
  if (ReportServiceStatus(platform::kServiceStartPending, 0, 0, 1, kStartWaitHintMs) == 0) {
    platform::LogA("\n(VexService) UpdateServiceStatus Fail_1!!");
    return;
  }
  StopEvent = Threads().CreateEventW(true, false);
  if (StopEvent == kNullHandle) {
    platform::LogA("\n(VexService) Create Kill Event Fail!!");
    return;
  }
  if (ReportServiceStatus(platform::kServiceStartPending, 0, 0, 2, kStartSecondWaitHintMs) == 0) {
    platform::LogA("\n(VexService) UpdateServiceStatus Fail_2!!");
    return;
  }
  if (StartWorker() == 0) {
    platform::LogA("\n(VexService) StartServiceThread Fail!!");
    return;
  }
  CurrentState = platform::kServiceRunning;
  if (ReportServiceStatus(platform::kServiceRunning, 0, 0, 0, 0) == 0) {
    platform::LogA("\n(VexService) UpdateServiceStatus Fail_3!!");
    return;
  }

  platform::LogA("\n(VexService) Start Wait");
  Threads().WaitForSingleObject(StopEvent, platform::kInfinite);

  // The worker is not waited for: it leaves its loop at its next check of WorkerRunning.
  if (platform::Handle worker = WorkerThread.exchange(kNullHandle); worker != kNullHandle) {
    Threads().CloseHandle(worker);
  }
  // The line says the stop event was closed, so it is written only when the close succeeded.
  if (platform::Handle stop = StopEvent.exchange(kNullHandle); stop != kNullHandle) {
    if (Threads().CloseHandle(stop) != 0) platform::LogA("\n(VexService) Close Handle");
  }
  Threads().Sleep(1);
  platform::LogA("\n(VexService) Finish Service");
}

platform::Bool ReportServiceStatus(std::uint32_t currentState, std::uint32_t win32ExitCode,
                                   std::uint32_t serviceSpecificExitCode, std::uint32_t checkPoint,
                                   std::uint32_t waitHint) {
  platform::ServiceStatus status{};
  status.dwServiceType = platform::kServiceWin32OwnProcess;
  status.dwCurrentState = currentState;
  status.dwControlsAccepted =
      currentState == platform::kServiceStartPending ? 0 : platform::kServiceAcceptShutdown;
  status.dwWin32ExitCode =
      serviceSpecificExitCode != 0 ? platform::kErrorServiceSpecificError : win32ExitCode;
  status.dwServiceSpecificExitCode = serviceSpecificExitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  const platform::Bool ok = platform::Current().service->SetServiceStatus(StatusHandle, &status);
  // A failed report stops the service; a failed stopped report is where that chain ends.
  if (ok == 0 && currentState != platform::kServiceStopped) StopService();
  return ok;
}

void ServiceControlHandler(std::uint32_t control) {
  guard::VolumeGuard& guard = guard::TheVolumeGuard();
  switch (control) {
    case kControlStop:
    case kControlShutdown:
    case kControlStopService:
      StopSequence();
      return;
    case kControlRemovableLockOn:
      guard.SetRemovableLock(true);
      break;
    case kControlRemovableLockOff:
      guard.SetRemovableLock(false);
      break;
    case kControlOpticalLockOn:
      guard.SetOpticalLock(true);
      break;
    case kControlOpticalLockOff:
      guard.SetOpticalLock(false);
      break;
    default:
      break;
  }
  ReReport();
}

platform::Bool StopService() {
  WorkerRunning = 0;
  // Fails without effect while the event does not exist yet (a stop before it was created).
  // Once signalled it is not signalled again: a repeated stop (after a failed stop-pending
  // report) could otherwise reach the handle just after ServiceMain closed it, when its value
  // may already name another object.
  if (!StopSignalled.load() && Threads().SetEvent(StopEvent) != 0) StopSignalled = true;
  return ReportServiceStatus(platform::kServiceStopped, 0, 0, 0, 0);
}

}  // namespace service
