// Portable spellings of the Win32 value types that cross the platform seam.
#pragma once

#include <cstdint>

namespace platform {

/// A Win32 HANDLE value: pointer-sized, 0 is null, all bits set is INVALID_HANDLE_VALUE.
using Handle = std::uintptr_t;
inline constexpr Handle kNullHandle = 0;
inline constexpr Handle kInvalidHandleValue = ~Handle{0};

/// A Win32 BOOL: 32-bit, non-zero is success.
using Bool = std::int32_t;

/// Win32 error codes the seam hands back through GetLastError.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
/// ERROR_NOT_READY: also what an open of a volume gets while its dismounting handle is open.
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorMoreDataCode = 234;

}  // namespace platform
