// `check`'s Policy section: the policy file the service reads at start, who may open it, and the
// flags its State gives.
#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/Volumes.h"
#include "tools/tarvelctl/CheckSections.h"
#include "tools/tarvelctl/FileSecurity.h"
#include "tools/tarvelctl/LocalFiles.h"

namespace tarvelctl {

namespace {

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

// Who besides SYSTEM and the Administrators may open the policy file: whoever holds it open
// when the service starts makes it read the file as missing, and start with its locks off.
void CheckPolicyDacl(CheckState& state, const std::string& file, Json& facts) {
  std::string error;
  std::optional<std::u16string> sddl = ReadFileSddl(state.host.FileSecurity(), file, &error);
  facts.Set("dacl", sddl ? Json(platform::ToUtf8(*sddl)) : Json());
  facts.Set("othersCanOpen", nullptr);
  if (!sddl) {
    state.Add(kSectionPolicy, "policy.dacl", CheckResult::kUnknown, error);
    return;
  }
  if (!state.host.FileDaclsKept()) {
    // Wine workaround: it returns its default descriptor whatever was set, which would
    // always read as open to Everyone.
    state.Add(kSectionPolicy, "policy.dacl", CheckResult::kUnknown,
              "Wine does not keep file DACLs: it returns \"" + platform::ToUtf8(*sddl) +
                  "\" whatever was set, so who may open " + file + " is not known");
    return;
  }
  std::optional<std::vector<FileOpener>> others = OthersWhoCanOpen(*sddl);
  if (!others) {
    state.Add(kSectionPolicy, "policy.dacl", CheckResult::kUnknown,
              "cannot make out who may open " + file + ": \"" + platform::ToUtf8(*sddl) + "\"");
    return;
  }
  Json openers = Json::Array();
  for (const FileOpener& o : *others) {
    openers.Push(
        Json::Object().Set("trustee", o.trustee).Set("name", o.name).Set("rights", o.rights));
  }
  facts.Set("othersCanOpen", openers);
  if (others->empty()) {
    state.Add(kSectionPolicy, "policy.dacl", CheckResult::kOk,
              "only SYSTEM and Administrators may open it (" + platform::ToUtf8(*sddl) + ")");
    return;
  }
  state.Add(kSectionPolicy, "policy.dacl", CheckResult::kDrift,
            "can also be opened by " + DescribeOpeners(*others) +
                ": whoever holds it open when the service starts makes it start with both locks "
                "off; `tarvelctl install --configure-only` secures it (" +
                platform::ToUtf8(*sddl) + ")");
}

// Makes a local file readable through the installed platform; nullopt after an item that
// says why it cannot be read. A missing file is passed on as a path that does not exist.
std::optional<std::u16string> Stage(CheckState& state, const std::string& path, Json& facts) {
  if (!LocalFileExists(path)) return platform::FromUtf8(path);
  std::string problem;
  std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(path, &problem);
  if (!bytes) {
    // The Windows error of an open as the service makes it (the Win32 host stages the path
    // itself, so the open meets the real file).
    std::u16string staged = state.host.Stage(path, {});
    platform::Files& files = *platform::Current().files;
    platform::UniqueFileHandle h(files.CreateFileW(staged.c_str(), platform::kGenericRead, 0,
                                                   platform::kOpenExisting,
                                                   platform::kFileAttributeNormal));
    std::uint32_t error = h.valid() ? 0 : platform::Current().threads->GetLastError();
    facts.Set("file", path).Set("readable", false);
    state.Add(kSectionPolicy, "policy.file", CheckResult::kUnknown,
              "file unreadable: " + problem + (error != 0 ? ": " + state.ErrorText(error) : ""));
    return std::nullopt;
  }
  return state.host.Stage(path, *bytes);
}

}  // namespace

// The policy file the service reads at start: its content decides the start-up flags.
void CheckPolicy(CheckState& state) {
  Json facts = Json::Object();
  if (!state.directory) {
    state.Add(kSectionPolicy, "policy.file", CheckResult::kUnknown,
              "the system folder the service reads is not known (see service.executable)");
    state.report.facts.Set("policy", facts);
    return;
  }
  const std::string dev = JoinLocalPath(*state.directory, "DevState.ini");
  const std::string sys = JoinLocalPath(*state.directory, "SysSecurity.ini");
  std::optional<std::u16string> devPath = Stage(state, dev, facts);
  std::optional<std::u16string> sysPath = devPath ? Stage(state, sys, facts) : std::nullopt;
  if (!devPath || !sysPath) {
    state.report.facts.Set("policy", facts);
    return;
  }
  StartupPolicy policy = InspectStartupPolicy(*devPath, *sysPath);
  const std::string file = policy.file == 1 ? dev : policy.file == 2 ? sys : "";
  facts.Set("file", policy.file == 0 ? Json() : Json(file));
  facts.Set("complete", policy.complete);
  facts.Set("decrypts", policy.state.has_value());
  facts.Set("state", policy.state ? Json(platform::ToUtf8(*policy.state)) : Json());
  // A State that cannot be decrypted leaves the guard's flags as they were created: clear.
  state.startupFlags = state.report.startupFlags = policy.locks;
  facts.Set(
      "startupFlags",
      Json::Object().Set("removable", policy.locks.removable).Set("optical", policy.locks.optical));
  state.report.facts.Set("policy", facts);
  if (policy.file == 0) {
    state.Add(kSectionPolicy, "policy.file", CheckResult::kDrift,
              "no DevState.ini or SysSecurity.ini in " + *state.directory +
                  ": the service starts with both locks off");
    return;
  }
  state.Add(kSectionPolicy, "policy.file", CheckResult::kOk,
            "the service reads " + file + " at start" +
                (policy.complete ? "" : " (incomplete: a count is missing or 0)"));
  CheckPolicyDacl(state, file, facts);
  state.report.facts.Set("policy", facts);
  if (!policy.state) {
    state.Add(kSectionPolicy, "policy.decrypts", CheckResult::kDrift,
              "the State value does not decrypt: the service starts with both locks off");
    return;
  }
  state.Add(kSectionPolicy, "policy.decrypts", CheckResult::kOk,
            "State \"" + platform::ToUtf8(*policy.state) + "\": start-up flags removable " +
                OnOff(policy.locks.removable) + ", optical " + OnOff(policy.locks.optical) +
                " (what the file gives; control codes 128-131 can change them while it runs)");
}

}  // namespace tarvelctl
