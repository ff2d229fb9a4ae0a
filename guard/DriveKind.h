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
/// have locked escapes the lock through an error. Every other bus, unknown values included, is
/// the machine's own: ATA, SATA, SCSI, SAS, RAID, NVMe, iSCSI, Fibre Channel, virtual disks,
/// Storage Spaces, storage-class memory.
bool IsExternalBus(const BusAnswer& bus);

/// The kind of a drive letter from its drive type, whether its disk answered the ATA probe and
/// what its bus query said. Removable drives are removable kind and CD-ROM drives optical,
/// without either. A RAM disk is removable kind unless it answers the probe. A fixed disk is
/// removable kind only when it fails the probe and its bus is external; the bus is read for
/// nothing else. Network drives and letters of any other type are neither.
DriveKind KindOfDrive(std::uint32_t driveType, bool answersAta, const BusAnswer& bus);

/// The probe, and for a fixed disk that fails it the bus query, on a handle already open on the
/// volume of a fixed disk or RAM disk: whether the guard holds that disk as removable kind. Both
/// passes and ClassifyDrive decide through this one sequence, so they never disagree on a disk.
bool IsRemovableKindDisk(std::uint32_t driveType, platform::Handle volume);

/// What the passes would see of one drive letter.
struct DriveFacts {
  std::uint32_t type = 0;   ///< GetDriveTypeW
  bool opened = false;      ///< the volume opened (asked of fixed disks and RAM disks only)
  bool answersAta = false;  ///< the ATA probe succeeded
  BusAnswer bus;            ///< asked of fixed disks that fail the probe only
  DriveKind kind = DriveKind::kNeither;  ///< KindOfDrive of the above
};

/// Gathers DriveFacts for DriveLetters[index] the way the passes do (drive type; for a fixed
/// disk or RAM disk: open, probe, bus query, close) and takes, locks or keeps nothing. For a
/// tool that reports how the guard sorts the machine's drives. A fixed disk whose open fails is
/// reported with opened false; the passes skip such a letter.
DriveFacts InspectDrive(int index);

}  // namespace guard
