// The classification a tool reads: InspectDrive reports each drive as the passes sort it.
#include "guard/DriveKind.h"

#include <gtest/gtest.h>

#include "GuardTestSupport.h"
#include "programs/tarvel-sim/Simulator.h"
#include "tests/unit/support/SimFixture.h"

namespace guard {
namespace {

class DriveKindTest : public testsupport::SimTest {};

// For every disk of the table, InspectDrive's kind is what a lock pass under the removable lock
// does with it (taken or left alone), the simulator's model of the disk agrees, the facts say
// which questions were asked, and it takes, locks and keeps nothing itself.
TEST_F(DriveKindTest, InspectDriveAgreesWithTheLockPass) {
  for (const guard::testing::DiskRow& row : guard::testing::kDiskRows) {
    SCOPED_TRACE(row.name);
    platform::sim::SimMachine machine;
    machine.Install();
    guard::testing::SetUpDiskRow(machine, row);
    DriveFacts facts = InspectDrive(3);
    EXPECT_EQ(facts.type, row.type);
    EXPECT_TRUE(facts.opened);
    EXPECT_EQ(facts.answersAta, row.ata);
    EXPECT_EQ(facts.bus.answered, row.asksBus && row.query == platform::sim::SimBusQuery::kAnswers);
    EXPECT_EQ(facts.hotplug.answered, row.asksHotplug && !row.hotplugFails);
    EXPECT_EQ(facts.hotplug.deviceHotplug, facts.hotplug.answered && row.hotplug);
    EXPECT_EQ(facts.systemDisk, row.systemVeto);
    EXPECT_EQ(facts.kind == DriveKind::kRemovable, row.removableKind);
    EXPECT_EQ(simulator::SimulatedFacts(machine, 'D').kind, facts.kind);
    EXPECT_EQ(machine.core.OpenHandleCount("volume"), 0u);
    EXPECT_TRUE(machine.volumes.VolumeEvents().empty());

    VolumeGuard guard;
    VolumeGuard::RemovableLock = 1;
    guard.LockSweep(kSweepRemovable);
    EXPECT_EQ(machine.volumes.Drive('D').lockedBy != platform::kNullHandle, row.removableKind);
    EXPECT_EQ(machine.volumes.Drive('C').lockedBy, platform::kNullHandle);
    EXPECT_TRUE(machine.volumes.Drive('C').mounted);
  }
}

TEST_F(DriveKindTest, InspectDriveOpensOnlyFixedAndRamDisks) {
  sim.volumes.SetDrive('E', guard::testing::Stick());
  sim.volumes.SetDrive('F', guard::testing::Cd());
  sim.volumes.SetDrive('N', guard::testing::Network());
  AddDrive('U', platform::kDriveFixed, false, /*openFails=*/true);
  struct Row {
    int index;
    DriveKind kind;
  };
  // A fixed disk whose open fails is removable kind, as ClassifyDrive has it.
  for (Row row :
       {Row{4, DriveKind::kRemovable}, Row{5, DriveKind::kOptical}, Row{13, DriveKind::kNeither},
        Row{16, DriveKind::kNeither}, Row{20, DriveKind::kRemovable}, Row{-1, DriveKind::kNeither},
        Row{26, DriveKind::kNeither}}) {
    SCOPED_TRACE(row.index);
    DriveFacts facts = InspectDrive(row.index);
    EXPECT_EQ(facts.kind, row.kind);
    EXPECT_FALSE(facts.opened);
  }
  // Only U's failed open: sticks, CDs and network drives are sorted by type alone.
  EXPECT_EQ(sim.core.JournalOf("CreateFileW").size(), 1u);
}

}  // namespace
}  // namespace guard
