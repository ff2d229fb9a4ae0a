// Paths and files: the shell's system folder, path editing, file reads and profile strings.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

inline constexpr std::int32_t kCsidlSystem = 37;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kMaxPath = 260;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorHandleEof = 38;
inline constexpr std::uint32_t kErrorReadFault = 30;

/// The shell32, shlwapi and kernel32 calls on paths and files. The path routines work on
/// caller buffers of kMaxPath units; files are closed with Threads::CloseHandle.
class Files {
 public:
  virtual ~Files() = default;
  /// SHGetSpecialFolderPathW: writes the folder into path (kMaxPath units).
  virtual Bool SHGetSpecialFolderPathW(Handle owner, char16_t* path, std::int32_t csidl,
                                       Bool create) = 0;
  /// PathRemoveFileSpecW: drops the last component; true when something was removed.
  virtual Bool PathRemoveFileSpecW(char16_t* path) = 0;
  /// Returns a pointer to the path's terminator, or null when there is no room.
  virtual char16_t* PathAddBackslashW(char16_t* path) = 0;
  /// PathAppendW: joins more to path with one backslash and canonicalises the result.
  virtual Bool PathAppendW(char16_t* path, const char16_t* more) = 0;
  /// PathFileExistsW: true for an existing file or directory.
  virtual Bool PathFileExistsW(const char16_t* path) = 0;
  /// CreateFileW on a file path; returns kInvalidHandleValue on failure.
  virtual Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flagsAndAttributes) = 0;
  /// Synchronous ReadFile from the handle's file pointer; *bytesRead is 0 at the end of the file.
  virtual Bool ReadFile(Handle file, void* buffer, std::uint32_t toRead,
                        std::uint32_t* bytesRead) = 0;
  /// GetPrivateProfileStringW; returns the number of characters copied.
  virtual std::uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                 const char16_t* defaultText, char16_t* out,
                                                 std::uint32_t size, const char16_t* fileName) = 0;
};

}  // namespace platform
