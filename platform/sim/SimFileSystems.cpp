// What each simulated file system does with volume locks and dismounts.
#include "platform/sim/SimFileSystems.h"

#include "platform/Volumes.h"

namespace platform::sim {

namespace {

class FatRules final : public SimFileSystem {
 public:
  const char* Name() const override { return "FAT"; }
  bool LocksAfterOwnDismount() const override { return true; }
  bool DismountRespectsLock() const override { return false; }
  bool LockDismounts() const override { return false; }
};

class NtfsRules final : public SimFileSystem {
 public:
  const char* Name() const override { return "NTFS"; }
  bool LocksAfterOwnDismount() const override { return true; }
  bool DismountRespectsLock() const override { return true; }
  bool LockDismounts() const override { return true; }
};

class CdfsRules final : public SimFileSystem {
 public:
  const char* Name() const override { return "CDFS"; }
  bool LocksAfterOwnDismount() const override { return false; }
  bool DismountRespectsLock() const override { return false; }
  bool LockDismounts() const override { return false; }
};

}  // namespace

const SimFileSystem& FileSystemOf(SimFs fs, std::uint32_t driveType) {
  static const FatRules fat;
  static const NtfsRules ntfs;
  static const CdfsRules cdfs;
  switch (fs) {
    case SimFs::kNtfs:
      return ntfs;
    case SimFs::kCdfs:
      return cdfs;
    case SimFs::kByType:
      return driveType == kDriveCdrom ? static_cast<const SimFileSystem&>(cdfs) : fat;
    case SimFs::kFat:
      break;
  }
  return fat;
}

}  // namespace platform::sim
