// The guard's sorting of drive letters into kinds, from what the platform says of each one.
#pragma once

#include <cstdint>

#include "guard/VolumeControl.h"
#include "platform/Types.h"

namespace guard {

/// The kind the lock and release passes give a drive letter. The values are the classes that
/// ClassifyDrive and ClassifyArrival return.
enum class DriveKind : std::int8_t { kNeither = -1, kRemovable = 0, kOptical = 1 };

/// True for the buses a disk is plugged in by from outside the machine (USB, IEEE 1394, SD,
/// MMC) and for a query that went unanswered, so that no disk that the ATA probe alone would
/// have locked escapes the lock through an error.
bool IsExternalBus(const BusAnswer& bus);

/// True for the buses only the machine itself has: RAID, Storage Spaces, virtual and file-backed
/// virtual disks, iSCSI, Fibre Channel and storage-class memory. What the device says of its own
/// removability is never read on them.
bool IsMachineOnlyBus(std::uint32_t busType);

/// True when the descriptor's vendor and product strings are those of a hypervisor's virtual
/// disk (Hyper-V, VMware, VirtualBox, QEMU, virtio, Xen, Parallels), whatever bus it reports:
/// their virtual PCIe and SCSI slots may be hot-pluggable, so their disks can call themselves
/// removable.
bool IsVirtualMachineDisk(const BusAnswer& bus);

/// True when the device says it can be taken away while the machine runs: the descriptor's
/// RemovableMedia, or the hot-plug information's MediaRemovable or DeviceHotplug.
bool RemovableByDevice(const BusAnswer& bus, const HotplugAnswer& hotplug);

/// What the passes would see of one drive letter.
struct DriveFacts {
  std::uint32_t type = 0;   ///< GetDriveTypeW
  bool opened = false;      ///< the volume opened (asked of fixed disks and RAM disks only)
  bool answersAta = false;  ///< the ATA probe succeeded
  BusAnswer bus;            ///< asked of fixed disks that fail the probe only
  /// Asked of fixed disks whose descriptor leaves their removability open: an answered bus that
  /// is neither external nor the machine's only, not a known virtual disk, no RemovableMedia.
  HotplugAnswer hotplug;
  /// The volume lies on the disk that holds the system directory, or, for a disk that only its
  /// device's own report makes removable, could not be shown to lie elsewhere (a disk number
  /// unreadable); asked only of a fixed disk that the other answers make removable kind.
  bool systemDisk = false;
  DriveKind kind = DriveKind::kNeither;  ///< KindOfDrive of the above
};

/// The kind of a drive letter from its facts. Removable drives are removable kind and CD-ROM
/// drives optical, from their type alone. A RAM disk is removable kind unless it answers the
/// probe. A fixed disk is internal when it answers the probe or lies on the system directory's
/// disk; otherwise removable kind on an external bus (or no bus answer), internal on a bus only
/// the machine has or as a known virtual machine disk, and else removable kind only when its
/// device says it is removable. Network drives and letters of any other type are neither.
DriveKind KindOfDrive(const DriveFacts& facts);

/// The probe, and for a fixed disk that fails it the bus query, the hot-plug query and the
/// system-disk check as KindOfDrive needs them, on a handle already open on the volume of a fixed
/// disk or RAM disk: whether the guard holds that disk as removable kind. Both passes and
/// ClassifyDrive decide through this one sequence, so they never disagree on a disk.
bool IsRemovableKindDisk(std::uint32_t driveType, platform::Handle volume);

/// Gathers DriveFacts for DriveLetters[index] the way the passes do (drive type; for a fixed
/// disk or RAM disk: open, the questions of IsRemovableKindDisk, close) and takes, locks or keeps
/// nothing. For a tool that reports how the guard sorts the machine's drives. A fixed disk whose
/// open fails is reported with opened false; the passes skip such a letter.
DriveFacts InspectDrive(int index);
/// The same for a volume named "\\?\Volume{GUID}\", as the letterless passes see it.
DriveFacts InspectVolume(const char16_t* volumeName);

}  // namespace guard
