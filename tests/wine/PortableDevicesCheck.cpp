// The portable-device switch through the real setupapi and cfgmgr32 under Wine, where a fresh
// prefix has no "WPD" setup class and any CM_Enable_DevNode or CM_Disable_DevNode call would
// end the process.
#include <string>

#include "enforcement/PortableDevices.h"
#include "platform/Devices.h"
#include "platform/win32/Win32Platform.h"
#include "tests/wine/WineCheck.h"

using winecheck::Check;
using winecheck::CheckEq;

int main() {
  platform::win32::Win32Platform real;
  real.Install();
  platform::Devices& devices = *real.platform().devices;

  // What the switch relies on: the lookup succeeds, reports no class and writes nothing.
  platform::Guid guids[1] = {};
  guids[0].data1 = 0x5A5A5A5A;
  std::uint32_t required = 7;
  Check(devices.SetupDiClassGuidsFromNameW(u"WPD", guids, 1, &required) != 0,
        "SetupDiClassGuidsFromNameW(\"WPD\") succeeds");
  CheckEq(required, 0, "a fresh prefix has no class named WPD");
  CheckEq(guids[0].data1, 0x5A5A5A5A, "the lookup leaves the GUID list untouched");

  // The record's size is the one setupapi accepts: an empty set of the zero GUID ends the
  // enumeration with ERROR_NO_MORE_ITEMS, not ERROR_INVALID_USER_BUFFER.
  platform::Guid zero{};
  platform::Handle set =
      devices.SetupDiGetClassDevsW(&zero, nullptr, platform::kNullHandle, platform::kDigcfPresent);
  if (Check(set != platform::kInvalidHandleValue, "the zero GUID gives a device set")) {
    platform::SpDevinfoData record{};
    record.cbSize = sizeof record;
    platform::Bool found = devices.SetupDiEnumDeviceInfo(set, 0, &record);
    std::uint32_t error = real.threads.GetLastError();
    CheckEq(found, 0, "the set is empty");
    CheckEq(error, 259, "enumeration ends with ERROR_NO_MORE_ITEMS");
    Check(devices.SetupDiDestroyDeviceInfoList(set) != 0, "the set is released");
  }
  set = devices.SetupDiGetClassDevsW(nullptr, nullptr, platform::kNullHandle,
                                     platform::kDigcfPresent);
  std::uint32_t error = real.threads.GetLastError();
  Check(set == platform::kInvalidHandleValue, "a null GUID gives no device set");
  CheckEq(error, 87, "its error is ERROR_INVALID_PARAMETER");

  // Both directions return normally and reach no device node: the process is still here.
  for (bool enable : {true, false}) {
    std::string name = std::string("SwitchPortableDevices(") + (enable ? "true" : "false") + ")";
    try {
      enforcement::SwitchPortableDevices(enable);
      Check(true, name + " returns normally");
    } catch (const enforcement::DeviceListError& e) {
      Check(false, name + " returns normally", e.what());
    }
  }

  // The error text formats the code in lower-case hex with this runtime's printf too.
  Check(enforcement::DeviceListError(87).text() == u"SetupDiGetClassDevs failed. (err=57)",
        "the list error reads \"SetupDiGetClassDevs failed. (err=57)\"");
  Check(enforcement::DeviceListError(0xE000020B).text() ==
            u"SetupDiGetClassDevs failed. (err=e000020b)",
        "a large code is written in full, lower case");
  return winecheck::Finish();
}
