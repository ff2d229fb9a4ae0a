// The guard's state and its two passes, by drive type, flags and SweepFlags.
#include "guard/VolumeGuard.h"

#include <gtest/gtest.h>

#include <set>

#include "GuardTestSupport.h"
#include "tests/unit/support/SimFixture.h"

namespace guard {
namespace {

using platform::Handle;
using platform::kInvalidHandleValue;
using platform::kNullHandle;
using Calls = std::vector<std::string>;

class VolumeGuardTest : public testsupport::SimTest {
 protected:
  void SetFlags(bool removable, bool optical) {
    VolumeGuard::RemovableLock = removable ? 1 : 0;
    VolumeGuard::OpticalLock = optical ? 1 : 0;
  }

  /// Volume handles the guard holds in its slots (neither 0 nor INVALID_HANDLE_VALUE).
  std::set<Handle> HeldHandles() const {
    std::set<Handle> held;
    for (int i = 0; i < kDriveCount; ++i) {
      for (Handle h : {g.removableHandles[i], g.opticalHandles[i]}) {
        if (h != kNullHandle && h != kInvalidHandleValue) held.insert(h);
      }
    }
    return held;
  }

  /// The machine's open volume handles are exactly the guard's held ones.
  void ExpectNoLeak() const {
    std::set<Handle> open;
    for (const auto& [h, entry] : sim.core.OpenHandles()) {
      if (entry.kind == "volume") open.insert(h);
    }
    EXPECT_EQ(open, HeldHandles());
  }

