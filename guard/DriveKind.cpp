// The guard's sorting of drive letters into kinds.
#include "guard/DriveKind.h"

#include "platform/Platform.h"
#include "platform/UniqueHandle.h"
#include "platform/Volumes.h"

namespace guard {

bool IsExternalBus(const BusAnswer& bus) {
  if (!bus.answered) return true;
  switch (bus.busType) {
    case platform::kBusTypeUsb:
    case platform::kBusType1394:
    case platform::kBusTypeSd:
    case platform::kBusTypeMmc:
      return true;
    default:
      return false;
  }
}

DriveKind KindOfDrive(std::uint32_t driveType, bool answersAta, const BusAnswer& bus) {
  switch (driveType) {
    case platform::kDriveRemovable:
      return DriveKind::kRemovable;
    case platform::kDriveCdrom:
      return DriveKind::kOptical;
    case platform::kDriveRamdisk:
      return answersAta ? DriveKind::kNeither : DriveKind::kRemovable;
    case platform::kDriveFixed:
      return !answersAta && IsExternalBus(bus) ? DriveKind::kRemovable : DriveKind::kNeither;
    default:
      return DriveKind::kNeither;
  }
}

namespace {

// The questions asked of an open disk: the ATA probe, then the bus query for a fixed disk that
// fails it.
void AskDisk(std::uint32_t driveType, platform::Handle volume, DriveFacts& facts) {
  facts.answersAta = ProbeAtaIdentify(volume) != 0;
  if (!facts.answersAta && driveType == platform::kDriveFixed) facts.bus = QueryBusType(volume);
}

}  // namespace

bool IsRemovableKindDisk(std::uint32_t driveType, platform::Handle volume) {
  DriveFacts facts;
  AskDisk(driveType, volume, facts);
  return KindOfDrive(driveType, facts.answersAta, facts.bus) == DriveKind::kRemovable;
}

DriveFacts InspectDrive(int index) {
  DriveFacts facts;
  if (index < 0 || index >= kDriveCount) return facts;
  facts.type = platform::Current().volumes->GetDriveTypeW(DriveLetters[index]);
  if (facts.type == platform::kDriveFixed || facts.type == platform::kDriveRamdisk) {
    char16_t path[kVolumePathSize];
    InitVolumePath(path);
    AppendDriveLetter(path, index);
    const platform::UniqueFileHandle volume(OpenVolume(path));
    facts.opened = volume.valid();
    if (facts.opened) AskDisk(facts.type, volume.get(), facts);
  }
  facts.kind = KindOfDrive(facts.type, facts.answersAta, facts.bus);
  return facts;
}

}  // namespace guard
