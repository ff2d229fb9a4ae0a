// What every command of the tool works with.
#pragma once

#include <cstdint>
#include <ostream>

#include "tools/tarvelctl/Host.h"

namespace tarvelctl {

/// Exit codes shared by the commands (usage errors use CLI11's own, all non-zero).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    ///< the command could not do its work
inline constexpr int kExitProblems = 2;  ///< the command ran and found problems

struct ToolContext {
  Host& host;
  std::ostream& out;
  std::ostream& err;
  /// Seconds since 1970, for values the tool numbers itself.
  std::uint64_t now = 0;
};

}  // namespace tarvelctl
