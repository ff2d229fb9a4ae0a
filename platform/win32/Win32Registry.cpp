// The registry on real Windows: advapi32's calls with the seam's types converted at the edge.
#include "platform/win32/Win32Registry.h"

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

namespace {
HKEY K(Hkey key) {
  return reinterpret_cast<HKEY>(key);
}
Hkey FromK(HKEY key) {
  return reinterpret_cast<Hkey>(key);
}
}  // namespace

std::int32_t Win32Registry::RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                                          std::uint32_t access, Hkey* result) {
  HKEY key = nullptr;
  LSTATUS status = ::RegOpenKeyExW(K(root), W(subKey), options, access, &key);
  if (result != nullptr) *result = FromK(key);
  return status;
}

std::int32_t Win32Registry::RegQueryValueExW(Hkey key, const char16_t* valueName,
                                             std::uint32_t* type, std::uint8_t* data,
                                             std::uint32_t* size) {
  // DWORD is unsigned long here; the seam's values are copied in and out rather than aliased.
  DWORD t = 0;
  DWORD s = size != nullptr ? *size : 0;
  LSTATUS status = ::RegQueryValueExW(K(key), W(valueName), nullptr, type != nullptr ? &t : nullptr,
                                      data, size != nullptr ? &s : nullptr);
  if (type != nullptr) *type = t;
  if (size != nullptr) *size = s;
  return status;
}

std::int32_t Win32Registry::RegCreateKeyExW(Hkey root, const char16_t* subKey,
                                            std::uint32_t options, std::uint32_t access,
                                            Hkey* result, std::uint32_t* disposition) {
  HKEY key = nullptr;
  DWORD made = 0;
  LSTATUS status = ::RegCreateKeyExW(K(root), W(subKey), 0, nullptr, options, access, nullptr, &key,
                                     disposition != nullptr ? &made : nullptr);
  if (result != nullptr) *result = FromK(key);
  if (disposition != nullptr) *disposition = made;
  return status;
}

std::int32_t Win32Registry::RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                                           const std::uint8_t* data, std::uint32_t size) {
  return ::RegSetValueExW(K(key), W(valueName), 0, type, data, size);
}

std::int32_t Win32Registry::RegCloseKey(Hkey key) {
  return ::RegCloseKey(K(key));
}

}  // namespace platform::win32
