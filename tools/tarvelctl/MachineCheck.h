// `check`: whether this machine enforces its policy, item by item, with the evidence.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/tarvelctl/Host.h"
#include "tools/tarvelctl/Json.h"
#include "tools/tarvelctl/PolicyInspector.h"

namespace tarvelctl {

/// `check`'s own exit codes, which fleet tools read: they differ from the other commands'.
inline constexpr int kCheckCompliant = 0;
inline constexpr int kCheckDrift = 1;
inline constexpr int kCheckCannotTell = 2;

/// How one item came out.
enum class CheckResult {
  kOk,       ///< seen to be as the policy requires
  kDrift,    ///< seen to differ from what the policy requires
  kUnknown,  ///< could not be seen
  kInfo,     ///< evidence that is neither (the live flags inferred from the volumes)
};

/// "ok", "drift", "cannot tell", "info".
const char* CheckResultName(CheckResult result);

/// One reported item: where it belongs, its stable id, how it came out and the evidence.
struct CheckItem {
  std::string section;  ///< "Service", "Policy", "Volumes", "Write protection", ...
  std::string id;       ///< "service.running", "volume.E", "writeProtection", ...
  CheckResult result = CheckResult::kOk;
  std::string text;
  /// A second line under the item, or empty: the device behind a volume.
  std::string detail{};
};

/// What `check` looks at.
struct CheckOptions {
  /// Report each volume's device serial number; false (--no-serials) drops it as soon as the
  /// descriptor arrives, for fleets that must not collect what can identify a person's device.
  bool serials = true;
  /// The Service section alone (Win32 app detection): no policy file, volume or device is read.
  bool serviceOnly = false;
};

struct CheckReport {
  std::vector<CheckItem> items;
  /// The facts behind the items, by section: "service", "policy", "volumes",
  /// "writeProtection", "portableDevices".
  Json facts = Json::Object();
  /// Not an administrator, no Service Control Manager, or the service missing: nothing that
  /// was seen can make the machine compliant or drifting.
  bool cannotStart = false;
  int exitCode = kCheckCompliant;
  std::string verdict;  ///< "compliant", "drift", "cannot tell"
  /// The ids of the items that decide the verdict.
  std::vector<std::string> reasons;
  /// The service reports RUNNING.
  bool serviceRunning = false;
  /// The flags the policy file gives at start; nullopt when there is none to read.
  std::optional<LockOutcome> startupFlags;
};

/// Looks at the installed service, the policy file it reads at start, the volumes, the
/// write-protect value and the portable devices through the host's Service Control Manager and
/// the installed platform, and decides the verdict: cannot tell when the check cannot start,
/// else drift when any item drifts, else cannot tell when any item could not be seen, else
/// compliant.
CheckReport CheckMachine(Host& host, const CheckOptions& options = {});

}  // namespace tarvelctl
