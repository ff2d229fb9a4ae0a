// The guard's volumes without a drive letter: found by enumeration, sorted like a letter's, held
// in their own table, given back and let go like the others.
#include <gtest/gtest.h>

#include <string>

#include "guard/VolumeGuard.h"
#include "tests/unit/guard/GuardTestSupport.h"
#include "tests/unit/support/SimFixture.h"

namespace guard {
namespace {

using platform::sim::SimDrive;
using testing::AtaDisk;
using testing::NvmeDisk;
using testing::Stick;

class LetterlessTest : public testsupport::SimTest {
 protected:
  int HeldLetterless() const {
    int n = 0;
    for (platform::Handle h : guard.letterlessHandles) {
      n += h != platform::kNullHandle && h != platform::kInvalidHandleValue ? 1 : 0;
    }
    return n;
  }
  std::size_t Opens(const std::string& name) const {
    return sim.core.JournalOf("CreateFileW \\\\?\\Volume{" + name + "}").size();
  }

  VolumeGuard guard;
};

// Under the removable lock a letterless stick is locked and a letterless internal disk left
// alone and not asked again each second; a stick mounted on a letter and in a folder is held
// once, by its letter; switching the lock off lets the letterless stick go.
TEST_F(LetterlessTest, TakenByTheirKindAndGivenBack) {
  const char stick = sim.volumes.AddLetterlessVolume("stick", Stick());
  sim.volumes.AddLetterlessVolume("efi", AtaDisk());
  sim.volumes.AddLetterlessVolume("data", NvmeDisk());
  SimDrive e = Stick();
  e.mountPoints = {u"C:\\mnt\\e\\"};
  sim.volumes.SetDrive('E', e);

  VolumeGuard::RemovableLock = 1;
  guard.LockSweep(kSweepRemovable);
  EXPECT_NE(sim.volumes.Drive(stick).lockedBy, platform::kNullHandle);
  EXPECT_EQ(HeldLetterless(), 1);
  EXPECT_EQ(sim.volumes.HandlesOn('E').size(), 1u);
  EXPECT_EQ(Opens("efi"), 1u);
  for (int second = 0; second < 3; ++second) guard.KeepLocked();
  EXPECT_EQ(Opens("efi"), 1u) << "an internal disk is not probed again";
  EXPECT_EQ(Opens("stick"), 1u) << "a held volume is not opened again";

  guard.SetRemovableLock(false);
  EXPECT_EQ(sim.volumes.Drive(stick).lockedBy, platform::kNullHandle);
  EXPECT_EQ(HeldLetterless(), 0);
  EXPECT_TRUE(sim.volumes.Openable(stick));
}

// A letterless volume that appears is named by no broadcast: the once-a-second check takes it;
// a removal whose broadcast names no letter still lets go of it once its device is gone, and of
// nothing else.
TEST_F(LetterlessTest, AppearingAndGoingWithoutABroadcastLetter) {
  sim.volumes.SetDrive('E', Stick());
  VolumeGuard::RemovableLock = 1;
  guard.LockSweep(kSweepRemovable);
  const char card = sim.volumes.AddLetterlessVolume("card", Stick());
  guard.KeepLocked();
  EXPECT_NE(sim.volumes.Drive(card).lockedBy, platform::kNullHandle);

  sim.volumes.RemoveDrive(card);
  const platform::DevBroadcastVolume none = testing::VolumeBroadcast(0);
  guard.OnDeviceChange(platform::kDbtDeviceRemoveComplete, &none);
  EXPECT_EQ(HeldLetterless(), 0);
  EXPECT_TRUE(sim.volumes.HandlesOn(card).empty());
  EXPECT_NE(sim.volumes.Drive('E').lockedBy, platform::kNullHandle);
}

// More letterless sticks than the table holds: the table fills, the rest are not held and the
// log says so once; nothing is written outside the table.
TEST_F(LetterlessTest, AFullTableIsLoggedOnce) {
  for (int i = 0; i < kLetterlessCount + 2; ++i) {
    sim.volumes.AddLetterlessVolume("stick" + std::to_string(i), Stick());
  }
  VolumeGuard::RemovableLock = 1;
  guard.LockSweep(kSweepRemovable);
  guard.KeepLocked();
  EXPECT_EQ(HeldLetterless(), kLetterlessCount);
  EXPECT_EQ(sim.core.DebugTexts().size(), 1u);
  EXPECT_EQ(sim.core.DebugTexts().front(), "\n(VexService) Letterless volume table full.");
}

}  // namespace
}  // namespace guard
