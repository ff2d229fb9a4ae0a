// How the tool names service states and controls, and reads or writes service command lines.
#pragma once

#include <cstdint>
#include <string>

#include "tools/tarvelctl/ServiceManager.h"

namespace tarvelctl {

inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;

/// The service's custom control codes.
using platform::kControlOpticalLockOff;
using platform::kControlOpticalLockOn;
using platform::kControlRemovableLockOff;
using platform::kControlRemovableLockOn;
using platform::kControlStopService;

/// "RUNNING", "STOP_PENDING", ... or "state N" for a value Windows does not define.
std::string StateName(std::uint32_t state);

/// The SERVICE_ACCEPT_* bits by name ("SHUTDOWN", "STOP | SHUTDOWN", "none"); unknown bits as
/// hexadecimal.
std::string AcceptedControlsText(std::uint32_t accepted);

/// The status block of `status` and the other commands, one field per line.
std::string FormatStatus(const ServiceStatusInfo& status);

/// The command line to register for an executable: quoted, so that a path with blanks is
/// never read as a shorter path followed by arguments.
std::u16string QuoteCommandLine(const std::u16string& executable);

/// The executable named by a registered command line: the quoted part, or else the text up to
/// the first blank that follows ".exe" (ignoring case), or else the whole text.
std::u16string ExecutableFromCommandLine(const std::u16string& commandLine);

}  // namespace tarvelctl
