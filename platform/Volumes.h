// Volumes: drive types, volume opens, volume control requests and the probe's memory blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Types.h"

namespace platform {

inline constexpr std::uint32_t kDriveUnknown = 0;
inline constexpr std::uint32_t kDriveNoRootDir = 1;
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;
inline constexpr std::uint32_t kDriveRamdisk = 6;

inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 1;
inline constexpr std::uint32_t kFileShareWrite = 2;
inline constexpr std::uint32_t kOpenExisting = 3;

inline constexpr std::uint32_t kSmartRcvDriveData = 0x7C088;
inline constexpr std::uint32_t kFsctlLockVolume = 0x90018;
inline constexpr std::uint32_t kFsctlUnlockVolume = 0x9001C;
inline constexpr std::uint32_t kFsctlDismountVolume = 0x90020;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x2D1400;
/// IOCTL_STORAGE_CHECK_VERIFY2: whether the device behind a handle is still there with its media.
inline constexpr std::uint32_t kIoctlStorageCheckVerify2 = 0x2D0800;
/// IOCTL_STORAGE_GET_HOTPLUG_INFO: the device's hot-plug information (STORAGE_HOTPLUG_INFO).
inline constexpr std::uint32_t kIoctlStorageGetHotplugInfo = 0x2D0C14;
/// IOCTL_STORAGE_GET_DEVICE_NUMBER: the disk a volume lies on (STORAGE_DEVICE_NUMBER).
inline constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x2D1080;

/// STORAGE_PROPERTY_QUERY: PropertyId and QueryType (32 bits each) and one byte of
/// AdditionalParameters, padded to 12 bytes on both 32-bit and 64-bit Windows.
inline constexpr std::uint32_t kStoragePropertyQuerySize = 12;
inline constexpr std::uint32_t kStorageDeviceProperty = 0;  ///< STORAGE_PROPERTY_ID
inline constexpr std::uint32_t kPropertyStandardQuery = 0;  ///< STORAGE_QUERY_TYPE
/// STORAGE_DEVICE_DESCRIPTOR: the 32-bit BusType sits after Version, Size, four bytes of device
/// type and flags and four 32-bit string offsets; the fixed part is 40 bytes.
inline constexpr std::uint32_t kStorageDeviceBusTypeOffset = 28;
inline constexpr std::uint32_t kStorageDeviceDescriptorSize = 40;
/// STORAGE_DEVICE_DESCRIPTOR.RemovableMedia: one BOOLEAN after Version, Size, DeviceType and
/// DeviceTypeModifier.
inline constexpr std::uint32_t kStorageDeviceRemovableMediaOffset = 10;
/// STORAGE_DEVICE_DESCRIPTOR.VendorIdOffset and ProductIdOffset: 32-bit offsets from the start
/// of the descriptor to NUL-terminated ASCII strings, 0 when the device has none.
inline constexpr std::uint32_t kStorageDeviceVendorIdOffset = 12;
inline constexpr std::uint32_t kStorageDeviceProductIdOffset = 16;

/// STORAGE_HOTPLUG_INFO: a 32-bit Size and four BOOLEANs (MediaRemovable, MediaHotplug,
/// DeviceHotplug, WriteCacheEnableOverride), 8 bytes on both 32-bit and 64-bit Windows.
inline constexpr std::uint32_t kStorageHotplugInfoSize = 8;
inline constexpr std::uint32_t kHotplugMediaRemovableOffset = 4;
inline constexpr std::uint32_t kHotplugDeviceHotplugOffset = 6;

/// STORAGE_DEVICE_NUMBER: DeviceType, DeviceNumber and PartitionNumber, 32 bits each.
inline constexpr std::uint32_t kStorageDeviceNumberSize = 12;
inline constexpr std::uint32_t kFileDeviceDisk = 7;  ///< FILE_DEVICE_DISK

/// STORAGE_BUS_TYPE values.
inline constexpr std::uint32_t kBusTypeUnknown = 0x00;
inline constexpr std::uint32_t kBusTypeScsi = 0x01;
inline constexpr std::uint32_t kBusTypeAtapi = 0x02;
inline constexpr std::uint32_t kBusTypeAta = 0x03;
inline constexpr std::uint32_t kBusType1394 = 0x04;
inline constexpr std::uint32_t kBusTypeSsa = 0x05;
inline constexpr std::uint32_t kBusTypeFibre = 0x06;
inline constexpr std::uint32_t kBusTypeUsb = 0x07;
inline constexpr std::uint32_t kBusTypeRaid = 0x08;
inline constexpr std::uint32_t kBusTypeIscsi = 0x09;
inline constexpr std::uint32_t kBusTypeSas = 0x0A;
inline constexpr std::uint32_t kBusTypeSata = 0x0B;
inline constexpr std::uint32_t kBusTypeSd = 0x0C;
inline constexpr std::uint32_t kBusTypeMmc = 0x0D;
inline constexpr std::uint32_t kBusTypeVirtual = 0x0E;
inline constexpr std::uint32_t kBusTypeFileBackedVirtual = 0x0F;
inline constexpr std::uint32_t kBusTypeSpaces = 0x10;
inline constexpr std::uint32_t kBusTypeNvme = 0x11;
inline constexpr std::uint32_t kBusTypeScm = 0x12;
inline constexpr std::uint32_t kBusTypeUfs = 0x13;

inline constexpr std::uint32_t kGmemZeroInit = 0x40;

/// Capacity of a volume name buffer: "\\?\Volume{" + a 36-character GUID + "}\" and the
/// terminator.
inline constexpr std::uint32_t kVolumeNameSize = 50;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;

/// The kernel32 calls that act on volumes. Security attributes, template handles and
/// OVERLAPPED are always null in this system and so are not parameters.
class Volumes {
 public:
  virtual ~Volumes() = default;
  /// GetDriveTypeW on a root name such as "E:".
  virtual std::uint32_t GetDriveTypeW(const char16_t* rootName) = 0;
  /// GetLogicalDrives: bit n set when drive letter 'A' + n is in use; 0 when the call failed.
  virtual std::uint32_t GetLogicalDrives() = 0;
  /// CreateFileW on a volume path such as "\\.\E:".
  virtual Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) = 0;
  /// Synchronous DeviceIoControl.
  virtual Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) = 0;
  /// FindFirstVolumeW: writes the first volume's name ("\\?\Volume{GUID}\") into name, of
  /// capacity characters; returns the search handle, or INVALID_HANDLE_VALUE.
  virtual Handle FindFirstVolumeW(char16_t* name, std::uint32_t capacity) = 0;
  /// FindNextVolumeW: the next volume's name; 0 with ERROR_NO_MORE_FILES after the last.
  virtual Bool FindNextVolumeW(Handle find, char16_t* name, std::uint32_t capacity) = 0;
  virtual Bool FindVolumeClose(Handle find) = 0;
  /// GetVolumePathNamesForVolumeNameW: the volume's drive letters and folder mount points, each
  /// ending in a backslash and a terminator, the list ending in one more terminator.
  virtual Bool GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                                std::uint32_t capacity, std::uint32_t* length) = 0;
  /// GlobalAlloc; returns null on failure.
  virtual void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) = 0;
  /// GlobalFree; returns null on success, as Win32 does.
  virtual void* GlobalFree(void* block) = 0;
};

}  // namespace platform
