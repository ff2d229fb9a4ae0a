// What each simulated file system does with volume locks and dismounts.
#include "platform/sim/SimFileSystems.h"

#include "platform/Volumes.h"

namespace platform::sim {

namespace {

constexpr SimFileSystem kFat{.name = "FAT",
                             .locksAfterOwnDismount = true,
                             .dismountRespectsLock = false,
                             .lockDismounts = false};
constexpr SimFileSystem kNtfs{.name = "NTFS",
                              .locksAfterOwnDismount = true,
                              .dismountRespectsLock = true,
                              .lockDismounts = true};
constexpr SimFileSystem kCdfs{.name = "CDFS",
                              .locksAfterOwnDismount = false,
                              .dismountRespectsLock = false,
                              .lockDismounts = false};

}  // namespace

const SimFileSystem& FileSystemOf(SimFs fs, std::uint32_t driveType) {
  switch (fs) {
    case SimFs::kNtfs:
      return kNtfs;
    case SimFs::kCdfs:
      return kCdfs;
    case SimFs::kByType:
      return driveType == kDriveCdrom ? kCdfs : kFat;
    case SimFs::kFat:
      break;
  }
  return kFat;
}

}  // namespace platform::sim
