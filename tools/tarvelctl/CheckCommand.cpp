// `check`: the verdict on this machine's enforcement, for administrators and fleet tools, each
// tool in its own convention of exit code and output.
#include "tools/tarvelctl/CheckCommand.h"

#include <algorithm>
#include <memory>

#include "TarvelVersion.h"

#include "platform/Text.h"
#include "tools/tarvelctl/ServiceManager.h"

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
    if (!item.detail.empty()) out << "  " << std::string(12, ' ') << item.detail << "\n";
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

namespace {

bool IsOk(const CheckReport& report, const char* id) {
  return std::any_of(report.items.begin(), report.items.end(), [&](const CheckItem& item) {
    return item.id == id && item.result == CheckResult::kOk;
  });
}

const CheckItem* Find(const CheckReport& report, const char* id) {
  for (const CheckItem& item : report.items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

// "drift: service.running volume.E", kept short: the reasons that do not fit are counted.
std::string VerdictLine(const CheckReport& report, const std::string& verdict) {
  constexpr std::size_t kShort = 160;
  std::string line = verdict;
  for (std::size_t i = 0; i < report.reasons.size(); ++i) {
    const std::string& id = report.reasons[i];
    if (line.size() + 1 + id.size() > kShort) {
      line += " (+" + std::to_string(report.reasons.size() - i) + " more)";
      break;
    }
    line += (i == 0 ? ": " : " ") + id;
  }
  return line;
}

// Intune remediation detection: the remediation runs on exit 1 only, so "cannot tell" exits 1
// as drift does. The report shows the first 2,048 characters: the verdict line first, then the
// items that decide it while they fit.
int WriteIntune(const CheckReport& report, std::ostream& out) {
  if (report.exitCode == kCheckCompliant) {
    out << "compliant\n";
    return 0;
  }
  std::string text = VerdictLine(report, report.verdict) + "\n";
  for (const CheckItem& item : report.items) {
    if (item.result != CheckResult::kDrift && item.result != CheckResult::kUnknown) continue;
    std::string line = item.id + ": " + item.text + "\n";
    if (text.size() + line.size() > kIntuneOutputLimit - 4) {
      text += "...\n";
      break;
    }
    text += line;
  }
  out << text;
  return 1;
}

// Intune Win32 app detection: detected only on exit 0 with output on standard output alone, so
// a service that is not installed and running as the package registers it prints nothing there.
int WriteIntuneApp(const CheckReport& report, std::ostream& out, std::ostream& err) {
  std::string missing;
  for (const char* id :
       {"service.running", "service.ownProcess", "service.automaticStart", "service.executable"}) {
    if (!IsOk(report, id)) missing += std::string(missing.empty() ? "" : " ") + id;
  }
  if (report.cannotStart || !missing.empty()) {
    err << "tarvelctl: " << platform::ToUtf8(kServiceName)
        << " not detected: " << (missing.empty() ? VerdictLine(report, report.verdict) : missing)
        << "\n";
    return 1;
  }
  out << platform::ToUtf8(kServiceName) << " detected: " << Find(report, "service.running")->text
      << "; " << Find(report, "service.executable")->text << "\n";
  return 0;
}

// Configuration Manager discovery: any exit code but 0 is a script error, so it always exits 0;
// the compliance rule compares the value, which is "Compliant" alone when compliant.
int WriteConfigMgr(const CheckReport& report, std::ostream& out) {
  const char* value = report.exitCode == kCheckCompliant ? "Compliant"
                      : report.exitCode == kCheckDrift   ? "NonCompliant"
                                                         : "Unknown";
  out << VerdictLine(report, value) << "\n";
  return 0;
}

}  // namespace

int WriteCheckReport(const CheckReport& report, CheckFormat format, std::ostream& out,
                     std::ostream& err) {
  switch (format) {
    case CheckFormat::kJson:
      out << CheckReportJson(report);
      return report.exitCode;
    case CheckFormat::kIntune:
      return WriteIntune(report, out);
    case CheckFormat::kIntuneApp:
      return WriteIntuneApp(report, out, err);
    case CheckFormat::kConfigMgr:
      return WriteConfigMgr(report, out);
    case CheckFormat::kText:
      break;
  }
  PrintCheckReport(report, out);
  return report.exitCode;
}

int RunCheck(const CheckRequest& request, ToolContext& ctx) {
  CheckOptions options;
  options.serials = request.serials;
  options.serviceOnly = request.format == CheckFormat::kIntuneApp;
  return WriteCheckReport(CheckMachine(ctx.host, options), request.format, ctx.out, ctx.err);
}

}  // namespace tarvelctl
