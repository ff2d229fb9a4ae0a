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
/// A fixed disk on a bus of the machine's own that does not answer the ATA probe.
inline SimDrive InternalDisk(std::uint32_t busType) {
  SimDrive d = UsbDisk();
  d.busType = busType;
  return d;
}
inline SimDrive NvmeDisk() {
  return InternalDisk(platform::kBusTypeNvme);
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

/// Whether a disk is attached from outside the machine as far as its bus query says: USB,
/// IEEE 1394, SD or MMC, or no answer that reaches the bus type.
inline bool ExternalBus(const SimDrive& d) {
  if (d.busQuery != platform::sim::SimBusQuery::kAnswers) return true;
  return d.busType == platform::kBusTypeUsb || d.busType == platform::kBusType1394 ||
         d.busType == platform::kBusTypeSd || d.busType == platform::kBusTypeMmc;
}

/// One disk by drive type, ATA probe answer and bus query answer, and how the guard sorts it.
struct DiskRow {
  const char* name;
  std::uint32_t type = platform::kDriveFixed;
  bool ata = false;
  std::uint32_t bus = platform::kBusTypeUsb;
  platform::sim::SimBusQuery query = platform::sim::SimBusQuery::kAnswers;
  bool removableKind = false;  ///< the passes hold it as removable kind
  bool asksBus = false;        ///< the bus query is made (fixed disks that fail the probe)

  [[nodiscard]] SimDrive Drive() const {
    SimDrive d{type, true, ata};
    d.busType = bus;
    d.busQuery = query;
    return d;
  }
};

/// Fixed disks and RAM disks over every probe answer and bus answer that the guard tells apart.
inline const DiskRow kDiskRows[] = {
    {.name = "usb", .removableKind = true, .asksBus = true},
    {.name = "1394", .bus = platform::kBusType1394, .removableKind = true, .asksBus = true},
    {.name = "sd", .bus = platform::kBusTypeSd, .removableKind = true, .asksBus = true},
    {.name = "mmc", .bus = platform::kBusTypeMmc, .removableKind = true, .asksBus = true},
    {.name = "query fails",
     .bus = platform::kBusTypeNvme,
     .query = platform::sim::SimBusQuery::kFails,
     .removableKind = true,
     .asksBus = true},
    {.name = "query answers the header alone",
     .bus = platform::kBusTypeNvme,
     .query = platform::sim::SimBusQuery::kHeaderOnly,
     .removableKind = true,
     .asksBus = true},
    {.name = "nvme", .bus = platform::kBusTypeNvme, .asksBus = true},
    {.name = "sata", .bus = platform::kBusTypeSata, .asksBus = true},
    {.name = "ata", .bus = platform::kBusTypeAta, .asksBus = true},
    {.name = "scsi", .bus = platform::kBusTypeScsi, .asksBus = true},
    {.name = "sas", .bus = platform::kBusTypeSas, .asksBus = true},
    {.name = "raid", .bus = platform::kBusTypeRaid, .asksBus = true},
    {.name = "iscsi", .bus = platform::kBusTypeIscsi, .asksBus = true},
    {.name = "fibre", .bus = platform::kBusTypeFibre, .asksBus = true},
    {.name = "virtual", .bus = platform::kBusTypeVirtual, .asksBus = true},
    {.name = "file-backed virtual", .bus = platform::kBusTypeFileBackedVirtual, .asksBus = true},
    {.name = "spaces", .bus = platform::kBusTypeSpaces, .asksBus = true},
    {.name = "scm", .bus = platform::kBusTypeScm, .asksBus = true},
    {.name = "unknown bus 0", .bus = platform::kBusTypeUnknown, .asksBus = true},
    {.name = "unknown bus 0x7f", .bus = 0x7F, .asksBus = true},
    {.name = "ata answer on a usb bus", .ata = true},
    {.name = "ata answer, query would fail",
     .ata = true,
     .query = platform::sim::SimBusQuery::kFails},
    {.name = "ram disk on an nvme bus",
     .type = platform::kDriveRamdisk,
     .bus = platform::kBusTypeNvme,
     .removableKind = true},
    {.name = "ram disk answering ata", .type = platform::kDriveRamdisk, .ata = true},
};

/// Whether the policy blocks the letter's volume, by the guard's sorting of volumes.
inline bool Blocked(const SimDrive& d, bool removableLock, bool opticalLock) {
  if (!d.volumePresent) return false;
  switch (d.type) {
    case platform::kDriveRemovable:
      return removableLock;
    case platform::kDriveRamdisk:
      return removableLock && !d.answersAtaIdentify;
    case platform::kDriveFixed:
      return removableLock && !d.answersAtaIdentify && ExternalBus(d);
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
