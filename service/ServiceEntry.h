// The service process's start: process-wide initialisation and the entry routine.
#pragma once

#include "platform/Types.h"

namespace service {

/// Process-wide initialisation, run before the entry routine in this order: looks up
/// IsWow64Process, fills the service table, constructs the one VolumeGuard (both flags clear),
/// connects the subsystems. Needs the installed platform.
void InitialiseProcess();

/// The entry routine of the service process, the body of its WinMain (the command line and the
/// show command are not used). Stores the two instance handles, runs StartGuard, hands this
/// thread to the service control dispatcher, logs how that ended, releases the policy and
/// returns the exit code, which is always 0.
int EntryRoutine(platform::Handle instance, platform::Handle prevInstance);

}  // namespace service
