// Registry: open, query, create, set and close keys and values.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

/// An HKEY value. Predefined roots are the sign-extended 32-bit constants, as in Win32.
using Hkey = std::uintptr_t;
inline const Hkey kHkeyCurrentUser =
    static_cast<Hkey>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001u)));
inline const Hkey kHkeyLocalMachine =
    static_cast<Hkey>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002u)));

inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorBadPathname = 161;
inline constexpr std::int32_t kErrorMoreData =
    static_cast<std::int32_t>(platform::kErrorMoreDataCode);
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegQword = 11;
inline constexpr std::uint32_t kRegOptionNonVolatile = 0;
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;
inline constexpr std::uint32_t kRegCreatedNewKey = 1;
inline constexpr std::uint32_t kRegOpenedExistingKey = 2;

/// advapi32's registry calls; every result is a Win32 error code (LSTATUS). The reserved
/// arguments (always 0 or NULL), the class and the security attributes are not part of the seam.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual std::int32_t RegOpenKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                                     std::uint32_t access, Hkey* result) = 0;
  virtual std::int32_t RegQueryValueExW(Hkey key, const char16_t* valueName, std::uint32_t* type,
                                        std::uint8_t* data, std::uint32_t* size) = 0;
  virtual std::int32_t RegCreateKeyExW(Hkey root, const char16_t* subKey, std::uint32_t options,
                                       std::uint32_t access, Hkey* result,
                                       std::uint32_t* disposition) = 0;
  virtual std::int32_t RegSetValueExW(Hkey key, const char16_t* valueName, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) = 0;
  virtual std::int32_t RegCloseKey(Hkey key) = 0;
};

}  // namespace platform
