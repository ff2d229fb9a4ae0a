// `check [--json]`: the verdict on this machine's enforcement, for administrators and fleet tools.
#include "tools/tarvelctl/CheckCommand.h"

#include <memory>

#include "TarvelVersion.h"

namespace tarvelctl {

void PrintCheckReport(const CheckReport& report, std::ostream& out) {
  out << "Tarvel Service check: " << report.verdict << " (exit " << report.exitCode << ")\n";
  if (!report.reasons.empty()) {
    out << (report.exitCode == kCheckDrift ? "  drifting:" : "  cannot tell:");
    for (const std::string& id : report.reasons) out << " " << id;
    out << "\n";
  }
  std::string section;
  for (const CheckItem& item : report.items) {
    if (item.section != section) {
      section = item.section;
      out << section << "\n";
    }
    std::string result = CheckResultName(item.result);
    result.resize(12, ' ');
    out << "  " << result << item.id << ": " << item.text << "\n";
  }
}

std::string CheckReportJson(const CheckReport& report) {
  Json root = Json::Object();
  root.Set("tool", "tarvelctl check").Set("version", TARVEL_VERSION);
  root.Set("verdict", report.verdict).Set("exitCode", report.exitCode);
  Json reasons = Json::Array();
  for (const std::string& id : report.reasons) reasons.Push(id);
  root.Set("reasons", reasons);
  Json items = Json::Array();
  for (const CheckItem& item : report.items) {
    items.Push(Json::Object()
                   .Set("id", item.id)
                   .Set("section", item.section)
                   .Set("result", CheckResultName(item.result))
                   .Set("evidence", item.text));
  }
  root.Set("items", items);
  for (const char* section :
       {"service", "policy", "volumes", "writeProtection", "portableDevices"}) {
    root.Set(section, report.facts.Get(section));
  }
  return root.Dump() + "\n";
}

int RunCheck(bool json, ToolContext& ctx) {
  CheckReport report = CheckMachine(ctx.host);
  if (json) {
    ctx.out << CheckReportJson(report);
  } else {
    PrintCheckReport(report, ctx.out);
  }
  return report.exitCode;
}

}  // namespace tarvelctl
