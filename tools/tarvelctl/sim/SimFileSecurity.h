// The file-security calls of the Linux build: the files are local files, and the simulated
// machine holds a copy of each with its owner and DACL, which its opens then honour.
#pragma once

#include "platform/sim/SimFiles.h"
#include "tools/tarvelctl/FileSecurity.h"

namespace tarvelctl::sim {

/// A local file the calls touch is copied into the machine's file store under the same path
/// (with the DACL a file in the system folder inherits, when it was not made by these calls),
/// so that what the tool set can be read back and is enforced on the simulated machine.
class SimFileSecurity final : public FileSecurityCalls {
 public:
  explicit SimFileSecurity(platform::sim::SimFiles& files) : files_(files) {}

  std::uint32_t CreateWithSecurity(const std::u16string& path, const std::u16string& sddl,
                                   const std::vector<std::uint8_t>& bytes) override;
  std::uint32_t MoveReplacing(const std::u16string& from, const std::u16string& to) override;
  std::uint32_t Delete(const std::u16string& path) override;
  std::uint32_t SetDacl(const std::u16string& path, const std::u16string& sddl) override;
  std::uint32_t GetSecurity(const std::u16string& path, std::u16string* sddl) override;
  std::string ErrorText(std::uint32_t code) override;

 private:
  // Copies the local file into the store when the store has no copy; false when it is missing.
  bool Mirror(const std::u16string& path);

  platform::sim::SimFiles& files_;
};

}  // namespace tarvelctl::sim
