// The `policy` command group: `policy write` and `policy show`.
#pragma once

#include "tools/tarvelctl/PolicyWriter.h"
#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// Writes the policy file for the request to output; returns the exit code.
int RunPolicyWrite(const PolicyWriteRequest& request, const std::string& output, ToolContext& ctx);

/// Reads the file with the service's reader and prints what the service makes of it; returns
/// kExitProblems when the service would not get a usable policy from it.
int RunPolicyShow(const std::string& file, ToolContext& ctx);

}  // namespace tarvelctl
