// The service host's process-wide state: the service table, the handles given at entry, the
// status handle and state, the stop event, the worker's run flag and the notification window.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ServiceControl.h"
#include "platform/ServiceNames.h"
#include "platform/Types.h"

namespace service {

using platform::kServiceName;

/// Entry 0: "Tarvel Service" and ServiceMain; entry 1: the terminator. Filled by
/// InitialiseProcess before the entry routine runs.
extern platform::ServiceTableEntry ServiceTable[2];

// Every variable below is read and written by more than one thread (the main thread, the
// service main thread, the worker), so each is atomic; no lock guards them.

/// The module handle given at entry; the window class and the window use it.
extern std::atomic<platform::Handle> InstanceHandle;
/// The previous-instance handle given at entry; the window class is registered only when null.
extern std::atomic<platform::Handle> PrevInstanceHandle;
/// RegisterServiceCtrlHandlerW's result; every status report uses it.
extern std::atomic<platform::Handle> StatusHandle;
/// The state the control handler re-reports: 0 until ServiceMain records SERVICE_RUNNING,
/// SERVICE_STOP_PENDING once a stop code arrives.
extern std::atomic<std::uint32_t> CurrentState;
/// Manual-reset event that hands a stop from the handler to ServiceMain; null until created.
extern std::atomic<platform::Handle> StopEvent;
/// Run flag of the worker loop: 1 until StopService clears it, never set again.
extern std::atomic<std::uint32_t> WorkerRunning;
/// Set once StopService has signalled StopEvent; later stops do not signal it again.
extern std::atomic<bool> StopSignalled;
/// The worker thread's handle, closed (not waited on) by ServiceMain after the stop.
extern std::atomic<platform::Handle> WorkerThread;
/// The hidden notification window; stays null when it could not be created.
extern std::atomic<platform::Handle> NotifyWindow;

/// Puts every variable above back to its initial value.
void ResetProcessState();

/// Connects what a lower layer calls through a hook: the guard's release of the removable lock
/// runs the portable-device switch. Part of InitialiseProcess.
void ConnectSubsystems();

/// The whole process as a new one has it once InitialiseProcess has connected the subsystems:
/// IsWow64, the guard (its handles closed through the installed platform), the poll, the
/// policy and the service. Tests, the fuzz targets, the benchmarks and the simulator call it
/// before and after each run on a machine.
void ResetWholeProcess();

}  // namespace service
