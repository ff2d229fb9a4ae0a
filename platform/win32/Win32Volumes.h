// Volumes on real Windows.
#pragma once

#include "platform/Volumes.h"

namespace platform::win32 {

class Win32Volumes final : public Volumes {
 public:
  std::uint32_t GetDriveTypeW(const char16_t* rootName) override;
  std::uint32_t GetLogicalDrives() override;
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flags) override;
  Bool DeviceIoControl(Handle device, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* bytesReturned) override;
  Handle FindFirstVolumeW(char16_t* name, std::uint32_t capacity) override;
  Bool FindNextVolumeW(Handle find, char16_t* name, std::uint32_t capacity) override;
  Bool FindVolumeClose(Handle find) override;
  Bool GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                        std::uint32_t capacity, std::uint32_t* length) override;
  void* GlobalAlloc(std::uint32_t flags, std::size_t bytes) override;
  void* GlobalFree(void* block) override;
};

}  // namespace platform::win32