  VolumeGuard g;
};

// What one pass does to one volume, with the policy flag of the volume's kind set or clear.
// A field a row leaves out is the never-selected drive's: no probe, no calls, nothing recorded.
struct PassRow {
  const char* name;
  std::uint32_t type;
  bool answersAta = false;
  SweepFlags selectedBy = 0;  // 0: never selected; 0xFF: every pass
  bool optical = false;       // which policy flag and which kind
  Calls lockSet{}, lockClear{}, releaseSet{}, releaseClear{};
  bool recordedOnLock = false;  // whether the lock pass records an entry
  bool heldWhenClear = false;   // whether the lock pass keeps a handle with the flag clear
  std::uint32_t bus = platform::kBusTypeUsb;
};

const Calls kTake = {"open", "sleep100", "lock", "dismount"};
const Calls kGiveBack = {"open", "sleep100", "unlock", "close"};

const PassRow kPassRows[] = {
    {.name = "removable",
     .type = 2,
     .answersAta = false,
     .selectedBy = kSweepRemovable,
     .optical = false,
     .lockSet = kTake,
     .lockClear = {},
     .releaseSet = {},
     .releaseClear = kGiveBack,
     .recordedOnLock = true,
     .heldWhenClear = false},
    // A USB disk's disk number is compared with that of C:, the system directory's volume; the
    // open of C: fails here, as this machine has no C:.
    {.name = "usb-disk",
     .type = 3,
     .answersAta = false,
     .selectedBy = kSweepRemovable,
     .optical = false,
     .lockSet = {"open", "probe", "query", "number", "open", "sleep100", "lock", "dismount"},
     .lockClear = {"open", "probe", "query", "number", "open"},
     .releaseSet = {"open", "probe", "query", "number", "open", "close"},
     .releaseClear = {"open", "probe", "query", "number", "open", "sleep100", "unlock", "close"},
     .recordedOnLock = true,
     .heldWhenClear = true},
    {.name = "nvme-disk",
     .type = 3,
     .answersAta = false,
     .selectedBy = kSweepRemovable,
     .optical = false,
     .lockSet = {"open", "probe", "query", "hotplug", "close"},
     .lockClear = {"open", "probe", "query", "hotplug", "close"},
     .releaseSet = {"open", "probe", "query", "hotplug", "close"},
     .releaseClear = {"open", "probe", "query", "hotplug", "close"},
     .recordedOnLock = false,
     .heldWhenClear = false,
     .bus = platform::kBusTypeNvme},
    {.name = "internal-disk",
     .type = 3,
     .answersAta = true,
     .selectedBy = kSweepRemovable,
     .optical = false,
     .lockSet = {"open", "probe", "close"},
     .lockClear = {"open", "probe", "close"},
     .releaseSet = {"open", "probe", "close"},
     .releaseClear = {"open", "probe", "close"},
     .recordedOnLock = false,
     .heldWhenClear = false},
    {.name = "ram-disk",
     .type = 6,
     .answersAta = false,
     .selectedBy = 0xFF,
     .optical = false,
     .lockSet = {"open", "probe", "sleep100", "lock", "dismount"},
     .lockClear = {"open", "probe"},
     .releaseSet = {"open", "probe", "close"},
     .releaseClear = {"open", "probe", "sleep100", "unlock", "close"},
     .recordedOnLock = true,
     .heldWhenClear = true},
    {.name = "cdrom",
     .type = 5,
     .answersAta = false,
     .selectedBy = kSweepOptical,
     .optical = true,
     .lockSet = kTake,
     .lockClear = {},
     .releaseSet = {},
     .releaseClear = kGiveBack,
     .recordedOnLock = true,
     .heldWhenClear = false},
    {.name = "network", .type = 4},
    {.name = "unknown", .type = 0},
    {.name = "no-root", .type = 1},
    {.name = "beyond-six", .type = 7},
};

TEST_F(VolumeGuardTest, EachDriveTypeThroughBothPassesUnderEveryFlagCombination) {
  for (const PassRow& row : kPassRows) {
    for (SweepFlags flags : {0x00u, 0x01u, 0x10u, 0x11u}) {
      for (bool own : {false, true}) {
        for (bool other : {false, true}) {
          for (bool lockPass : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + " flags=" + std::to_string(flags) +
                         " own=" + std::to_string(own) + " other=" + std::to_string(other) +
                         (lockPass ? " lock" : " release"));
            platform::sim::SimMachine machine;
            machine.Install();
            platform::sim::SimDrive d;
            d.type = row.type;
            d.volumePresent = true;
            d.answersAtaIdentify = row.answersAta;
            d.busType = row.bus;
            machine.volumes.SetDrive('E', d);
            VolumeGuard guard;
            VolumeGuard::RemovableLock = row.optical ? other : own;
            VolumeGuard::OpticalLock = row.optical ? own : other;
            if (lockPass) {
              guard.LockSweep(flags);
            } else {
              guard.ReleaseSweep(flags);
            }

            bool selected = row.selectedBy == 0xFF || (row.selectedBy & flags) != 0;
            Calls expected;
            if (selected) {
              expected = lockPass ? (own ? row.lockSet : row.lockClear)
                                  : (own ? row.releaseSet : row.releaseClear);
            }
            EXPECT_EQ(testsupport::VolumeCalls(machine.core), expected);
            EXPECT_EQ(machine.core.JournalOf("GetDriveTypeW").size(), 26u);

            int recorded = (lockPass && selected && row.recordedOnLock) ? 1 : 0;
            EXPECT_EQ(guard.removableCount, row.optical ? 0 : recorded);
            EXPECT_EQ(guard.opticalCount, row.optical ? recorded : 0);
            bool held = lockPass && selected && row.recordedOnLock && (own || row.heldWhenClear);
            std::size_t openNow = machine.core.OpenHandleCount("volume");
            EXPECT_EQ(openNow, held ? 1u : 0u);
            bool locked = machine.volumes.Drive('E').lockedBy != kNullHandle;
            EXPECT_EQ(locked, held && own);
            if (held) {
              Handle slot = row.optical ? guard.opticalHandles[0] : guard.removableHandles[0];
              EXPECT_TRUE(machine.core.IsOpen(slot));
            }
          }
        }
      }
    }
  }
}

// A fixed disk or RAM disk by its answers, through both passes with the removable lock set and
// clear, beside C:, the internal system disk. An internal disk is opened, asked and closed, and
// stays mounted and unlocked; ClassifyDrive, which arrivals use, sorts a fixed disk the same way.
TEST_F(VolumeGuardTest, DisksByTheirAnswersThroughBothPassesAndClassifyDrive) {
  for (const guard::testing::DiskRow& row : guard::testing::kDiskRows) {
    for (bool lockPass : {true, false}) {
      for (bool on : {true, false}) {
        SCOPED_TRACE(std::string(row.name) + (lockPass ? " lock" : " release") +
                     (on ? " flag set" : " flag clear"));
        platform::sim::SimMachine machine;
        machine.Install();
        guard::testing::SetUpDiskRow(machine, row);
        VolumeGuard guard;
        VolumeGuard::RemovableLock = on ? 1 : 0;
        if (lockPass) {
          guard.LockSweep(kSweepRemovable);
        } else {
          guard.ReleaseSweep(kSweepRemovable);
        }

        // C: answers the probe and is closed at once; then D:.
        Calls expected = {"open", "probe", "close", "open", "probe"};
        if (row.asksBus) expected.emplace_back("query");
        if (row.asksHotplug) expected.emplace_back("hotplug");
        if (row.AsksSystemDisk()) expected.emplace_back("number");
        if (row.AsksSystemDisk() && !row.numberFails) {
          expected.insert(expected.end(), {"open", "number", "close"});
        }
        if (!row.removableKind || (!lockPass && on)) {
          expected.emplace_back("close");
        } else if (lockPass && on) {
          expected.insert(expected.end(), {"sleep100", "lock", "dismount"});
        } else if (!lockPass) {
          expected.insert(expected.end(), {"sleep100", "unlock", "close"});
        }
        EXPECT_EQ(testsupport::VolumeCalls(machine.core), expected);
        const bool recorded = lockPass && row.removableKind;
        EXPECT_EQ(guard.removableCount, recorded ? 1 : 0);
        EXPECT_EQ(machine.core.OpenHandleCount("volume"), recorded ? 1u : 0u);
        const platform::sim::SimDrive d = machine.volumes.Drive('D');
        EXPECT_EQ(d.lockedBy != kNullHandle, recorded && on);
        EXPECT_EQ(d.mounted, !(recorded && on));
        EXPECT_TRUE(machine.volumes.Drive('C').mounted);
      }
    }
    if (row.type != platform::kDriveFixed) continue;
    platform::sim::SimMachine machine;
    machine.Install();
    guard::testing::SetUpDiskRow(machine, row);
    VolumeGuard guard;
    EXPECT_EQ(guard.ClassifyDrive(u"D:"), row.removableKind ? kClassRemovable : kClassNeither)
        << row.name;
    EXPECT_EQ(machine.core.OpenHandleCount("volume"), 0u);
  }
}

TEST_F(VolumeGuardTest, WithNoDrivesEachPassOnlyAsksTheTypeOfEveryLetter) {
  SetFlags(true, true);
  g.LockSweep(0x11);
  g.ReleaseSweep(0x11);
  auto journal = sim.core.Journal();
  ASSERT_EQ(journal.size(), 52u);
  for (int i = 0; i < 52; ++i) {
    EXPECT_EQ(journal[i], std::string("GetDriveTypeW ") + char('A' + i % 26) + ": -> 1");
  }
}

// The once-a-second check asks the type of the letters in use that the guard does not hold, and
// the paths of the volumes not yet seen with a letter while those letters were in use; when the
// letters in use cannot be had, it asks every letter it does not hold and every volume.
TEST_F(VolumeGuardTest, OnceASecondCheckAsksOnlyWhatMayHaveChanged) {
  AddDrive('C', platform::kDriveFixed, /*answersAta=*/true);
  AddDrive('E', platform::kDriveRemovable);
  AddDrive('F', platform::kDriveCdrom);
  SetFlags(true, true);
  g.LockSweep(0x11);
  auto check = [&] {
    sim.core.ClearJournal();
    g.KeepLocked();
    std::string asked;
    for (const std::string& line : sim.core.JournalOf("GetDriveTypeW ")) asked += line[14];
    return asked + " " +
           std::to_string(sim.core.JournalOf("GetVolumePathNamesForVolumeNameW ").size());
  };
  EXPECT_EQ(check(), "C 3") << "the first check";
  EXPECT_EQ(check(), "C 0") << "the same letters in use";
  AddDrive('K', platform::kDriveRemovable);
  EXPECT_EQ(check(), "CK 4") << "a new letter, taken";
  EXPECT_EQ(g.removableHandles[g.removableCount - 1], sim.volumes.Drive('K').lockedBy);
  sim.core.FailCall(platform::sim::Fault::kGetLogicalDrives, platform::kErrorAccessDenied);
  EXPECT_EQ(check(), "ABCDGHIJLMNOPQRSTUVWXYZ 4") << "no list of the letters in use";
  EXPECT_EQ(check(), "ABCDGHIJLMNOPQRSTUVWXYZ 4");
  ExpectNoLeak();
}

TEST_F(VolumeGuardTest, RepeatedLockPassesCountEveryDriveAgain) {
  AddDrive('E', platform::kDriveRemovable);
  AddDrive('F', platform::kDriveCdrom);
  AddDrive('G', platform::kDriveFixed);
  SetFlags(true, true);
  g.LockSweep(0x11);
  EXPECT_EQ(g.removableCount, 2);
  EXPECT_EQ(g.opticalCount, 1);
  g.LockSweep(0x11);
  // The locked removable and optical volumes refuse the second open and are recorded with
  // INVALID_HANDLE_VALUE; the locked fixed disk's failed open is skipped.
  EXPECT_EQ(g.removableCount, 3);
  EXPECT_EQ(g.opticalCount, 2);
  EXPECT_EQ(g.removableHandles[2], kInvalidHandleValue);
  EXPECT_EQ(g.opticalHandles[1], kInvalidHandleValue);
  EXPECT_EQ(sim.volumes.Drive('E').lockedBy, g.removableHandles[0]);
  EXPECT_EQ(sim.volumes.Drive('G').lockedBy, g.removableHandles[1]);
  EXPECT_EQ(sim.volumes.Drive('F').lockedBy, g.opticalHandles[0]);
  ExpectNoLeak();
}

TEST_F(VolumeGuardTest, LockPassWithFlagsClearOpensOnlyFixedAndRamDisks) {
  AddDrive('E', platform::kDriveRemovable);
  AddDrive('F', platform::kDriveCdrom);
  AddDrive('G', platform::kDriveFixed);
  AddDrive('H', platform::kDriveRamdisk);
  AddDrive('C', platform::kDriveFixed, /*answersAta=*/true);
  g.LockSweep(0x01);
  EXPECT_EQ(g.removableCount, 3) << "E recorded unopened, G and H held open";
  EXPECT_EQ(g.removableHandles[0], kNullHandle)
      << "C's probe handle was closed and its slot zeroed; E's entry left the slot as it was";
  g.LockSweep(0x10);
  EXPECT_EQ(g.opticalCount, 1);
  EXPECT_TRUE(sim.volumes.HandlesOn('F').empty());
  g.LockSweep(0x00);
  // The RAM disk took part in the optical pass and again in a pass with no flags.
  EXPECT_EQ(g.removableCount, 5);
  for (char c : {'E', 'F', 'G', 'H', 'C'}) {
    EXPECT_EQ(sim.volumes.Drive(c).lockedBy, kNullHandle) << c;
  }
  ExpectNoLeak();
}

TEST_F(VolumeGuardTest, FailedOpensAreRecordedOrSkippedByBranch) {
  AddDrive('E', platform::kDriveRemovable, false, /*openFails=*/true);
  AddDrive('F', platform::kDriveCdrom, false, /*openFails=*/true);
  AddDrive('G', platform::kDriveFixed, false, /*openFails=*/true);
  SetFlags(true, true);
  g.LockSweep(0x11);
  EXPECT_EQ(g.removableCount, 1);
  EXPECT_EQ(g.removableHandles[0], kInvalidHandleValue);
  EXPECT_EQ(g.removableHandles[1], kInvalidHandleValue) << "G's failed open left in scratch";
  EXPECT_EQ(g.opticalCount, 1);
  EXPECT_EQ(g.opticalHandles[0], kInvalidHandleValue);
  sim.core.ClearJournal();
  g.CloseVolumeHandles(kBothKinds);
  // Every non-zero slot goes to CloseHandle, INVALID_HANDLE_VALUE included.
  EXPECT_EQ(sim.core.JournalOf("CloseHandle").size(), 3u);
  EXPECT_EQ(g.removableHandles[0], kNullHandle);
  EXPECT_EQ(g.removableHandles[1], kNullHandle);
}

TEST_F(VolumeGuardTest, CloseVolumeHandlesByKind) {
  AddDrive('E', platform::kDriveRemovable);
  AddDrive('F', platform::kDriveCdrom);
  struct Row {
    std::uint8_t kind;
    bool removableClosed;
    bool opticalClosed;
  };
  for (Row row :
       {Row{0, true, false}, Row{1, false, true}, Row{2, true, true}, Row{3, false, false}}) {
    SCOPED_TRACE(int(row.kind));
    g.CloseVolumeHandles(kBothKinds);
    SetFlags(true, true);
    g.LockSweep(0x11);
    Handle removable = g.removableHandles[0];
    Handle optical = g.opticalHandles[0];
    g.CloseVolumeHandles(row.kind);
    EXPECT_EQ(g.removableCount, row.removableClosed ? 0 : 1);
    EXPECT_EQ(g.opticalCount, row.opticalClosed ? 0 : 1);
    EXPECT_EQ(sim.core.IsOpen(removable), !row.removableClosed);
    EXPECT_EQ(sim.core.IsOpen(optical), !row.opticalClosed);
    // Closing the locking handle is what ends the lock; no unlock is sent.
    EXPECT_EQ(sim.volumes.Drive('E').lockedBy == kNullHandle, row.removableClosed);
    EXPECT_EQ(sim.volumes.Drive('F').lockedBy == kNullHandle, row.opticalClosed);
  }
  EXPECT_TRUE(sim.core.JournalOf("DeviceIoControl E: 0x9001c").empty());
  VolumeGuard fresh;
  sim.core.ClearJournal();
  fresh.CloseVolumeHandles(kBothKinds);
  EXPECT_TRUE(sim.core.Journal().empty());
}

TEST_F(VolumeGuardTest, ClassifyDriveByType) {
  AddDrive('C', platform::kDriveFixed, /*answersAta=*/true);
  AddDrive('E', platform::kDriveRemovable);
  AddDrive('F', platform::kDriveCdrom);
  AddDrive('G', platform::kDriveFixed);
  AddDrive('H', platform::kDriveRamdisk);
  AddDrive('N', platform::kDriveRemote);
  AddDrive('U', platform::kDriveFixed, false, /*openFails=*/true);
  struct Row {
    const char16_t* root;
    std::int32_t cls;
    std::size_t opens;
  };
  // G:, a USB disk, is compared with the disk of C:, the system directory's volume: two opens.
  for (Row row : {Row{u"C:", -1, 1}, Row{u"E:", 0, 0}, Row{u"F:", 1, 0}, Row{u"G:", 0, 2},
                  Row{u"H:", -1, 0}, Row{u"N:", -1, 0}, Row{u"Q:", -1, 0}, Row{u"U:", 0, 1}}) {
    sim.core.ClearJournal();
    EXPECT_EQ(g.ClassifyDrive(row.root), row.cls);
    EXPECT_EQ(sim.core.JournalOf("CreateFileW").size(), row.opens);
  }
  EXPECT_EQ(OpenVolumeHandles(), 0u) << "the probe's handle is closed";
}

TEST_F(VolumeGuardTest, HundredPassesNeverOutgrowTheSlotsAndKeepBlockedVolumesLocked) {
  // Two locked removable sticks, three ATA-less fixed disks held unlocked under the optical
  // policy alone, and two CD-ROMs: every pass adds entries until slots must be reclaimed.
  AddDrive('E', platform::kDriveRemovable);
  AddDrive('F', platform::kDriveRemovable);
  AddDrive('G', platform::kDriveCdrom);
  AddDrive('H', platform::kDriveCdrom);
  AddDrive('I', platform::kDriveFixed);
  AddDrive('J', platform::kDriveFixed);
  AddDrive('K', platform::kDriveRamdisk);
  for (bool removable : {true, false}) {
    SCOPED_TRACE(removable);
    g.CloseVolumeHandles(kBothKinds);
    SetFlags(removable, true);
    for (int pass = 0; pass < 100; ++pass) {
      g.LockSweep(0x11);
      ASSERT_GE(g.removableCount, 0);
      ASSERT_LE(g.removableCount, kDriveCount);
      ASSERT_LE(g.opticalCount, kDriveCount);
    }
    for (char c : {'E', 'F', 'I', 'J', 'K'}) {
      EXPECT_EQ(sim.volumes.Drive(c).lockedBy != kNullHandle, removable) << c;
    }
    for (char c : {'G', 'H'}) EXPECT_NE(sim.volumes.Drive(c).lockedBy, kNullHandle) << c;
    ExpectNoLeak();
  }
}

}  // namespace
}  // namespace guard
