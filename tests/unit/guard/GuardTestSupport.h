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
#include "programs/tarvel-sim/Simulator.h"

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

/// The disk number of C:, the system directory's volume, in the disk table's machines.
inline constexpr std::uint32_t kSystemDisk = 7;

/// One disk by drive type, the answers it gives to the guard's questions, and how the guard
/// sorts it.
struct DiskRow {
  const char* name;
  std::uint32_t type = platform::kDriveFixed;
  bool ata = false;
  std::uint32_t bus = platform::kBusTypeUsb;
  platform::sim::SimBusQuery query = platform::sim::SimBusQuery::kAnswers;
  bool hotplug = false;         ///< DeviceHotplug
  bool removableMedia = false;  ///< RemovableMedia and MediaRemovable
  bool hotplugFails = false;    ///< the hot-plug query fails
  const char* vendor = "";
  const char* product = "";
  bool onSystemDisk = false;   ///< lies on C:'s disk, the system directory's
  bool numberFails = false;    ///< the disk-number request fails
  bool removableKind = false;  ///< the passes hold it as removable kind
  bool asksBus = false;        ///< the bus query is made (fixed disks that fail the probe)
  bool asksHotplug = false;    ///< the hot-plug query is made
  /// Removable kind by every other answer, internal for lying on the system disk.
  bool systemVeto = false;

  /// Whether the system-disk check is made: only for a fixed disk that the other answers make
  /// removable kind.
  [[nodiscard]] bool AsksSystemDisk() const {
    return type == platform::kDriveFixed && (removableKind || systemVeto);
  }

  [[nodiscard]] SimDrive Drive() const {
    SimDrive d{type, true, ata};
    d.busType = bus;
    d.busQuery = query;
    d.deviceHotplug = hotplug;
    d.removableMedia = removableMedia;
    d.hotplugQueryFails = hotplugFails;
    d.vendor = vendor;
    d.product = product;
    if (onSystemDisk) d.disk = kSystemDisk;
    d.diskNumberFails = numberFails;
    return d;
  }
};

/// A machine for one row of the disk table: C: is its internal system disk (the system directory
/// is C:\Windows\system32) and the row's disk is on D:.
inline void SetUpDiskRow(SimMachine& m, const DiskRow& row) {
  SimDrive system = AtaDisk();
  system.disk = kSystemDisk;
  m.volumes.SetDrive('C', system);
  m.volumes.SetDrive('D', row.Drive());
}

