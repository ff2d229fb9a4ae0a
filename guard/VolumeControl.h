// The stateless volume operations and the names every caller uses for a volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace guard {

inline constexpr int kDriveCount = 26;

/// "A:" to "Z:": a root name for GetDriveTypeW and the tail of a volume path.
extern const char16_t* const DriveLetters[kDriveCount];

/// Backslash, backslash, full stop, backslash.
inline constexpr char16_t VolumePrefix[] = u"\\\\.\\";
inline constexpr std::size_t kVolumePrefixLength = 4;
/// Capacity of a volume path buffer, terminator included.
inline constexpr std::size_t kVolumePathSize = 16;

/// Fills a volume path buffer with the prefix followed by zeros.
void InitVolumePath(char16_t (&path)[kVolumePathSize]);
/// Appends DriveLetters[index] to the path with a bounded concatenation.
void AppendDriveLetter(char16_t (&path)[kVolumePathSize], int index);
/// Cuts the path back to the bare prefix, ready for the next letter of a pass.
void CutVolumePath(char16_t (&path)[kVolumePathSize]);
/// Whether one of GetVolumePathNamesForVolumeNameW's paths is a drive letter's root ("E:\").
constexpr bool IsDriveRoot(std::u16string_view path) {
  return path.size() == 3 && path[1] == u':' && path[2] == u'\\';
}

/// Size of the ATA probe's input block (SENDCMDINPARAMS less its one-byte data buffer).
inline constexpr std::uint32_t kProbeInputSize = 32;
/// Size of the ATA probe's output block (SENDCMDOUTPARAMS header and one 512-byte sector).
inline constexpr std::uint32_t kProbeOutputSize = 528;
inline constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;

/// Output room offered to the bus query: the descriptor's fixed part and its identity strings,
/// so that no driver refuses the request for want of room.
inline constexpr std::uint32_t kBusQueryOutputSize = 1024;

/// What IOCTL_STORAGE_QUERY_PROPERTY said of the bus a volume's disk is attached by, and of the
/// device itself.
struct BusAnswer {
  bool answered = false;        ///< the request succeeded and its answer reached BusType
  std::uint32_t busType = 0;    ///< STORAGE_DEVICE_DESCRIPTOR.BusType, when answered
  bool removableMedia = false;  ///< STORAGE_DEVICE_DESCRIPTOR.RemovableMedia, when answered
  std::string vendor{};         ///< the vendor string, trimmed; empty when there is none
  std::string product{};        ///< the product string, trimmed; empty when there is none
};

/// What IOCTL_STORAGE_GET_HOTPLUG_INFO said of a volume's disk.
struct HotplugAnswer {
  bool answered = false;        ///< the request succeeded with the whole structure
  bool mediaRemovable = false;  ///< STORAGE_HOTPLUG_INFO.MediaRemovable
  /// STORAGE_HOTPLUG_INFO.DeviceHotplug: the device's removal policy is ExpectSurpriseRemoval.
  bool deviceHotplug = false;
};

/// Opens a volume for reading and writing, shared for both; INVALID_HANDLE_VALUE on failure.
platform::Handle OpenVolume(const char16_t* path);
/// True when the disk behind the volume answers ATA IDENTIFY DEVICE (an internal ATA disk).
platform::Bool ProbeAtaIdentify(platform::Handle volume);
/// Asks the disk behind the volume for its device descriptor (StorageDeviceProperty,
/// PropertyStandardQuery) and reads its bus type.
BusAnswer QueryBusType(platform::Handle volume);
/// Asks the disk behind the volume for its hot-plug information.
HotplugAnswer QueryHotplug(platform::Handle volume);
/// The number of the disk the volume lies on (STORAGE_DEVICE_NUMBER.DeviceNumber of a
/// FILE_DEVICE_DISK), or nothing when the request fails or names no single disk.
std::optional<std::uint32_t> QueryDiskNumber(platform::Handle volume);
platform::Bool DismountVolume(platform::Handle volume);
/// Whether the device behind a held volume handle is still there (IOCTL_STORAGE_CHECK_VERIFY2).
/// A device that went away fails the request; a driver that does not know it (invalid function,
/// not supported) is taken to be still there, so that no lock is given up on a guess.
bool VolumeStillPresent(platform::Handle volume);
platform::Bool LockVolume(platform::Handle volume);
platform::Bool UnlockVolume(platform::Handle volume);

}  // namespace guard
