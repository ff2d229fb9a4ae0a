// The tool's command line.
#pragma once

#include <string>
#include <vector>

#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// Runs one command line (args without the program name) and returns the exit code.
int RunTarvelctl(const std::vector<std::string>& args, ToolContext& ctx);

}  // namespace tarvelctl
