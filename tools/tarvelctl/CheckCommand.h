// `check [--json]`: the verdict on this machine's enforcement, for administrators and fleet tools.
#pragma once

#include <ostream>
#include <string>

#include "tools/tarvelctl/MachineCheck.h"
#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// The report as text: the verdict first, then each section's items with their evidence.
void PrintCheckReport(const CheckReport& report, std::ostream& out);

/// The report as one JSON object: verdict, exitCode, reasons, items, then the facts by section.
std::string CheckReportJson(const CheckReport& report);

/// Runs `check`; returns its exit code (0 compliant, 1 drift, 2 cannot tell).
int RunCheck(bool json, ToolContext& ctx);

}  // namespace tarvelctl