/// Fixed disks and RAM disks over every answer that the guard tells apart: the probe, the bus,
/// what the device says of its removability, known virtual machine disks and the system disk.
inline const DiskRow kDiskRows[] = {
    {.name = "usb", .removableKind = true, .asksBus = true},
    {.name = "1394", .bus = platform::kBusType1394, .removableKind = true, .asksBus = true},
    {.name = "sd card in a reader on pcie",
     .bus = platform::kBusTypeSd,
     .removableKind = true,
     .asksBus = true},
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
    {.name = "m.2 nvme data disk",
     .bus = platform::kBusTypeNvme,
     .asksBus = true,
     .asksHotplug = true},
    {.name = "m.2 nvme system disk",
     .bus = platform::kBusTypeNvme,
     .onSystemDisk = true,
     .asksBus = true,
     .asksHotplug = true},
    {.name = "nvme in a thunderbolt or usb4 enclosure",
     .bus = platform::kBusTypeNvme,
     .hotplug = true,
     .removableKind = true,
     .asksBus = true,
     .asksHotplug = true},
    {.name = "hot-pluggable nvme holding the system directory",
     .bus = platform::kBusTypeNvme,
     .hotplug = true,
     .onSystemDisk = true,
     .asksBus = true,
     .asksHotplug = true,
     .systemVeto = true},
    {.name = "usb disk holding the system directory",
     .onSystemDisk = true,
     .asksBus = true,
     .systemVeto = true},
    {.name = "hot-pluggable nvme whose disk number cannot be read",
     .bus = platform::kBusTypeNvme,
     .hotplug = true,
     .numberFails = true,
     .asksBus = true,
     .asksHotplug = true,
     .systemVeto = true},
    {.name = "usb disk whose disk number cannot be read",
     .numberFails = true,
     .removableKind = true,
     .asksBus = true},
    {.name = "nvme whose hot-plug query fails",
     .bus = platform::kBusTypeNvme,
     .hotplugFails = true,
     .asksBus = true,
     .asksHotplug = true},
    {.name = "sata on a hot-plug port, answering ata",
     .ata = true,
     .bus = platform::kBusTypeSata,
     .hotplug = true},
    {.name = "hot-pluggable sata disk that fails the probe (esata)",
     .bus = platform::kBusTypeSata,
     .hotplug = true,
     .removableKind = true,
     .asksBus = true,
     .asksHotplug = true},
    {.name = "card reader on scsi with removable media",
     .bus = platform::kBusTypeScsi,
     .removableMedia = true,
     .removableKind = true,
     .asksBus = true},
    {.name = "sata", .bus = platform::kBusTypeSata, .asksBus = true, .asksHotplug = true},
    {.name = "ata", .bus = platform::kBusTypeAta, .asksBus = true, .asksHotplug = true},
    {.name = "scsi", .bus = platform::kBusTypeScsi, .asksBus = true, .asksHotplug = true},
    {.name = "sas", .bus = platform::kBusTypeSas, .asksBus = true, .asksHotplug = true},
    {.name = "raid", .bus = platform::kBusTypeRaid, .hotplug = true, .asksBus = true},
    {.name = "iscsi", .bus = platform::kBusTypeIscsi, .hotplug = true, .asksBus = true},
    {.name = "fibre", .bus = platform::kBusTypeFibre, .hotplug = true, .asksBus = true},
    {.name = "virtual", .bus = platform::kBusTypeVirtual, .hotplug = true, .asksBus = true},
    {.name = "file-backed virtual",
     .bus = platform::kBusTypeFileBackedVirtual,
     .hotplug = true,
     .asksBus = true},
    {.name = "storage spaces", .bus = platform::kBusTypeSpaces, .hotplug = true, .asksBus = true},
    {.name = "scm", .bus = platform::kBusTypeScm, .hotplug = true, .asksBus = true},
    {.name = "vmware virtual nvme on a hot-plug slot",
     .bus = platform::kBusTypeNvme,
     .hotplug = true,
     .vendor = "NVMe",
     .product = "VMware Virtual NVMe Disk",
     .asksBus = true},
    {.name = "hyper-v scsi disk, removable",
     .bus = platform::kBusTypeScsi,
     .hotplug = true,
     .removableMedia = true,
     .vendor = "Msft",
     .product = "Virtual Disk",
     .asksBus = true},
    {.name = "virtualbox sata disk on a hot-plug port",
     .bus = platform::kBusTypeSata,
     .hotplug = true,
     .product = "VBOX HARDDISK",
     .asksBus = true},
    {.name = "usb disk whatever its strings",
     .vendor = "QEMU",
     .product = "QEMU HARDDISK",
     .removableKind = true,
     .asksBus = true},
    {.name = "unknown bus 0",
     .bus = platform::kBusTypeUnknown,
     .asksBus = true,
     .asksHotplug = true},
    {.name = "unknown bus 0x7f, hot-pluggable",
     .bus = 0x7F,
     .hotplug = true,
     .removableKind = true,
     .asksBus = true,
     .asksHotplug = true},
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
inline bool Blocked(const SimMachine& m, char letter, bool removableLock, bool opticalLock) {
  if (!m.volumes.Drive(letter).volumePresent) return false;
  switch (simulator::SimulatedFacts(m, letter).kind) {
    case DriveKind::kRemovable:
      return removableLock;
    case DriveKind::kOptical:
      return opticalLock;
    case DriveKind::kNeither:
      break;
  }
  return false;
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
    if (!Blocked(m, letter, removable, optical)) {
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
