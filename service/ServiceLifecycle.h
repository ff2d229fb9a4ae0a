// The service's life under the Service Control Manager: ServiceMain, status reports, the
// control handler and the stop.
#pragma once

#include <cstdint>

#include "platform/ServiceNames.h"
#include "platform/Types.h"

namespace service {

/// Control codes the handler acts on.
using platform::kControlOpticalLockOff;
using platform::kControlOpticalLockOn;
using platform::kControlRemovableLockOff;
using platform::kControlRemovableLockOn;
using platform::kControlShutdown;
using platform::kControlStop;
using platform::kControlStopService;

/// Check points and wait hints of the reports made while starting and stopping.
inline constexpr std::uint32_t kStartWaitHintMs = 3000;
inline constexpr std::uint32_t kStartSecondWaitHintMs = 1000;
inline constexpr std::uint32_t kStopWaitHintMs = 3000;

/// The service routine, run by the dispatcher on a thread of its own (arguments not used):
/// registers the handler, reports its start, creates the stop event, starts the worker, reports
/// SERVICE_RUNNING and waits for the stop. A failing step logs its line and returns.
void ServiceMain(std::uint32_t argc, char16_t** argv);

/// Reports a status with StatusHandle. Shutdown is the only control announced, and none while
/// starting. A failed report runs StopService, unless it was the SERVICE_STOPPED report itself,
/// so that a SetServiceStatus that keeps failing cannot make the two call each other without
/// end. Returns SetServiceStatus's result.
platform::Bool ReportServiceStatus(std::uint32_t currentState, std::uint32_t win32ExitCode,
                                   std::uint32_t serviceSpecificExitCode, std::uint32_t checkPoint,
                                   std::uint32_t waitHint);

/// The control handler, run on the dispatcher (main) thread: 1, 5 and 255 stop the service;
/// 128 to 131 switch the removable or optical lock, then re-report; any other code re-reports.
/// Before ServiceMain has recorded SERVICE_RUNNING (CurrentState 0) there is no state of the
/// handler's own to re-report, so it reports nothing; ServiceMain's start reports stand.
void ServiceControlHandler(std::uint32_t control);

/// Clears WorkerRunning, signals StopEvent and reports SERVICE_STOPPED; returns that report's
/// result. CurrentState is left as it is.
platform::Bool StopService();

}  // namespace service
