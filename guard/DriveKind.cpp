// The guard's sorting of drive letters into kinds.
#include "guard/DriveKind.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/SystemDir.h"
#include "platform/Text.h"
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

bool IsMachineOnlyBus(std::uint32_t busType) {
  switch (busType) {
    case platform::kBusTypeRaid:
    case platform::kBusTypeSpaces:
    case platform::kBusTypeVirtual:
    case platform::kBusTypeFileBackedVirtual:
    case platform::kBusTypeIscsi:
    case platform::kBusTypeFibre:
    case platform::kBusTypeScm:
      return true;
    default:
      return false;
  }
}

namespace {

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
    bool same = true;
    for (std::size_t i = 0; i < word.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(text[at + i])) ==
             std::toupper(static_cast<unsigned char>(word[i]));
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

bool IsVirtualMachineDisk(const BusAnswer& bus) {
  // What the hypervisors' virtual disk controllers put in the identity strings: Hyper-V "Msft"
  // "Virtual Disk", VMware "VMware" "Virtual disk" / "VMware Virtual NVMe Disk", VirtualBox
  // "VBOX HARDDISK", QEMU "QEMU HARDDISK" / "QEMU NVMe Ctrl", virtio "Red Hat" "VirtIO", Xen
  // "XENSRC", Parallels "Virtual disk" under its own vendor name.
  static constexpr std::string_view kVendors[] = {"Msft",    "VMware", "VBOX",     "QEMU",
                                                  "Red Hat", "XENSRC", "Parallels"};
  static constexpr std::string_view kProducts[] = {"VMware", "VBOX", "QEMU", "VirtIO"};
  auto in = [](const std::string& text) {
    return [&text](std::string_view word) { return ContainsNoCase(text, word); };
  };
  return std::ranges::any_of(kVendors, in(bus.vendor)) ||
         std::ranges::any_of(kProducts, in(bus.product));
}

bool RemovableByDevice(const BusAnswer& bus, const HotplugAnswer& hotplug) {
  return bus.removableMedia ||
         (hotplug.answered && (hotplug.mediaRemovable || hotplug.deviceHotplug));
}

DriveKind KindOfDrive(const DriveFacts& facts) {
  switch (facts.type) {
    case platform::kDriveRemovable:
      return DriveKind::kRemovable;
    case platform::kDriveCdrom:
      return DriveKind::kOptical;
    case platform::kDriveRamdisk:
      return facts.answersAta ? DriveKind::kNeither : DriveKind::kRemovable;
    case platform::kDriveFixed:
      break;
    default:
      return DriveKind::kNeither;
  }
  if (facts.answersAta || facts.systemDisk) return DriveKind::kNeither;
  if (IsExternalBus(facts.bus)) return DriveKind::kRemovable;
  if (IsMachineOnlyBus(facts.bus.busType) || IsVirtualMachineDisk(facts.bus)) {
    return DriveKind::kNeither;
  }
  return RemovableByDevice(facts.bus, facts.hotplug) ? DriveKind::kRemovable : DriveKind::kNeither;
}

namespace {

// Whether the volume lies on the disk that holds the system directory's volume; nothing when
// either number cannot be read (a volume spanning disks, a driver that lacks the request, no
// system directory).
std::optional<bool> OnSystemDisk(platform::Handle volume) {
  const std::optional<std::uint32_t> disk = QueryDiskNumber(volume);
  if (!disk) return std::nullopt;
  char16_t directory[platform::kMaxPath];
  platform::SystemDirPath(directory);
  const char16_t letter = directory[0] >= u'a' && directory[0] <= u'z'
                              ? static_cast<char16_t>(directory[0] - u'a' + u'A')
                              : directory[0];
  if (letter < u'A' || letter > u'Z' || directory[1] != u':') return std::nullopt;
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  AppendDriveLetter(path, letter - u'A');
  const platform::UniqueFileHandle system(OpenVolume(path));
  if (!system.valid()) return std::nullopt;
  const std::optional<std::uint32_t> systemDisk = QueryDiskNumber(system.get());
  if (!systemDisk) return std::nullopt;
  return *systemDisk == *disk;
}

// The questions asked of an open disk: the ATA probe; for a fixed disk that fails it, the bus
// query, the hot-plug query when the descriptor leaves the disk's removability open, and, for a
// disk those make removable kind, whether it lies on the system directory's disk.
void AskDisk(std::uint32_t driveType, platform::Handle volume, DriveFacts& facts) {
  facts.type = driveType;
  facts.answersAta = ProbeAtaIdentify(volume) != 0;
  if (facts.answersAta || driveType != platform::kDriveFixed) return;
  facts.bus = QueryBusType(volume);
  const BusAnswer& bus = facts.bus;
  if (!IsExternalBus(bus) && !IsMachineOnlyBus(bus.busType) && !IsVirtualMachineDisk(bus) &&
      !bus.removableMedia) {
    facts.hotplug = QueryHotplug(volume);
  }
  // A disk on an external bus stays removable when the check cannot be made, as before it
  // existed; one that only its device's own report makes removable must be shown to lie
  // elsewhere than the system disk.
  if (KindOfDrive(facts) == DriveKind::kRemovable) {
    facts.systemDisk = OnSystemDisk(volume).value_or(!IsExternalBus(bus));
  }
}

}  // namespace

bool IsRemovableKindDisk(std::uint32_t driveType, platform::Handle volume) {
  DriveFacts facts;
  AskDisk(driveType, volume, facts);
  return KindOfDrive(facts) == DriveKind::kRemovable;
}

namespace {

// The facts of a volume of that type, asking the disk through a volume opened by path.
DriveFacts Inspect(std::uint32_t type, const char16_t* path) {
  DriveFacts facts;
  facts.type = type;
  if (facts.type == platform::kDriveFixed || facts.type == platform::kDriveRamdisk) {
    const platform::UniqueFileHandle volume(OpenVolume(path));
    facts.opened = volume.valid();
    if (facts.opened) AskDisk(facts.type, volume.get(), facts);
  }
  facts.kind = KindOfDrive(facts);
  return facts;
}

}  // namespace

DriveFacts InspectDrive(int index) {
  if (index < 0 || index >= kDriveCount) return DriveFacts{};
  char16_t path[kVolumePathSize];
  InitVolumePath(path);
  AppendDriveLetter(path, index);
  return Inspect(platform::Current().volumes->GetDriveTypeW(DriveLetters[index]), path);
}

DriveFacts InspectVolume(const char16_t* volumeName) {
  // The volume opens by its name without the trailing backslash (with it, its root directory).
  char16_t path[platform::kVolumeNameSize] = {};
  if (!platform::StrCopy(path, platform::kVolumeNameSize, volumeName)) return DriveFacts{};
  const std::u16string_view name(path);
  if (!name.empty() && name.back() == u'\\') path[name.size() - 1] = 0;
  return Inspect(platform::Current().volumes->GetDriveTypeW(volumeName), path);
}

}  // namespace guard
