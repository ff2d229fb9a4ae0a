// The simulated machine's file store: files and directories, opens with sharing, profiles.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/Sddl.h"
#include "platform/sim/SimCore.h"

namespace platform::sim {

/// An in-memory disk. Paths are compared without regard to the case of A to Z, "/" counts as
/// "\", and "." and ".." components are resolved. Files are opened for reading only (the
/// service never writes one); opens honour Windows' share modes, so a file held with share
/// mode 0 refuses every other open with ERROR_SHARING_VIOLATION. Handles live in the core's
/// handle table (kind "file") and are closed through Threads::CloseHandle. Opens fail as
/// core.FailCall makes either Fault::kCreateFileW (shared with volume opens) or
/// Fault::kCreateFileWFile (files only) fail.
///
/// Every file has an owner and a DACL, and opens are access-checked against them: CreateFileW
/// and the profile reader open as the service's account (LocalSystem), OpenFileAs as any other
/// account. A new file gets what a file put into the system folder inherits.
class SimFiles final : public Files {
 public:
  /// What a file created in the system folder inherits: full control for SYSTEM and the
  /// Administrators, read and execute for Users; owned by the Administrators.
  static constexpr char kInheritedFileSecurity[] =
      "O:BAD:(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
  /// The groups of the service's token (LocalSystem).
  static const std::vector<std::string>& LocalSystemToken();
  /// The groups of a standard user's token, signed in at the console.
  static const std::vector<std::string>& StandardUserToken();

  explicit SimFiles(SimCore& core);

  /// Test set-up. SetFile creates the file's parent directories; an open handle sees the
  /// new content from its current position on.
  void SetFile(std::u16string_view path, std::vector<std::uint8_t> bytes);
  /// The text as UTF-16LE bytes, with a byte-order mark when bom is set.
  void SetTextFileUtf16(std::u16string_view path, std::u16string_view text, bool bom = true);
  /// The text as UTF-8 bytes, with a byte-order mark when bom is set.
  void SetTextFileUtf8(std::u16string_view path, std::string_view text, bool bom = false);
  void RemoveFile(std::u16string_view path);
  /// Creates the directory and its parents.
  void MakeDirectory(std::u16string_view path);
  /// The folder SHGetSpecialFolderPathW(CSIDL_SYSTEM) reports, in the case given; it is
  /// created. The default is "C:\Windows\system32".
  void SetSystemFolder(std::u16string_view path);
  /// Reads at or beyond offset of that file fail with error (reads that reach it stop short).
  void FailReadsAt(std::u16string_view path, std::uint64_t offset, std::uint32_t error);
  [[nodiscard]] bool FileExists(std::u16string_view path) const;
  /// Handles open on the file.
  [[nodiscard]] std::vector<Handle> HandlesOn(std::u16string_view path) const;
  /// Sets the owner ("O:") and the DACL ("D:") that sddl gives, as SetNamedSecurityInfoW
  /// does; a part sddl lacks is kept. false when there is no such file or sddl is no SDDL.
  bool SetFileSecurity(std::u16string_view path, std::string_view sddl);
  /// The file's owner and DACL as SDDL ("O:BAD:P(A;;FA;;;SY)"); empty for no such file.
  [[nodiscard]] std::string FileSecurity(std::u16string_view path) const;
  /// Gives the file at from the name to, replacing a file there, with its content and its own
  /// owner and DACL, as MoveFileExW does on one volume; false when from is no file.
  bool RenameFile(std::u16string_view from, std::u16string_view to);
  /// Opens the file as a program of an account whose token holds these groups would: the
  /// same access check and share modes as CreateFileW. Closed with Threads::CloseHandle.
  Handle OpenFileAs(const std::vector<std::string>& token, std::u16string_view path,
                    std::uint32_t access, std::uint32_t share);

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

 private:
  using Bytes = std::shared_ptr<std::vector<std::uint8_t>>;
  struct Node {
    bool directory = false;
    Bytes bytes;
    std::uint64_t failAt = ~std::uint64_t{0};
    std::uint32_t failError = 0;
    std::string dacl;  ///< the "D:" part as last set; empty for the inherited one
    SecurityText security = InheritedSecurity();
  };
  struct OpenFile {
    std::u16string key;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    std::uint64_t position = 0;
    Bytes bytes;
  };

  static const SecurityText& InheritedSecurity();
  Handle Open(SimCall& call, const std::vector<std::string>& token, const char16_t* path,
              std::uint32_t access, std::uint32_t share, std::uint32_t disposition);
  void MakeParents(const std::u16string& key);
  const Node* NodeOf(const std::u16string& key) const;
  bool SharingAllows(const std::u16string& key, std::uint32_t access, std::uint32_t share) const;
  std::u16string ProfileKey(const char16_t* fileName) const;

  SimCore& core_;
  std::map<std::u16string, Node> nodes_;
  std::map<Handle, OpenFile> opens_;
  std::u16string systemFolder_;
};

}  // namespace platform::sim
