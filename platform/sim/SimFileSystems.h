// What each simulated file system does with volume locks and dismounts.
#pragma once

#include <cstdint>

namespace platform::sim {

/// The file system a simulated volume is formatted with.
enum class SimFs : std::uint8_t {
  kByType,  ///< CDFS on a CD-ROM drive, FAT on any other
  kFat,     ///< FAT and exFAT: sticks, cards and most USB hard disks
  kNtfs,    ///< NTFS
  kCdfs,    ///< CDFS and UDF: optical discs
};

/// The rules one file system applies to FSCTL_LOCK_VOLUME and FSCTL_DISMOUNT_VOLUME beyond
/// those they all share. Shared by every file system: a lock is refused while any other handle
/// on the volume is open (file, directory or volume handle, of any process, invalidated ones
/// included, until they are closed); a dismount invalidates every other handle, and while the
/// dismounting handle stays open every new open fails with ERROR_NOT_READY; once it is closed,
/// the next access mounts the volume afresh.
struct SimFileSystem {
  const char* name;  ///< "FAT", "NTFS", "CDFS"
  /// Whether the handle that dismounted the volume may still lock it once every other handle is
  /// closed. FAT does not check the dismounted state; CDFS verifies the volume first and refuses.
  bool locksAfterOwnDismount;
  /// Whether a dismount is refused while another handle holds the lock (NTFS). FAT and CDFS
  /// always force the dismount.
  bool dismountRespectsLock;
  /// Whether a granted lock leaves the volume dismounted (NTFS treats a locked volume as a
  /// dismounted one).
  bool lockDismounts;
};

/// The rules of each file system; kByType goes by the drive type.
const SimFileSystem& FileSystemOf(SimFs fs, std::uint32_t driveType);

}  // namespace platform::sim
