// What every command of the tool works with.
#pragma once

#include <cstdint>
#include <ostream>

#include "tools/tarvelctl/Host.h"

namespace tarvelctl {

/// Exit codes shared by the commands (usage errors use CLI11's own, all non-zero).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;        ///< the command could not do its work
inline constexpr int kExitProblems = 2;      ///< the command ran and found problems
inline constexpr int kExitNotInstalled = 3;  ///< the service is not installed
inline constexpr int kExitAccessDenied = 4;  ///< Windows refused the access (not elevated)
inline constexpr int kExitTimeout = 5;       ///< the service did not reach the state in time
inline constexpr int kExitNotRunning = 6;    ///< the service is not running to take the code

struct ToolContext {
  Host& host;
  std::ostream& out;
  std::ostream& err;
  /// Seconds since 1970, for values the tool numbers itself.
  std::uint64_t now = 0;
};

}  // namespace tarvelctl
