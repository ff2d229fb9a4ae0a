// Device installation on real Windows: setupapi and cfgmgr32.
#pragma once

#include "platform/Devices.h"

namespace platform::win32 {

class Win32Devices final : public Devices {
 public:
  Bool SetupDiClassGuidsFromNameW(const char16_t* className, Guid* list, std::uint32_t listSize,
                                  std::uint32_t* requiredSize) override;
  Handle SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator, Handle parent,
                              std::uint32_t flags) override;
  Bool SetupDiEnumDeviceInfo(Handle set, std::uint32_t index, SpDevinfoData* data) override;
  Bool SetupDiDestroyDeviceInfoList(Handle set) override;
  std::uint32_t CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                      std::uint32_t devInst, std::uint32_t flags) override;
  std::uint32_t CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) override;
  std::uint32_t CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) override;
};

}  // namespace platform::win32
