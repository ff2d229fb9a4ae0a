// The portable-device class switch.
#include "enforcement/PortableDevices.h"

#include <cstdio>

#include "platform/Debug.h"
#include "platform/Devices.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"

namespace enforcement {

namespace {

std::string FormatListError(std::uint32_t error) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "SetupDiGetClassDevs failed. (err=%lx)",
                static_cast<unsigned long>(error));
  return buf;
}

}  // namespace

DeviceListError::DeviceListError(std::uint32_t error)
    : error_(error), narrow_(FormatListError(error)) {
  text_ = platform::FromUtf8(narrow_);
}

void SwitchPortableDevices(bool enable) {
  platform::Devices& devices = *platform::Current().devices;
  // The list starts zeroed: a machine without the class leaves it untouched and reports a
  // required size of 0, and then there is no class and nothing to switch.
  platform::Guid classGuids[1] = {};
  std::uint32_t required = 0;
  platform::Bool found = devices.SetupDiClassGuidsFromNameW(u"WPD", classGuids, 1, &required);
  if (!found || required == 0) return;

  platform::UniqueDevInfo set(devices.SetupDiGetClassDevsW(
      &classGuids[0], nullptr, platform::kNullHandle, platform::kDigcfPresent));
  if (!set.valid()) throw DeviceListError(platform::Current().threads->GetLastError());

  platform::SpDevinfoData device{};
  device.cbSize = sizeof(platform::SpDevinfoData);
  for (std::uint32_t index = 0; devices.SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
    std::uint32_t status = 0;
    std::uint32_t problem = 0;
    std::uint32_t result = devices.CM_Get_DevNode_Status(&status, &problem, device.devInst, 0);
    if (enable) {
      devices.CM_Enable_DevNode(device.devInst, 0);
    } else if (result == platform::kCrSuccess && problem != platform::kCmProbDisabled) {
      // A device whose status cannot be read is passed over rather than disabled blind.
      devices.CM_Disable_DevNode(device.devInst, 0);
    }
  }
}

void SwitchPortableDevicesLogged(bool enable) {
  try {
    SwitchPortableDevices(enable);
  } catch (const DeviceListError& e) {
    // The caller still ends normally; a poll tick tries again a second later.
    std::u16string line = u"\n(VexService) " + e.text();
    platform::LogW(line.c_str());
  }
}

}  // namespace enforcement
