// The start-up policy load: the poll timer's handles, and the file names tried in order.
#pragma once

#include "guard/VolumeGuard.h"
#include "platform/ServiceNames.h"
#include "platform/Types.h"

namespace policy {

using platform::kFallbackPolicyFileName;
using platform::kPolicyFileName;

/// The timer queue and the once-a-second poll timer that StartGuard creates; never deleted.
extern platform::Handle PolicyTimerQueue;
extern platform::Handle PolicyPollTimer;

/// Start-up: WOW64 detection, the poll timer (its ticks run on guard), the policy file, then
/// the flags and the first lock pass under the guard lock.
void StartGuard(guard::VolumeGuard& guard);
/// Decodes the decrypted State value into the guard's two flags; returns them as sweep flags.
guard::SweepFlags ReadLockState();

/// The policy's process-wide state as a new process has it: no policy record and no path, no
/// key container attempt, no allocation made to fail, no poll timer.
void ResetProcessState();

}  // namespace policy
