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

inline constexpr std::uint32_t kGmemZeroInit = 0x40;

/// The kernel32 calls that act on volumes. Security attributes, template handles and
/// OVERLAPPED are always null in this system and so are not parameters.
class Volumes {
 public:
  virtual ~Volumes() = default;
  /// GetDriveTypeW on a root name such as "E:".
  virtual std::uint32_t GetDriveTypeW(const char16_t* rootName) = 0;
  /// CreateFileW on a volume path such as "\\.\E:".
  virtual Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) = 0;
  /// Synchronous DeviceIoControl.
  virtual Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) = 0;
  /// GlobalAlloc; returns null on failure.
  virtual void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) = 0;
  /// GlobalFree; returns null on success, as Win32 does.
  virtual void* GlobalFree(void* block) = 0;
};

}  // namespace platform
