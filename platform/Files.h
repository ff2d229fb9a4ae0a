// Paths and files: the shell's system folder, path editing, file reads and profile strings.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

inline constexpr std::int32_t kCsidlSystem = 37;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kMaxPath = 260;

class Files {
 public:
  virtual ~Files() = default;
  virtual Bool SHGetSpecialFolderPathW(Handle owner, char16_t* path, std::int32_t csidl,
                                       Bool create) = 0;
  virtual Bool PathRemoveFileSpecW(char16_t* path) = 0;
  /// Returns a pointer to the path's terminator, or null when there is no room.
  virtual char16_t* PathAddBackslashW(char16_t* path) = 0;
  virtual Bool PathAppendW(char16_t* path, const char16_t* more) = 0;
  virtual Bool PathFileExistsW(const char16_t* path) = 0;
  /// CreateFileW on a file path; returns kInvalidHandleValue on failure.
  virtual Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flagsAndAttributes) = 0;
  virtual Bool ReadFile(Handle file, void* buffer, std::uint32_t toRead,
                        std::uint32_t* bytesRead) = 0;
  /// GetPrivateProfileStringW; returns the number of characters copied.
  virtual std::uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                 const char16_t* defaultText, char16_t* out,
                                                 std::uint32_t size, const char16_t* fileName) = 0;
};

}  // namespace platform
