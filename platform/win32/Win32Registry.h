// The registry on real Windows.
#pragma once

#include "platform/Registry.h"

namespace platform::win32 {

class Win32Registry final : public Registry {
 public:
  std::int32_t RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, Hkey* result) override;
  std::int32_t RegQueryValueExW(Hkey key, const char16_t* valueName, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* size) override;
  std::int32_t RegCreateKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                               std::uint32_t access, Hkey* result,
                               std::uint32_t* disposition) override;
  std::int32_t RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) override;
  std::int32_t RegCloseKey(Hkey key) override;
};

}  // namespace platform::win32
