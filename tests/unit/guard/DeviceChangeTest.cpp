// Device-change broadcasts: arrivals lock what the policy blocks, removals rebuild every lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "GuardTestSupport.h"

namespace guard {
namespace {

using namespace guard::testing;  // NOLINT(google-build-using-namespace)
using platform::kDbtDeviceArrival;
using platform::kDbtDeviceRemoveComplete;

const std::vector<std::string> kArrivalLines = {"\n(VexService) Device arrival",
                                                "\n(VexService) Handle device arrival finish"};

void SetFlags(bool removable, bool optical) {
  VolumeGuard::RemovableLock = removable ? 1 : 0;
  VolumeGuard::OpticalLock = optical ? 1 : 0;
}

SweepFlags FlagsOf(bool removable, bool optical) {
  return (removable ? kSweepRemovable : 0) | (optical ? kSweepOptical : 0);
}

std::int32_t Arrive(VolumeGuard& g, char letter) {
  platform::DevBroadcastVolume v = VolumeBroadcast(MaskOf(letter));
  return g.OnDeviceChange(kDbtDeviceArrival, &v);
}

// The guard's whole state, to show that a broadcast changed none of it.
struct Snapshot {
  std::uint32_t arrivalIndex;
  std::int32_t removableCount, opticalCount;
  std::vector<Handle> slots;
  explicit Snapshot(const VolumeGuard& g)
      : arrivalIndex(g.arrivalIndex),
        removableCount(g.removableCount),
        opticalCount(g.opticalCount),
        slots(std::begin(g.removableHandles), std::end(g.removableHandles)) {
    slots.insert(slots.end(), std::begin(g.opticalHandles), std::end(g.opticalHandles));
  }
  bool operator==(const Snapshot&) const = default;
};

class DeviceChangeTest : public ::testing::Test {
 protected:
  DeviceChangeTest() { machine.Install(); }
  SimMachine machine;
  VolumeGuard guard;
};

TEST_F(DeviceChangeTest, ArrivalTakesWhatThePolicyBlocks) {
  struct Case {
    const char* name;
    SimDrive drive;
    bool removableLock, opticalLock;
    std::int32_t removableAdded, opticalAdded;
    std::size_t handlesOnNewVolume;
  };
  // Present before: C internal ATA disk, E and G sticks. The volume arrives as F.
  const Case cases[] = {
      // The arrival's own entry, whose handle takes F; E and G are already held, so the pass
      // that follows records nothing and F is never opened a second time.
      {"stick, removable lock", Stick(), true, false, 1, 0, 1},
      {"USB disk, removable lock", UsbDisk(), true, true, 1, 0, 1},
      {"stick, removable lock clear", Stick(), false, true, 1, 0, 0},
      {"CD, optical lock", Cd(), false, true, 0, 1, 1},
      {"CD, optical lock clear", Cd(), true, false, 0, 1, 0},
      {"network drive", Network(), true, true, 0, 1, 0},
      {"internal ATA disk", AtaDisk(), true, true, 0, 1, 0},
      {.name = "internal NVMe disk",
       .drive = NvmeDisk(),
       .removableLock = true,
       .opticalLock = true,
       .removableAdded = 0,
       .opticalAdded = 1,
       .handlesOnNewVolume = 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.Install();
    m.volumes.SetDrive('C', AtaDisk());
    m.volumes.SetDrive('E', Stick());
    m.volumes.SetDrive('G', Stick());
    VolumeGuard g;
    SetFlags(c.removableLock, c.opticalLock);
    g.LockSweep(FlagsOf(c.removableLock, c.opticalLock));
    const std::int32_t removableBefore = g.removableCount;
    const std::int32_t opticalBefore = g.opticalCount;
    m.volumes.SetDrive('F', c.drive);
    m.core.ClearJournal();

    EXPECT_EQ(Arrive(g, 'F'), 1);

    EXPECT_EQ(g.arrivalIndex, 5u);
    EXPECT_EQ(g.removableCount - removableBefore, c.removableAdded);
    EXPECT_EQ(g.opticalCount - opticalBefore, c.opticalAdded);
    EXPECT_EQ(m.volumes.HandlesOn('F').size(), c.handlesOnNewVolume);
    EXPECT_EQ(Lines(m), kArrivalLines);
    ExpectConsistent(m, g);
  }
}

// An arriving fixed disk or RAM disk by its answers, under both locks: a removable-kind
// fixed disk is taken, anything else is recorded as an optical entry and left mounted and
// unlocked, and the removal that follows sorts it the same way.
TEST_F(DeviceChangeTest, ArrivingDisksAreSortedByTheirAnswers) {
  for (const DiskRow& row : kDiskRows) {
    SCOPED_TRACE(row.name);
    SimMachine m;
    m.Install();
    VolumeGuard g;
    SetFlags(true, true);
    SetUpDiskRow(m, row);
    const bool removable = row.type == platform::kDriveFixed && row.removableKind;
    EXPECT_EQ(g.ClassifyArrival(MaskOf('D')), removable ? 0 : -1);
    g.CloseVolumeHandles(kBothKinds);

    Arrive(g, 'D');
    EXPECT_EQ(g.opticalCount, removable ? 0 : 1);
    EXPECT_EQ(m.volumes.Drive('D').lockedBy != platform::kNullHandle, removable);
    EXPECT_EQ(m.volumes.Drive('D').mounted, !removable);
    // An arriving RAM disk is in neither kind; only the next pass takes it.
    if (row.type == platform::kDriveFixed) ExpectConsistent(m, g);

    g.OnDeviceChange(kDbtDeviceRemoveComplete, nullptr);
    EXPECT_EQ(m.volumes.Drive('D').lockedBy != platform::kNullHandle, row.removableKind);
    ExpectConsistent(m, g);
  }
}

// The arrival's own handle is the one that holds the lock, on a CD and on a stick alike; the
// stick's is locked after the arrival pause and the take's pause.
TEST_F(DeviceChangeTest, ArrivalPausesBeforeTakingTheVolume) {
  machine.volumes.SetDrive('D', Cd());
  SetFlags(true, true);
  Arrive(guard, 'D');
  EXPECT_EQ(machine.volumes.Drive('D').lockedBy, guard.opticalHandles[0]);

  machine.volumes.SetDrive('E', Stick());
  machine.core.ClearJournal();
  Arrive(guard, 'E');
  std::vector<std::string> journal = machine.core.Journal();
  auto open = std::find(journal.begin(), journal.end(),
                        "CreateFileW \\\\.\\E: 0xc0000000 3 3 0 -> " +
                            platform::sim::HandleText(guard.removableHandles[0]));
  ASSERT_NE(open, journal.end());
  // The arrival pause, then the take's own pause, and the lock through the arrival's handle.
  EXPECT_EQ(*(open + 1), "Sleep 100");
  EXPECT_EQ(*(open + 2), "Sleep 100");
  EXPECT_EQ(*(open + 3), "DeviceIoControl E: 0x90018 -> 1");
  EXPECT_EQ(machine.volumes.Drive('E').lockedBy, guard.removableHandles[0]);
}

TEST_F(DeviceChangeTest, ClassifyArrivalTakesTheLowestLetterOnly) {
  struct Case {
    const char* name;
    std::uint32_t mask;
    std::int32_t cls;
    std::uint32_t index;
    std::int32_t removableAdded, opticalAdded;
  };
  // E stick, G CD-ROM, Z stick; B has no volume. arrivalIndex starts at 7.
  const Case cases[] = {
      {"no letter", 0, -1, 7, 0, 0},
      {"bits above Z only", 0xFC000000u, -1, 7, 0, 0},
      {"E and G", MaskOf('E') | MaskOf('G'), 0, 4, 1, 0},
      {"G and Z", MaskOf('G') | MaskOf('Z'), 1, 6, 0, 1},
      {"Z", MaskOf('Z'), 0, 25, 1, 0},
      {"absent letter", MaskOf('B'), -1, 1, 0, 1},
  };
  machine.volumes.SetDrive('E', Stick());
  machine.volumes.SetDrive('G', Cd());
  machine.volumes.SetDrive('Z', Stick());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    guard.arrivalIndex = 7;
    guard.removableCount = guard.opticalCount = 0;
    machine.core.ClearJournal();

    EXPECT_EQ(guard.ClassifyArrival(c.mask), c.cls);

    EXPECT_EQ(guard.arrivalIndex, c.index);
    EXPECT_EQ(guard.removableCount, c.removableAdded);
    EXPECT_EQ(guard.opticalCount, c.opticalAdded);
    EXPECT_TRUE(machine.core.JournalOf("CreateFileW").empty());
  }
}

// A broadcast is read no further than it reaches: each buffer below is allocated at exactly its
// size, so that the address sanitizer reports any read past it.
TEST_F(DeviceChangeTest, MalformedBroadcastsChangeNothing) {
  struct Case {
    const char* name;
    std::uint32_t event;
    std::vector<std::uint32_t> words;  // the buffer; empty: a null pointer
    bool arrivalLines;
  };
  const std::uint32_t volume = platform::kDbtDevtypVolume;
  const Case cases[] = {
      {"arrival, no data", kDbtDeviceArrival, {}, true},
      {"arrival, interface header", kDbtDeviceArrival, {12, 5, 0}, true},
      {"arrival, volume header without mask", kDbtDeviceArrival, {12, volume, 0}, true},
      {"arrival, size field only", kDbtDeviceArrival, {4}, true},
      {"arrival, size short of the type", kDbtDeviceArrival, {8, volume}, true},
      {"arrival, empty mask", kDbtDeviceArrival, {16, volume, 0, 0}, true},
      {"query remove", 0x8001, {}, false},
      {"devnodes changed", 0x0007, {4}, false},
  };
  machine.volumes.SetDrive('E', Stick());
  SetFlags(true, true);
  guard.LockSweep(0x11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<std::uint8_t[]> data;
    if (!c.words.empty()) {
      data = std::make_unique<std::uint8_t[]>(c.words.size() * 4);
      std::memcpy(data.get(), c.words.data(), c.words.size() * 4);
    }
    Snapshot before(guard);
    machine.core.ClearJournal();

    guard.OnDeviceChange(c.event, data.get());

    EXPECT_EQ(Snapshot(guard), before);
    EXPECT_TRUE(machine.core.JournalOf("GetDriveTypeW").empty());
    EXPECT_EQ(machine.core.JournalOf("OutputDebugString").size(), c.arrivalLines ? 2u : 0u);
  }
  EXPECT_EQ(Lines(machine).size(), 12u);
}

TEST_F(DeviceChangeTest, RemovalRebuildsAsOneFreshLockPass) {
  auto addDrives = [](SimMachine& m) {
    m.volumes.SetDrive('C', AtaDisk());
    m.volumes.SetDrive('D', Cd());
    m.volumes.SetDrive('E', Stick());
    m.volumes.SetDrive('F', UsbDisk());
    m.volumes.SetDrive('R', RamDisk());
  };
  for (bool removable : {false, true}) {
    for (bool optical : {false, true}) {
      SCOPED_TRACE(std::string(removable ? "removable " : "") + (optical ? "optical" : ""));
      // What a single lock pass over both kinds gives on a fresh guard.
      SimMachine fresh;
      fresh.Install();
      addDrives(fresh);
      auto reference = std::make_unique<VolumeGuard>();
      SetFlags(removable, optical);
      reference->LockSweep(0x11);

      SimMachine m;
      m.Install();
      addDrives(m);
      VolumeGuard g;
      SetFlags(removable, optical);
      g.LockSweep(0x11);
      g.LockSweep(0x11);
      Arrive(g, 'E');
      Arrive(g, 'D');
      m.volumes.SetDrive('G', Stick());
      Arrive(g, 'G');
      m.volumes.RemoveDrive('G');
      const std::size_t linesBefore = Lines(m).size();

      g.OnDeviceChange(kDbtDeviceRemoveComplete, nullptr);

      EXPECT_EQ(g.removableCount, reference->removableCount);
      EXPECT_EQ(g.opticalCount, reference->opticalCount);
      for (char l : {'C', 'D', 'E', 'F', 'R'}) {
        EXPECT_EQ(m.volumes.HandlesOn(l).size(), fresh.volumes.HandlesOn(l).size()) << l;
      }
      ExpectConsistent(m, g);
      std::vector<std::string> lines = Lines(m);
      EXPECT_EQ(std::vector<std::string>(lines.begin() + linesBefore, lines.end()),
                std::vector<std::string>{"\n(VexService) Device remove complete"});
    }
  }
}

// Arrivals add entries with no removal to reset them. The guard must neither write past its
// tables nor run out of room for a newly blocked volume: each new stick or disc here replaces
// the last one in its drive without a removal broadcast, so the handles on the volumes that
// went away pile up in the slots.
TEST_F(DeviceChangeTest, TwoHundredNewVolumesWithoutRemovalAllEndLocked) {
  for (bool optical : {false, true}) {
    SCOPED_TRACE(optical ? "discs" : "sticks");
    SimMachine m;
    m.Install();
    m.volumes.SetDrive('C', AtaDisk());
    m.volumes.SetDrive('R', RamDisk());
    auto g = std::make_unique<VolumeGuard>();
    SetFlags(!optical, optical);
    g->LockSweep(FlagsOf(!optical, optical));
    for (int n = 0; n < 200; ++n) {
      const char letter = static_cast<char>('E' + n % 5);
      m.volumes.RemoveDrive(letter);
      m.volumes.SetDrive(letter, optical ? Cd() : Stick());
      Arrive(*g, letter);
      SimDrive d = m.volumes.Drive(letter);
      ASSERT_NE(d.lockedBy, platform::kNullHandle) << "arrival " << n + 1;
      ASSERT_TRUE(InSlots(optical ? g->opticalHandles : g->removableHandles, d.lockedBy));
      ASSERT_LE(g->removableCount, kDriveCount);
      ASSERT_LE(g->opticalCount, kDriveCount);
    }
    EXPECT_EQ(OpenVolumeHandles(m), LiveSlots(*g));
    // The RAM disk's lock, taken at the start, was never given up to make room.
    if (!optical) {
      EXPECT_NE(m.volumes.Drive('R').lockedBy, platform::kNullHandle);
    }
  }
}

}  // namespace
}  // namespace guard
