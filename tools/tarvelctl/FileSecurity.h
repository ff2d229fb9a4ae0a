// Who may open the files the service trusts: their DACL, how the tool sets it, and who else it
// lets in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelctl {

/// The DACL of the policy and tag files: protected, so that it inherits nothing (the system
/// folder's entries let Users read), with full control for SYSTEM and the Administrators
/// only. A user who cannot open a file cannot hold it open either, which would make the
/// service read it as missing and start, or poll, with its locks off.
inline constexpr char16_t kTrustedFileSddl[] = u"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

/// The files the service trusts, in the folder it reads them from.
inline constexpr const char* kTrustedFileNames[] = {"DevState.ini", "SysSecurity.ini",
                                                    "ReadTag.ini"};

/// The system's calls on files and their security, with paths in the platform's terms; each
/// returns 0 or a Win32 error code. Host::FileSecurity() gives this build's.
class FileSecurityCalls {
 public:
  virtual ~FileSecurityCalls() = default;
  /// Creates path, which must not exist yet, already carrying the descriptor sddl, and writes
  /// bytes into it (CreateFileW CREATE_NEW with SECURITY_ATTRIBUTES, WriteFile, flush).
  virtual std::uint32_t CreateWithSecurity(const std::u16string& path, const std::u16string& sddl,
                                           const std::vector<std::uint8_t>& bytes) = 0;
  /// Gives from the name to, replacing a file there; the file keeps its own descriptor
  /// (MoveFileExW, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
  virtual std::uint32_t MoveReplacing(const std::u16string& from, const std::u16string& to) = 0;
  /// DeleteFileW; 0 also when there was nothing to delete.
  virtual std::uint32_t Delete(const std::u16string& path) = 0;
  /// Replaces the DACL of an existing file with that of sddl, protected when sddl says "P"
  /// (SetNamedSecurityInfoW).
  virtual std::uint32_t SetDacl(const std::u16string& path, const std::u16string& sddl) = 0;
  /// The file's owner and DACL as SDDL (GetNamedSecurityInfoW).
  virtual std::uint32_t GetSecurity(const std::u16string& path, std::u16string* sddl) = 0;
  /// FormatMessageW's text for a Win32 error code.
  virtual std::string ErrorText(std::uint32_t code) = 0;
};

/// Creates or replaces the file at path (UTF-8) with bytes under kTrustedFileSddl, in one
/// step: the content goes into a new file beside it that carries the DACL from its creation,
/// which then takes the name. false with *error set; the old file is then unchanged.
bool WriteTrustedFile(FileSecurityCalls& calls, const std::string& path,
                      const std::vector<std::uint8_t>& bytes, std::string* error);

/// Sets kTrustedFileSddl on the existing file at path. false with *error set.
bool SecureTrustedFile(FileSecurityCalls& calls, const std::string& path, std::string* error);

/// The owner and DACL of the file at path as SDDL; nullopt with *error set.
std::optional<std::u16string> ReadFileSddl(FileSecurityCalls& calls, const std::string& path,
                                           std::string* error);

/// Someone other than SYSTEM and the Administrators whom a descriptor lets open the file.
struct FileOpener {
  std::string trustee;  ///< an SDDL alias ("BU") or a SID string
  std::string name;     ///< "Users", "Everyone", or the SID
  std::string rights;   ///< what they may do: "read", "write", "delete", "change the DACL", ...
};

/// Who other than SYSTEM and the Administrators the descriptor sddl lets open the file for
/// reading, writing, executing or deleting (the opens that can hold it against the service's
/// own), or change its DACL or owner, and so open it later: its allowed entries less what
/// earlier denied entries of the same trustee or Everyone take away, and an owner of its own
/// (who may always change the DACL). No DACL at all lets Everyone in. Group memberships are
/// not resolved: an entry for Users is reported as Users. nullopt when sddl cannot be read.
std::optional<std::vector<FileOpener>> OthersWhoCanOpen(std::u16string_view sddl);

/// "Users (read), Everyone (read, write)".
std::string DescribeOpeners(const std::vector<FileOpener>& openers);

}  // namespace tarvelctl
