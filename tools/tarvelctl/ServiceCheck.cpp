// `check`'s Service section: the service as the Service Control Manager registers and runs it.
#include <string>

#include "platform/Text.h"
#include "tools/tarvelctl/CheckSections.h"
#include "tools/tarvelctl/PeImage.h"
#include "tools/tarvelctl/ServiceSecurity.h"
#include "tools/tarvelctl/ServiceText.h"
#include "tools/tarvelctl/TagCommands.h"

namespace tarvelctl {

namespace {

constexpr std::uint32_t kOwnProcess = 0x10;
constexpr std::uint32_t kInteractiveProcess = 0x100;
constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kActionRestart = 1;

std::string Hex(std::uint32_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  return text;
}

void CheckExecutable(CheckState& state, const std::u16string& commandLine, Json& facts) {
  std::optional<WindowsLayout> layout = state.host.Layout();
  if (!layout) {
    state.Add(kSectionService, "service.executable", CheckResult::kUnknown,
              "this build cannot tell where Windows keeps its folders");
    return;
  }
  ServiceFolder folder = LocateServiceFolder(commandLine, *state.services, *layout);
  facts.Set("executable", folder.executable);
  facts.Set("executablePresent", folder.machine.has_value());
  facts.Set("machine", folder.machine ? Json(MachineName(*folder.machine)) : Json());
  facts.Set("systemDirectory", folder.directory ? Json(*folder.directory) : Json());
  if (!folder.directory) {
    state.Add(kSectionService, "service.executable",
              folder.machine ? CheckResult::kUnknown : CheckResult::kDrift, folder.problem);
    return;
  }
  state.directory = folder.directory;
  state.Add(kSectionService, "service.executable", CheckResult::kOk,
            folder.executable + " (" + MachineName(*folder.machine) + "): it reads its files in " +
                *state.directory);
}

void CheckRecovery(CheckState& state, Json& facts) {
  RecoveryState recovery;
  std::uint32_t error = state.services->QueryRecovery(&recovery);
  if (error != 0) {
    facts.Set("recoverySet", nullptr);
    state.Add(kSectionService, "service.recovery", CheckResult::kUnknown,
              "cannot read the recovery options: " + state.ErrorText(error));
    return;
  }
  Json actions = Json::Array();
  std::string text;
  bool restarts = !recovery.actions.empty();
  for (const RecoveryAction& a : recovery.actions) {
    actions.Push(Json::Object().Set("type", a.type).Set("delayMs", a.delayMs));
    if (a.type != kActionRestart) restarts = false;
    text += (text.empty() ? "" : ", ") +
            (a.type == kActionRestart ? "restart after " + std::to_string(a.delayMs / 1000) + " s"
                                      : "action " + std::to_string(a.type));
  }
  facts.Set("recovery",
            Json::Object().Set("resetSeconds", recovery.resetSeconds).Set("actions", actions));
  facts.Set("recoverySet", restarts);
  state.Add(kSectionService, "service.recovery", restarts ? CheckResult::kOk : CheckResult::kDrift,
            restarts                   ? "on failure: " + text
            : recovery.actions.empty() ? "no recovery actions: a service that fails stays stopped"
                                       : "not every failure restarts it: " + text);
}

void CheckSecurity(CheckState& state, Json& facts) {
  std::u16string sddl16;
  std::uint32_t error = state.services->QuerySecurity(&sddl16);
  if (error != 0) {
    facts.Set("dacl", nullptr).Set("daclLimited", nullptr);
    state.Add(kSectionService, "service.security", CheckResult::kUnknown,
              "cannot read the security descriptor: " + state.ErrorText(error));
    return;
  }
  const std::string sddl = platform::ToUtf8(sddl16);
  facts.Set("dacl", sddl);
  ParsedDacl dacl = ParseDacl(sddl);
  if (!dacl.valid || (!dacl.nullDacl && dacl.entries.empty())) {
    // Wine returns an empty DACL whatever was set; on Windows an empty DACL would lock
    // everyone out, the administrators who set it included. Either way it shows nothing.
    facts.Set("daclLimited", nullptr);
    state.Add(kSectionService, "service.security", CheckResult::kUnknown,
              "the security descriptor cannot be read back: the system returned \"" + sddl +
                  "\", which names no one");
    return;
  }
  constexpr std::uint32_t kOperate = kServiceStart | kServiceStop | kServiceUserDefinedControl;
  std::string others;
  for (const DaclEntry& e : dacl.entries) {
    if (!e.allow || (e.rights & kOperate) == 0 || e.trustee == "SY" || e.trustee == "BA") continue;
    others += (others.empty() ? "" : ", ") + e.trustee;
  }
  if (dacl.nullDacl) others = "everyone (no DACL)";
  facts.Set("daclLimited", others.empty());
  state.Add(kSectionService, "service.security",
            others.empty() ? CheckResult::kOk : CheckResult::kDrift,
            others.empty()
                ? "start, stop and codes 128-255: SYSTEM and Administrators only (" + sddl + ")"
                : "start, stop or codes 128-255 also granted to " + others + " (" + sddl + ")");
}

}  // namespace

void CheckAdministrator(CheckState& state) {
  std::uint32_t error = state.host.AdministratorError();
  if (error == 0) return;
  state.report.cannotStart = true;
  state.Add(kSectionService, "administrator", CheckResult::kUnknown,
            "not run as an administrator: " + state.ErrorText(error) +
                "; run tarvelctl check from an elevated prompt or as SYSTEM");
}

void CheckService(CheckState& state) {
  Json facts = Json::Object();
  if (state.services == nullptr) {
    state.report.cannotStart = true;
    state.Add(kSectionService, "service.installed", CheckResult::kUnknown,
              "this build has no Service Control Manager to ask; the Windows build has");
    facts.Set("installed", nullptr);
    state.report.facts.Set("service", facts);
    return;
  }
  ServiceStatusInfo status;
  std::uint32_t error = state.services->Query(&status);
  if (error != 0) {
    state.report.cannotStart = true;
    const bool missing = error == kErrorServiceDoesNotExist;
    facts.Set("installed", missing ? Json(false) : Json());
    state.Add(
        kSectionService, "service.installed", CheckResult::kUnknown,
        (missing ? "service missing: " : "cannot open the service: ") + state.ErrorText(error));
    state.report.facts.Set("service", facts);
    return;
  }
  facts.Set("installed", true);
  state.running = state.report.serviceRunning = status.state == kServiceRunning;
  facts.Set("state", StateName(status.state));
  facts.Set("running", state.running);
  facts.Set("processId", status.processId);
  state.Add(kSectionService, "service.running",
            state.running ? CheckResult::kOk : CheckResult::kDrift,
            state.running ? "running, process " + std::to_string(status.processId)
                          : "not running: " + StateName(status.state));

  ServiceConfigInfo config;
  error = state.services->QueryConfig(&config);
  if (error != 0) {
    state.Add(kSectionService, "service.configuration", CheckResult::kUnknown,
              "cannot read the configuration: " + state.ErrorText(error));
  } else {
    const bool own = (config.serviceType & ~kInteractiveProcess) == kOwnProcess;
    facts.Set("serviceType", config.serviceType).Set("ownProcess", own);
    state.Add(kSectionService, "service.ownProcess", own ? CheckResult::kOk : CheckResult::kDrift,
              (own ? "own process" : "not an own-process service") + std::string(" (type 0x") +
                  Hex(config.serviceType) + ")");
    const bool automatic = config.startType == kAutoStart;
    facts.Set("startType", config.startType).Set("automaticStart", automatic);
    state.Add(kSectionService, "service.automaticStart",
              automatic ? CheckResult::kOk : CheckResult::kDrift,
              automatic ? "automatic start (start type 2)"
                        : "start type " + std::to_string(config.startType) +
                              ", not automatic (2): it does not start with Windows");
    CheckExecutable(state, config.commandLine, facts);
  }
  CheckRecovery(state, facts);
  CheckSecurity(state, facts);
  state.report.facts.Set("service", facts);
}

}  // namespace tarvelctl
