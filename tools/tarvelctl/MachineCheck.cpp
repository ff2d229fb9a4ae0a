// `check`: whether this machine enforces its policy, item by item, with the evidence. The
// sections run in order, each leaving in CheckState what the later ones depend on.
#include "tools/tarvelctl/MachineCheck.h"

#include <algorithm>

#include "tools/tarvelctl/CheckSections.h"

namespace tarvelctl {

namespace {

void Decide(CheckReport& report) {
  // Items in the order of their sections' first appearance.
  std::vector<std::string> order;
  for (const CheckItem& item : report.items) {
    if (std::find(order.begin(), order.end(), item.section) == order.end()) {
      order.push_back(item.section);
    }
  }
  std::stable_sort(report.items.begin(), report.items.end(),
                   [&](const CheckItem& a, const CheckItem& b) {
                     return std::find(order.begin(), order.end(), a.section) <
                            std::find(order.begin(), order.end(), b.section);
                   });
  std::vector<std::string> drift;
  std::vector<std::string> unknown;
  for (const CheckItem& item : report.items) {
    if (item.result == CheckResult::kDrift) drift.push_back(item.id);
    if (item.result == CheckResult::kUnknown) unknown.push_back(item.id);
  }
  // Drift outranks what could not be seen, unless the check could not start at all.
  if (!report.cannotStart && !drift.empty()) {
    report.exitCode = kCheckDrift;
    report.verdict = "drift";
    report.reasons = drift;
  } else if (report.cannotStart || !unknown.empty()) {
    report.exitCode = kCheckCannotTell;
    report.verdict = "cannot tell";
    report.reasons = unknown;
  } else {
    report.exitCode = kCheckCompliant;
    report.verdict = "compliant";
  }
}

}  // namespace

void CheckState::Add(const char* section, const std::string& id, CheckResult result,
                     const std::string& text, std::string detail) {
  report.items.push_back({section, id, result, text, std::move(detail)});
}

std::string CheckState::ErrorText(std::uint32_t code) const {
  std::string text = services != nullptr ? services->ErrorText(code) : "error";
  return text + " (" + std::to_string(code) + ")";
}

const char* CheckResultName(CheckResult result) {
  switch (result) {
    case CheckResult::kOk:
      return "ok";
    case CheckResult::kDrift:
      return "drift";
    case CheckResult::kUnknown:
      return "cannot tell";
    case CheckResult::kInfo:
      return "info";
  }
  return "?";
}

CheckReport CheckMachine(Host& host, const CheckOptions& options) {
  CheckState state(host, options);
  CheckAdministrator(state);
  CheckService(state);
  if (!options.serviceOnly) {
    CheckPolicy(state);
    CheckVolumes(state);
    InferLiveFlags(state);
    CheckWriteProtection(state);
    CheckPortableDevices(state);
  }
  Decide(state.report);
  return std::move(state.report);
}

}  // namespace tarvelctl
