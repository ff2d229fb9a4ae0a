// Test support under Wine: define drive letters of a chosen type through Wine's mount manager.
#pragma once

#include <cstdint>
#include <string>

namespace platform::win32 {

/// Maps letter to the Unix directory with the given drive type (2 removable, 3 fixed,
/// 4 remote, 5 CD-ROM, 6 RAM disk; 1 removes the letter), as Wine's own configuration tool
/// does. Returns the Win32 error code, 0 on success. Meaningful only under Wine.
std::uint32_t DefineWineDrive(char letter, std::uint32_t type, const std::string& unixDir);

}  // namespace platform::win32
