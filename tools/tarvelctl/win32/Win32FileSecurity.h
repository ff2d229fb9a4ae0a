// The file-security calls of the Windows build: descriptors from SDDL, set at creation or on
// an existing file, and read back as SDDL.
#pragma once

#include "tools/tarvelctl/FileSecurity.h"

namespace tarvelctl::win32 {

class Win32FileSecurity final : public FileSecurityCalls {
 public:
  std::uint32_t CreateWithSecurity(const std::u16string& path, const std::u16string& sddl,
                                   const std::vector<std::uint8_t>& bytes) override;
  std::uint32_t MoveReplacing(const std::u16string& from, const std::u16string& to) override;
  std::uint32_t Delete(const std::u16string& path) override;
  std::uint32_t SetDacl(const std::u16string& path, const std::u16string& sddl) override;
  std::uint32_t GetSecurity(const std::u16string& path, std::u16string* sddl) override;
  std::string ErrorText(std::uint32_t code) override;
};

}  // namespace tarvelctl::win32
