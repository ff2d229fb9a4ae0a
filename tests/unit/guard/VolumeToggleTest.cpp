// Switching a lock policy at run time brings that kind's volumes into line and no other.
#include <gtest/gtest.h>

#include <algorithm>

#include "GuardTestSupport.h"
#include "platform/sim/SimDevices.h"
#include "service/ServiceState.h"

namespace guard {
namespace {

using namespace guard::testing;  // NOLINT(google-build-using-namespace)
using platform::sim::kWpdClassGuid;

// C internal ATA disk, D CD-ROM, E stick, F USB disk, R RAM disk, Z network.
void AddDrives(SimMachine& m) {
  m.volumes.SetDrive('C', AtaDisk());
  m.volumes.SetDrive('D', Cd());
  m.volumes.SetDrive('E', Stick());
  m.volumes.SetDrive('F', UsbDisk());
  m.volumes.SetDrive('R', RamDisk());
  m.volumes.SetDrive('Z', Network());
}

// The state start-up leaves: both flags and the one lock pass that matches them.
void StartWith(SimMachine& m, VolumeGuard& g, bool removable, bool optical) {
  VolumeGuard::RemovableLock = removable ? 1 : 0;
  VolumeGuard::OpticalLock = optical ? 1 : 0;
  g.LockSweep((removable ? kSweepRemovable : 0) | (optical ? kSweepOptical : 0));
  m.core.ClearJournal();
}

class VolumeToggleTest : public ::testing::Test {
 protected:
  // A process as the service's start leaves it: flags clear, the portable-device switch
  // connected to the guard's release of the removable lock.
  VolumeToggleTest() {
    machine.Install();
    service::ResetWholeProcess();
    AddDrives(machine);
  }
  ~VolumeToggleTest() override { service::ResetWholeProcess(); }

  void Start(bool removable, bool optical) { StartWith(machine, guard, removable, optical); }

  bool Toggle(bool optical, bool on) {
    return optical ? guard.SetOpticalLock(on) : guard.SetRemovableLock(on);
  }

  SimMachine machine;
  VolumeGuard guard;
};

TEST_F(VolumeToggleTest, ToggleBringsItsKindIntoLineAndLeavesTheOtherAlone) {
  struct Case {
    const char* name;
    bool optical, on, startRemovable, startOptical;
    std::int32_t removableCount, opticalCount;
  };
  const Case cases[] = {
      {"removable on", false, true, false, false, 3, 0},
      {"removable on, optical held", false, true, false, true, 3, 1},
      {"removable off", false, false, true, false, 0, 0},
      {"removable off, optical held", false, false, true, true, 0, 1},
      // The optical passes take the RAM disk through the fixed-disk branch: with the removable
      // lock clear it is opened, held unlocked and recorded; with it set its open fails.
      {"optical on", true, true, false, false, 2, 1},
      {"optical on, removable held", true, true, true, false, 3, 1},
      {"optical off", true, false, false, true, 1, 0},
      {"optical off, removable held", true, false, true, true, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    AddDrives(m);
    VolumeGuard g;
    StartWith(m, g, c.startRemovable, c.startOptical);
    const Handle* otherSlots = c.optical ? g.removableHandles : g.opticalHandles;
    std::vector<Handle> other(otherSlots,
                              otherSlots + (c.optical ? g.removableCount : g.opticalCount));

    if (c.optical) {
      g.SetOpticalLock(c.on);
    } else {
      g.SetRemovableLock(c.on);
    }

    EXPECT_EQ(c.optical ? g.GetOpticalLock() : g.GetRemovableLock(), c.on);
    ExpectConsistent(m, g);
    EXPECT_EQ(g.removableCount, c.removableCount);
    EXPECT_EQ(g.opticalCount, c.opticalCount);
    // The other kind's entries are the ones it had.
    EXPECT_TRUE(std::equal(other.begin(), other.end(), otherSlots));
    // A kind switched off leaves no handle open on its volumes.
    if (!c.on) {
      for (char l : c.optical ? std::string("D") : std::string("EFR")) {
        EXPECT_TRUE(m.volumes.HandlesOn(l).empty()) << l;
      }
    }
  }
}

TEST_F(VolumeToggleTest, SwitchingToTheCurrentValueDoesNothing) {
  machine.devices.AddClass(u"WPD", kWpdClassGuid);
  for (bool optical : {false, true}) {
    for (bool on : {false, true}) {
      SCOPED_TRACE(std::string(optical ? "optical " : "removable ") + (on ? "on" : "off"));
      Start(on, on);
      EXPECT_TRUE(Toggle(optical, on));
      EXPECT_TRUE(machine.core.Journal().empty());
    }
  }
}

TEST_F(VolumeToggleTest, RemovableOffEnablesPortableDevices) {
  machine.devices.AddClass(u"WPD", kWpdClassGuid);
  std::uint32_t phone = machine.devices.AddDevice(kWpdClassGuid, true, 22);
  Start(true, true);
  guard.SetOpticalLock(false);
  guard.SetOpticalLock(true);
  EXPECT_TRUE(machine.core.JournalOf("SetupDi").empty());

  guard.SetRemovableLock(false);

  EXPECT_EQ(machine.devices.Device(phone).problem, 0u);
}

// The device list failing ends neither the toggle nor the service: it is one log line.
TEST_F(VolumeToggleTest, DeviceListFailureIsLoggedAndSurvived) {
  machine.devices.AddClass(u"WPD", kWpdClassGuid);
  machine.core.FailCall(platform::sim::Fault::kSetupDiGetClassDevsW, 87, 0, 1);
  Start(true, false);

  guard.SetRemovableLock(false);

  EXPECT_EQ(Lines(machine),
            std::vector<std::string>{"\n(VexService) SetupDiGetClassDevs failed. (err=57)"});
  EXPECT_FALSE(guard.GetRemovableLock());
  ExpectConsistent(machine, guard);
  guard.SetRemovableLock(true);
  EXPECT_TRUE(guard.GetRemovableLock());
  ExpectConsistent(machine, guard);
}

}  // namespace
}  // namespace guard
