// `check`'s Portable devices section: each "WPD" device against the poll's rule.
#include <optional>
#include <string>

#include "platform/Devices.h"
#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "tools/tarvelctl/CheckSections.h"

namespace tarvelctl {

// Each present device of the "WPD" class against the poll's rule: disabled while the
// removable lock is on or the tag asks for write protection (1), enabled otherwise.
void CheckPortableDevices(CheckState& state) {
  Json facts = Json::Object();
  // While the service runs, its poll goes by the flag as it is now; a stopped service's
  // next start goes by the file.
  std::optional<bool> removable = state.running ? state.liveRemovable : std::nullopt;
  if (!removable && state.startupFlags) removable = state.startupFlags->removable;
  std::optional<bool> disable;
  if (removable && *removable) {
    disable = true;
  } else if (removable && state.desiredWriteProtect) {
    disable = *state.desiredWriteProtect == 1;
  }
  facts.Set("required", disable ? Json(*disable ? "disabled" : "enabled") : Json());
  Json devices = Json::Array();
  platform::Devices& d = *platform::Current().devices;
  platform::Guid guids[1] = {};
  std::uint32_t required = 0;
  if (!d.SetupDiClassGuidsFromNameW(u"WPD", guids, 1, &required) || required == 0) {
    facts.Set("classPresent", false).Set("devices", devices);
    state.report.facts.Set("portableDevices", facts);
    state.Add(kSectionDevices, "portableDevices", CheckResult::kOk,
              "no \"WPD\" setup class: no devices");
    return;
  }
  facts.Set("classPresent", true);
  platform::UniqueDevInfo set(
      d.SetupDiGetClassDevsW(&guids[0], nullptr, platform::kNullHandle, platform::kDigcfPresent));
  if (!set.valid()) {
    std::uint32_t error = platform::Current().threads->GetLastError();
    facts.Set("devices", nullptr);
    state.report.facts.Set("portableDevices", facts);
    state.Add(kSectionDevices, "portableDevices", CheckResult::kUnknown,
              "cannot list the \"WPD\" devices: " + state.ErrorText(error));
    return;
  }
  const std::string rule =
      !disable   ? "what the poll asks is not known"
      : *disable ? "to be disabled (removable lock on, or the tag asks for write protection)"
                 : "to be enabled (removable lock off, no write protection asked)";
  platform::SpDevinfoData device{};
  device.cbSize = sizeof(platform::SpDevinfoData);
  std::uint32_t count = 0;
  for (std::uint32_t index = 0; d.SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
    ++count;
    std::uint32_t status = 0;
    std::uint32_t problem = 0;
    std::uint32_t cr = d.CM_Get_DevNode_Status(&status, &problem, device.devInst, 0);
    const std::string id = "portableDevice." + std::to_string(index);
    const std::string name =
        "device " + std::to_string(index) + " (devnode " + std::to_string(device.devInst) + ")";
    Json one = Json::Object().Set("index", index).Set("devInst", device.devInst);
    if (cr != platform::kCrSuccess) {
      one.Set("state", nullptr).Set("result", CheckResultName(CheckResult::kUnknown));
      devices.Push(one);
      state.Add(kSectionDevices, id, CheckResult::kUnknown,
                name + ": its status cannot be read (CONFIGRET " + std::to_string(cr) + ")");
      continue;
    }
    const bool disabled = problem == platform::kCmProbDisabled;
    CheckResult result = !disable               ? CheckResult::kUnknown
                         : disabled == *disable ? CheckResult::kOk
                                                : CheckResult::kDrift;
    one.Set("state", disabled ? "disabled" : "enabled").Set("result", CheckResultName(result));
    devices.Push(one);
    std::string text = name;
    text += disabled ? " is disabled; " : " is enabled; ";
    state.Add(kSectionDevices, id, result, text + rule);
  }
  facts.Set("devices", devices);
  state.report.facts.Set("portableDevices", facts);
  if (count == 0)
    state.Add(kSectionDevices, "portableDevices", CheckResult::kOk, "no present \"WPD\" device");
}

}  // namespace tarvelctl
