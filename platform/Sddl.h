// Security descriptors in SDDL text: the owner and DACL of a file, and who they let in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Access rights of a file DACL (winnt.h).
inline constexpr std::uint32_t kFileReadData = 0x0001;
inline constexpr std::uint32_t kFileWriteData = 0x0002;
inline constexpr std::uint32_t kFileAppendData = 0x0004;
inline constexpr std::uint32_t kFileExecute = 0x0020;
inline constexpr std::uint32_t kDeleteAccess = 0x00010000;
inline constexpr std::uint32_t kReadControlAccess = 0x00020000;
inline constexpr std::uint32_t kWriteDacAccess = 0x00040000;
inline constexpr std::uint32_t kWriteOwnerAccess = 0x00080000;
inline constexpr std::uint32_t kFileAllAccess = 0x001F01FF;
inline constexpr std::uint32_t kFileGenericRead = 0x00120089;
inline constexpr std::uint32_t kFileGenericWrite = 0x00120116;
inline constexpr std::uint32_t kFileGenericExecute = 0x001200A0;

/// One access control entry of a DACL.
struct AceEntry {
  bool allow = true;         ///< "A"; false for "D" (access denied)
  bool inherited = false;    ///< "ID": copied from the parent folder
  bool inheritOnly = false;  ///< "IO": applies to children only, not to the object itself
  std::uint32_t rights = 0;  ///< generic rights already mapped to file rights
  std::string trustee;       ///< an SDDL alias ("SY", "BU") or a SID string ("S-1-5-21-...")
};

/// The parts of a security descriptor that decide who may open a file.
struct SecurityText {
  std::string owner;           ///< "O:", as trustee; empty when the text has none
  bool hasDacl = false;        ///< "D:" is present and is not NO_ACCESS_CONTROL
  bool protectedDacl = false;  ///< "P": the DACL inherits nothing from the folder
  std::vector<AceEntry> aces;
};

/// Parses SDDL such as "O:BAD:P(A;;FA;;;SY)(A;ID;0x1200a9;;;BU)". SID strings of well-known
/// accounts become their aliases ("S-1-5-32-545" becomes "BU"); rights may be hexadecimal or
/// letters. nullopt for text that is not SDDL or uses ACE types other than A and D.
std::optional<SecurityText> ParseSecurityText(std::string_view sddl);

/// GENERIC_READ, _WRITE, _EXECUTE and _ALL in rights replaced by the file rights they stand for.
std::uint32_t MapGenericFileRights(std::uint32_t rights);

/// Windows' access check of a file open: whether a caller whose token holds the trustees
/// (aliases or SID strings) is granted every right of desired (generic rights allowed). No
/// DACL grants everything; entries are read in order, a denied right refuses, and the owner
/// holds READ_CONTROL and WRITE_DAC unless an OWNER RIGHTS ("OW") entry says otherwise.
bool AccessGranted(const SecurityText& security, const std::vector<std::string>& token,
                   std::uint32_t desired);

/// The name Windows shows for an alias ("BU" is "Users"); the trustee itself for others.
std::string TrusteeName(std::string_view trustee);

}  // namespace platform
