// Device installation: setup classes, present devices and their device nodes.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

/// GUID, laid out as Win32 lays it out.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

/// SP_DEVINFO_DATA: 28 bytes in a 32-bit process, 32 in a 64-bit one.
struct SpDevinfoData {
  std::uint32_t cbSize;
  Guid classGuid;
  std::uint32_t devInst;
  std::uintptr_t reserved;
};
static_assert(sizeof(SpDevinfoData) == (sizeof(void*) == 4 ? 28 : 32));

inline constexpr std::uint32_t kDigcfPresent = 0x2;
inline constexpr std::uint32_t kCrSuccess = 0;
inline constexpr std::uint32_t kCmProbDisabled = 22;

class Devices {
 public:
  virtual ~Devices() = default;
  virtual Bool SetupDiClassGuidsFromNameW(const char16_t* className, Guid* list,
                                          std::uint32_t listSize, std::uint32_t* requiredSize) = 0;
  /// Returns the device information set, or kInvalidHandleValue.
  virtual Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator,
                                      Handle parent, std::uint32_t flags) = 0;
  virtual Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t index, SpDevinfoData* data) = 0;
  virtual Bool SetupDiDestroyDeviceInfoList(Handle set) = 0;
  /// The CM_ calls return a CONFIGRET; kCrSuccess is success.
  virtual std::uint32_t CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                              std::uint32_t devInst, std::uint32_t flags) = 0;
  virtual std::uint32_t CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) = 0;
  virtual std::uint32_t CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) = 0;
};

}  // namespace platform
