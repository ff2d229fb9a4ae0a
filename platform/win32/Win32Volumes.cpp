// Volumes on real Windows: thin calls of kernel32.
#include "platform/win32/Win32Volumes.h"

#include "platform/win32/WindowsSupport.h"

#include <winioctl.h>

#include <cstddef>

namespace platform::win32 {

// The seam spells the storage query's codes, sizes and offsets portably; they must be Windows'
// own on both the 32-bit and the 64-bit build.
static_assert(kIoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(kSmartRcvDriveData == SMART_RCV_DRIVE_DATA);
static_assert(kStoragePropertyQuerySize == sizeof(STORAGE_PROPERTY_QUERY));
static_assert(kStorageDeviceProperty == StorageDeviceProperty);
static_assert(kPropertyStandardQuery == PropertyStandardQuery);
static_assert(kStorageDeviceBusTypeOffset == offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));
static_assert(sizeof(STORAGE_BUS_TYPE) == 4);
static_assert(kStorageDeviceDescriptorSize == sizeof(STORAGE_DEVICE_DESCRIPTOR));
static_assert(kBusTypeScsi == BusTypeScsi && kBusTypeAtapi == BusTypeAtapi &&
              kBusTypeAta == BusTypeAta && kBusType1394 == BusType1394 &&
              kBusTypeSsa == BusTypeSsa && kBusTypeFibre == BusTypeFibre &&
              kBusTypeUsb == BusTypeUsb && kBusTypeRaid == BusTypeRAID &&
              kBusTypeIscsi == BusTypeiScsi && kBusTypeSas == BusTypeSas &&
              kBusTypeSata == BusTypeSata && kBusTypeSd == BusTypeSd && kBusTypeMmc == BusTypeMmc &&
              kBusTypeVirtual == BusTypeVirtual &&
              kBusTypeFileBackedVirtual == BusTypeFileBackedVirtual &&
              kBusTypeSpaces == BusTypeSpaces && kBusTypeNvme == BusTypeNvme &&
              kBusTypeScm == BusTypeSCM && kBusTypeUfs == BusTypeUfs);

std::uint32_t Win32Volumes::GetDriveTypeW(const char16_t* rootName) {
  return ::GetDriveTypeW(W(rootName));
}

std::uint32_t Win32Volumes::GetLogicalDrives() {
  return ::GetLogicalDrives();
}

Handle Win32Volumes::CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) {
  return FromH(::CreateFileW(W(path), access, share, nullptr, disposition, flags, nullptr));
}

Bool Win32Volumes::DeviceIoControl(Handle device, std::uint32_t code, void* in,
                                   std::uint32_t inSize, void* out, std::uint32_t outSize,
                                   std::uint32_t* bytesReturned) {
  DWORD returned = bytesReturned != nullptr ? *bytesReturned : 0;
  BOOL ok = ::DeviceIoControl(H(device), code, in, inSize, out, outSize, &returned, nullptr);
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return ok;
}

Handle Win32Volumes::FindFirstVolumeW(char16_t* name, std::uint32_t capacity) {
  return FromH(::FindFirstVolumeW(W(name), capacity));
}

Bool Win32Volumes::FindNextVolumeW(Handle find, char16_t* name, std::uint32_t capacity) {
  return ::FindNextVolumeW(H(find), W(name), capacity);
}

Bool Win32Volumes::FindVolumeClose(Handle find) {
  return ::FindVolumeClose(H(find));
}

Bool Win32Volumes::GetVolumePathNamesForVolumeNameW(const char16_t* volumeName, char16_t* names,
                                                    std::uint32_t capacity, std::uint32_t* length) {
  DWORD returned = 0;
  BOOL ok = ::GetVolumePathNamesForVolumeNameW(W(volumeName), W(names), capacity, &returned);
  if (length != nullptr) *length = returned;
  return ok;
}

void* Win32Volumes::GlobalAlloc(std::uint32_t flags, std::size_t bytes) {
  return reinterpret_cast<void*>(::GlobalAlloc(flags, bytes));
}

void* Win32Volumes::GlobalFree(void* block) {
  return reinterpret_cast<void*>(::GlobalFree(reinterpret_cast<HGLOBAL>(block)));
}

}  // namespace platform::win32
