// The service host's process-wide state.
#include "service/ServiceState.h"

#include "enforcement/PolicyPoll.h"
#include "enforcement/PortableDevices.h"
#include "guard/VolumeGuard.h"
#include "platform/SystemDir.h"
#include "policy/StartGuard.h"

namespace service {

platform::ServiceTableEntry ServiceTable[2] = {};
std::atomic<platform::Handle> InstanceHandle{platform::kNullHandle};
std::atomic<platform::Handle> PrevInstanceHandle{platform::kNullHandle};
std::atomic<platform::Handle> StatusHandle{platform::kNullHandle};
std::atomic<std::uint32_t> CurrentState{0};
std::atomic<platform::Handle> StopEvent{platform::kNullHandle};
std::atomic<std::uint32_t> WorkerRunning{1};
std::atomic<bool> StopSignalled{false};
std::atomic<platform::Handle> WorkerThread{platform::kNullHandle};
std::atomic<platform::Handle> NotifyWindow{platform::kNullHandle};

void ResetProcessState() {
  ServiceTable[0] = {};
  ServiceTable[1] = {};
  InstanceHandle = platform::kNullHandle;
  PrevInstanceHandle = platform::kNullHandle;
  StatusHandle = platform::kNullHandle;
  CurrentState = 0;
  StopEvent = platform::kNullHandle;
  WorkerRunning = 1;
  StopSignalled = false;
  WorkerThread = platform::kNullHandle;
  NotifyWindow = platform::kNullHandle;
}

void ConnectSubsystems() {
  guard::SetAfterRemovableRelease([] { enforcement::SwitchPortableDevicesLogged(true); });
}

void ResetWholeProcess() {
  platform::ResetProcessState();
  guard::ResetProcessState();
  enforcement::ResetProcessState();
  policy::ResetProcessState();
  ResetProcessState();
  ConnectSubsystems();
}

}  // namespace service
