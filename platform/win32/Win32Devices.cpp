// Device installation on real Windows: setupapi and cfgmgr32.
#include "platform/win32/Win32Devices.h"

#include <cstddef>

#include "platform/win32/WindowsSupport.h"

// After windows.h, which they need.
#include <cfgmgr32.h>
#include <setupapi.h>

namespace platform::win32 {

namespace {

// The seam's records are Win32's, byte for byte, so they pass through unconverted.
static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(SpDevinfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(offsetof(SpDevinfoData, classGuid) == offsetof(SP_DEVINFO_DATA, ClassGuid));
static_assert(offsetof(SpDevinfoData, devInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(SpDevinfoData, reserved) == offsetof(SP_DEVINFO_DATA, Reserved));
static_assert(sizeof(DEVINST) == sizeof(std::uint32_t) && sizeof(ULONG) == sizeof(std::uint32_t));

GUID* G(Guid* g) {
  return reinterpret_cast<GUID*>(g);
}
const GUID* G(const Guid* g) {
  return reinterpret_cast<const GUID*>(g);
}

}  // namespace

Bool Win32Devices::SetupDiClassGuidsFromNameW(const char16_t* className, Guid* list,
                                              std::uint32_t listSize, std::uint32_t* requiredSize) {
  DWORD required = requiredSize != nullptr ? *requiredSize : 0;
  BOOL ok = ::SetupDiClassGuidsFromNameW(W(className), G(list), listSize,
                                         requiredSize != nullptr ? &required : nullptr);
  if (requiredSize != nullptr) *requiredSize = required;
  return ok;
}

Handle Win32Devices::SetupDiGetClassDevsW(const Guid* classGuid, const char16_t* enumerator,
                                          Handle parent, std::uint32_t flags) {
  HWND window = reinterpret_cast<HWND>(parent);
  return FromH(::SetupDiGetClassDevsW(G(classGuid), W(enumerator), window, flags));
}

Bool Win32Devices::SetupDiEnumDeviceInfo(Handle set, std::uint32_t index, SpDevinfoData* data) {
  return ::SetupDiEnumDeviceInfo(H(set), index, reinterpret_cast<SP_DEVINFO_DATA*>(data));
}

Bool Win32Devices::SetupDiDestroyDeviceInfoList(Handle set) {
  return ::SetupDiDestroyDeviceInfoList(H(set));
}

std::uint32_t Win32Devices::CM_Get_DevNode_Status(std::uint32_t* status, std::uint32_t* problem,
                                                  std::uint32_t devInst, std::uint32_t flags) {
  // ULONG is unsigned long on Windows: a distinct type of the same size, so copy through it.
  ULONG s = status != nullptr ? *status : 0;
  ULONG p = problem != nullptr ? *problem : 0;
  CONFIGRET result = ::CM_Get_DevNode_Status(status != nullptr ? &s : nullptr,
                                             problem != nullptr ? &p : nullptr, devInst, flags);
  if (status != nullptr) *status = s;
  if (problem != nullptr) *problem = p;
  return result;
}

std::uint32_t Win32Devices::CM_Enable_DevNode(std::uint32_t devInst, std::uint32_t flags) {
  return ::CM_Enable_DevNode(devInst, flags);
}

std::uint32_t Win32Devices::CM_Disable_DevNode(std::uint32_t devInst, std::uint32_t flags) {
  return ::CM_Disable_DevNode(devInst, flags);
}

}  // namespace platform::win32
