// `check`: the verdict on this machine's enforcement, for administrators and fleet tools, each
// tool in its own convention of exit code and output.
#pragma once

#include <ostream>
#include <string>

#include "tools/tarvelctl/MachineCheck.h"
#include "tools/tarvelctl/ToolContext.h"

namespace tarvelctl {

/// How `check` reports, and whose exit codes it follows.
enum class CheckFormat {
  kText,       ///< the report for an administrator; exit 0 compliant, 1 drift, 2 cannot tell
  kJson,       ///< one JSON object; the same exit codes
  kIntune,     ///< remediation detection: exit 1 (run the remediation) for drift and cannot tell
  kIntuneApp,  ///< Win32 app detection: exit 0 and one line only while installed and running
  kConfigMgr,  ///< compliance discovery: always exit 0, the value is the verdict
};

/// What `check` is asked for.
struct CheckRequest {
  CheckFormat format = CheckFormat::kText;
  bool serials = true;  ///< false: --no-serials
};

/// The most an Intune remediation's report shows of a detection script's output.
inline constexpr std::size_t kIntuneOutputLimit = 2048;

/// The report as text: the verdict first, then each section's items with their evidence.
void PrintCheckReport(const CheckReport& report, std::ostream& out);

/// The report as one JSON object: verdict, exitCode, reasons, items, then the facts by section.
std::string CheckReportJson(const CheckReport& report);

/// Writes the report as format asks; returns the exit code that format's reader expects.
int WriteCheckReport(const CheckReport& report, CheckFormat format, std::ostream& out,
                     std::ostream& err);

/// Runs `check`; returns its exit code.
int RunCheck(const CheckRequest& request, ToolContext& ctx);

}  // namespace tarvelctl
