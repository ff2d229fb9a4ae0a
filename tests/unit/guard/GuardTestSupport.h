// Drives, broadcasts and whole-guard checks shared by the toggle, event and stress tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "guard/VolumeGuard.h"
#include "platform/Windowing.h"
#include "platform/sim/SimMachine.h"

namespace guard::testing {

using platform::Handle;
using platform::sim::SimDrive;
using platform::sim::SimMachine;

inline SimDrive Stick() {
  return SimDrive{platform::kDriveRemovable, true};
}
inline SimDrive Cd() {
  return SimDrive{platform::kDriveCdrom, true};
}
inline SimDrive UsbDisk() {
  return SimDrive{platform::kDriveFixed, true};
}
inline SimDrive AtaDisk() {
  return SimDrive{platform::kDriveFixed, true, true};
}
inline SimDrive RamDisk() {
  return SimDrive{platform::kDriveRamdisk, true};
}
inline SimDrive Network() {
  return SimDrive{platform::kDriveRemote, true};
}

/// A volume arrival broadcast for the drives of the mask.
inline platform::DevBroadcastVolume VolumeBroadcast(std::uint32_t unitMask) {
  return platform::DevBroadcastVolume{sizeof(platform::DevBroadcastVolume),
                                      platform::kDbtDevtypVolume, 0, unitMask, 0};
}

inline std::uint32_t MaskOf(char letter) {
  return 1u << (letter - 'A');
}

/// The handles the guard holds: its non-zero, non-INVALID slots of both kinds.
inline std::multiset<Handle> LiveSlots(const VolumeGuard& g) {
  std::multiset<Handle> out;
  for (int i = 0; i < kDriveCount; ++i) {
    for (Handle h : {g.removableHandles[i], g.opticalHandles[i]}) {
      if (h != platform::kNullHandle && h != platform::kInvalidHandleValue) out.insert(h);
    }
  }
  return out;
}

/// The volume handles open on the simulated machine.
inline std::multiset<Handle> OpenVolumeHandles(const SimMachine& m) {
  std::multiset<Handle> out;
  for (const auto& [h, entry] : m.core.OpenHandles()) {
    if (entry.kind == "volume") out.insert(h);
  }
  return out;
}

inline bool InSlots(const Handle (&slots)[kDriveCount], Handle h) {
  for (Handle s : slots) {
    if (s == h) return true;
  }
  return false;
}

/// Whether the policy blocks the letter's volume, by the guard's sorting of volumes.
inline bool Blocked(const SimDrive& d, bool removableLock, bool opticalLock) {
  if (!d.volumePresent) return false;
  switch (d.type) {
    case platform::kDriveRemovable:
    case platform::kDriveRamdisk:
      return removableLock;
    case platform::kDriveFixed:
      return removableLock && !d.answersAtaIdentify;
    case platform::kDriveCdrom:
      return opticalLock;
    default:
      return false;
  }
}

/// Everything a user depends on, after any sequence of guard operations: each blocked volume
/// is locked through a handle of the right kind that the guard holds, every other volume is
/// free, the guard holds exactly the machine's open volume handles, and the counts stay
/// inside the tables.
inline void ExpectConsistent(const SimMachine& m, const VolumeGuard& g) {
  const bool removable = g.GetRemovableLock();
  const bool optical = g.GetOpticalLock();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    SCOPED_TRACE(std::string("drive ") + letter);
    SimDrive d = m.volumes.Drive(letter);
    if (!Blocked(d, removable, optical)) {
      EXPECT_EQ(d.lockedBy, platform::kNullHandle);
      continue;
    }
    ASSERT_NE(d.lockedBy, platform::kNullHandle);
    EXPECT_TRUE(InSlots(d.type == platform::kDriveCdrom ? g.opticalHandles : g.removableHandles,
                        d.lockedBy));
  }
  EXPECT_EQ(OpenVolumeHandles(m), LiveSlots(g));
  EXPECT_GE(g.removableCount, 0);
  EXPECT_LE(g.removableCount, kDriveCount);
  EXPECT_GE(g.opticalCount, 0);
  EXPECT_LE(g.opticalCount, kDriveCount);
}

/// The debug lines written so far.
inline std::vector<std::string> Lines(const SimMachine& m) {
  return m.core.DebugTexts();
}

}  // namespace guard::testing
