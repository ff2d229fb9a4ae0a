// The start-up policy load: the poll timer's handles, and the file names tried in order.
#pragma once

#include "platform/Types.h"

namespace policy {

/// The policy files, tried in this order in the system directory.
inline constexpr char16_t kPolicyFileName[] = u"DevState.ini";
inline constexpr char16_t kFallbackPolicyFileName[] = u"SysSecurity.ini";

/// The timer queue and the once-a-second poll timer that StartGuard creates; never deleted.
extern platform::Handle PolicyTimerQueue;
extern platform::Handle PolicyPollTimer;

/// The policy's process-wide state as a new process has it: no policy record and no path, no
/// key container attempt, no allocation made to fail, no poll timer.
void ResetProcessState();

}  // namespace policy
