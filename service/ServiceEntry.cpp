// The service process's start: process-wide initialisation and the entry routine.
#include "service/ServiceEntry.h"

#include "guard/VolumeGuard.h"
#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/ServiceControl.h"
#include "platform/SystemDir.h"
#include "policy/PolicyFile.h"
#include "policy/StartGuard.h"
#include "service/ServiceLifecycle.h"
#include "service/ServiceState.h"

namespace service {

void InitialiseProcess() {
  platform::ResolveIsWow64ProcessPtr();
  ServiceTable[0] = platform::ServiceTableEntry{kServiceName, ServiceMain};
  ServiceTable[1] = platform::ServiceTableEntry{nullptr, nullptr};
  guard::TheVolumeGuard();
  ConnectSubsystems();
}

int EntryRoutine(platform::Handle instance, platform::Handle prevInstance) {
  InstanceHandle = instance;
  PrevInstanceHandle = prevInstance;

  // All start-up work (WOW64, poll timer, policy, first lock pass) is done before the process
  // connects to the Service Control Manager.
  policy::StartGuard(guard::TheVolumeGuard());

  // This thread becomes the control dispatcher until the service has stopped; it fails at once
  // when the process was not started by the Service Control Manager.
  if (platform::Current().service->StartServiceCtrlDispatcherW(ServiceTable) != 0) {
    platform::LogA("\n(VexService) Finish Main");
  } else {
    platform::LogA("\n(VexService) StartServiceCtrlDispatcher Fail!! Please register it first.");
  }
  policy::ReleasePolicy();
  return 0;
}

}  // namespace service
