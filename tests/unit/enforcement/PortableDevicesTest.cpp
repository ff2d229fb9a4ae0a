// The portable-device switch enables or disables the present devices of the "WPD" class.
#include "enforcement/PortableDevices.h"

#include <gtest/gtest.h>

#include "platform/sim/SimMachine.h"

namespace enforcement {
namespace {

using platform::sim::kWpdClassGuid;
using platform::sim::SimDevice;
using platform::sim::SimMachine;

class PortableDevicesTest : public ::testing::Test {
 protected:
  PortableDevicesTest() { machine.Install(); }

  void AddWpdClass() { machine.devices.AddClass(u"WPD", kWpdClassGuid); }
  SimDevice Device(std::uint32_t devInst) { return machine.devices.Device(devInst); }

  SimMachine machine;
};

// What one pass does to each kind of device, for both directions.
TEST_F(PortableDevicesTest, EachDeviceEndsAsAsked) {
  struct Case {
    const char* name;
    std::uint32_t problem;
    bool present;
    bool statusFails;
    bool enable;
    std::uint32_t enableCalls, disableCalls, problemAfter;
  };
  const Case cases[] = {
      {"enabled, enable", 0, true, false, true, 1, 0, 0},
      {"disabled, enable", 22, true, false, true, 1, 0, 0},
      {"status unreadable, enable", 0, true, true, true, 1, 0, 0},
      {"enabled, disable", 0, true, false, false, 0, 1, 22},
      {"already disabled, disable", 22, true, false, false, 0, 0, 22},
      {"other problem, disable", 28, true, false, false, 0, 1, 22},
      {"status unreadable, disable", 0, true, true, false, 0, 0, 0},
      {"installed only, enable", 22, false, false, true, 0, 0, 22},
      {"installed only, disable", 0, false, false, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    m.devices.AddClass(u"WPD", kWpdClassGuid);
    std::uint32_t dev = m.devices.AddDevice(kWpdClassGuid, c.present, c.problem);
    SimDevice d = m.devices.Device(dev);
    d.statusFails = c.statusFails;
    m.devices.SetDevice(d);

    SwitchPortableDevices(c.enable);

    d = m.devices.Device(dev);
    EXPECT_EQ(d.enableCalls, c.enableCalls);
    EXPECT_EQ(d.disableCalls, c.disableCalls);
    EXPECT_EQ(d.problem, c.problemAfter);
    EXPECT_EQ(m.core.OpenHandleCount("devinfo"), 0u);
  }
}

TEST_F(PortableDevicesTest, CallsCarryTheDocumentedArguments) {
  AddWpdClass();
  std::uint32_t on = machine.devices.AddDevice(kWpdClassGuid);
  std::uint32_t other = machine.devices.AddDevice(platform::Guid{0x36FC9E60, 0xC465, 0x11CF, {}});

  SwitchPortableDevices(false);

  const std::string guid = "{EEC5AD98-8080-425F-922A-DABF3DE3F69A}";
  const std::string size = std::to_string(sizeof(platform::SpDevinfoData));
  EXPECT_EQ(machine.core.JournalOf("SetupDiClassGuidsFromNameW"),
            std::vector<std::string>{"SetupDiClassGuidsFromNameW WPD 1 -> 1 required=1 " + guid});
  EXPECT_EQ(machine.core.JournalOf("SetupDiGetClassDevsW"),
            std::vector<std::string>{"SetupDiGetClassDevsW " + guid +
                                     " (null) 0x0 0x2 -> 0x100 devices=1"});
  EXPECT_EQ(
      machine.core.JournalOf("SetupDiEnumDeviceInfo"),
      (std::vector<std::string>{"SetupDiEnumDeviceInfo 0x100 0 cbSize=" + size + " -> 1 devinst=1",
                                "SetupDiEnumDeviceInfo 0x100 1 cbSize=" + size + " -> 0 err=259"}));
  EXPECT_EQ(machine.core.JournalOf("CM_Get_DevNode_Status"),
            std::vector<std::string>{"CM_Get_DevNode_Status 1 0x0 -> 0x0 status=0xa problem=0"});
  EXPECT_EQ(machine.core.JournalOf("CM_Disable_DevNode"),
            std::vector<std::string>{"CM_Disable_DevNode 1 0x0 -> 0x0"});
  EXPECT_EQ(machine.core.JournalOf("SetupDiDestroyDeviceInfoList"),
            std::vector<std::string>{"SetupDiDestroyDeviceInfoList 0x100 -> 1"});
  EXPECT_EQ(Device(on).problem, 22u);
  EXPECT_EQ(Device(other).disableCalls, 0u);
}

// Wine's status query succeeds without writing: each device's problem number must start from
// 0, not from the device before it, or a working device after a disabled one is skipped.
TEST_F(PortableDevicesTest, ProblemNumberStartsAfreshForEachDevice) {
  AddWpdClass();
  machine.devices.AddDevice(kWpdClassGuid, true, 22);
  SimDevice silent = Device(machine.devices.AddDevice(kWpdClassGuid));
  silent.statusSilent = true;
  machine.devices.SetDevice(silent);

  SwitchPortableDevices(false);

  EXPECT_EQ(Device(silent.devInst).disableCalls, 1u);
}

// Without the class (a fresh Wine prefix) nothing is listed and no device node is touched:
// Wine ends the process on CM_Enable_DevNode and CM_Disable_DevNode.
TEST_F(PortableDevicesTest, MissingClassTouchesNothing) {
  machine.devices.AddDevice(kWpdClassGuid);
  for (bool lookupFails : {false, true}) {
    SCOPED_TRACE(lookupFails ? "lookup fails" : "no such class");
    if (lookupFails) {
      AddWpdClass();
      machine.core.FailCall(platform::sim::Fault::kSetupDiClassGuidsFromNameW, 13);
    }
    machine.core.ClearJournal();
    for (bool enable : {true, false}) EXPECT_NO_THROW(SwitchPortableDevices(enable));
    EXPECT_EQ(machine.core.JournalOf("SetupDiClassGuidsFromNameW").size(), 2u);
    EXPECT_TRUE(machine.core.JournalOf("SetupDiGetClassDevsW").empty());
    EXPECT_TRUE(machine.core.JournalOf("CM_").empty());
  }
}

TEST_F(PortableDevicesTest, ListFailureIsRaisedWithTheCodeInHex) {
  AddWpdClass();
  std::uint32_t dev = machine.devices.AddDevice(kWpdClassGuid);
  const std::pair<std::uint32_t, std::u16string> cases[] = {
      {87, u"SetupDiGetClassDevs failed. (err=57)"},
      {0xE000020Bu, u"SetupDiGetClassDevs failed. (err=e000020b)"},
  };
  for (const auto& [error, text] : cases) {
    machine.core.FailCall(platform::sim::Fault::kSetupDiGetClassDevsW, error, 0, 1);
    try {
      SwitchPortableDevices(true);
      ADD_FAILURE() << "no error raised for " << error;
    } catch (const DeviceListError& e) {
      EXPECT_EQ(e.text(), text);
      EXPECT_EQ(e.error(), error);
    }
  }
  EXPECT_EQ(Device(dev).enableCalls, 0u);
  EXPECT_EQ(machine.core.OpenHandleCount("devinfo"), 0u);
}

// A failing enumeration ends the pass like the end of the list, and the set is still released.
TEST_F(PortableDevicesTest, EnumerationFailureEndsThePass) {
  AddWpdClass();
  std::uint32_t first = machine.devices.AddDevice(kWpdClassGuid);
  std::uint32_t second = machine.devices.AddDevice(kWpdClassGuid);
  machine.core.FailCall(platform::sim::Fault::kSetupDiEnumDeviceInfo, 13, 1);

  SwitchPortableDevices(true);

  EXPECT_EQ(Device(first).enableCalls, 1u);
  EXPECT_EQ(Device(second).enableCalls, 0u);
  EXPECT_EQ(machine.core.OpenHandleCount("devinfo"), 0u);
}

}  // namespace
}  // namespace enforcement
