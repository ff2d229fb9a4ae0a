// Paths and files on real Windows.
#pragma once

#include "platform/Files.h"

namespace platform::win32 {

class Win32Files final : public Files {
 public:
  Bool SHGetSpecialFolderPathW(Handle owner, char16_t* path, std::int32_t csidl,
                               Bool create) override;
  Bool PathRemoveFileSpecW(char16_t* path) override;
  char16_t* PathAddBackslashW(char16_t* path) override;
  Bool PathAppendW(char16_t* path, const char16_t* more) override;
  Bool PathFileExistsW(const char16_t* path) override;
  Handle CreateFileW(const char16_t* path, std::uint32_t access, std::uint32_t share,
                     std::uint32_t disposition, std::uint32_t flagsAndAttributes) override;
  Bool ReadFile(Handle file, void* buffer, std::uint32_t toRead, std::uint32_t* bytesRead) override;
  std::uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                         const char16_t* defaultText, char16_t* out,
                                         std::uint32_t size, const char16_t* fileName) override;
};

}  // namespace platform::win32
