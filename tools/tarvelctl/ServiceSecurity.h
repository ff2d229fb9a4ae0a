// Who may do what with the installed service: its DACL, written in SDDL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvelctl {

/// Service access rights (winsvc.h) and the standard rights a service DACL uses.
inline constexpr std::uint32_t kServiceQueryConfig = 0x0001;
inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t kServiceEnumerateDependents = 0x0008;
inline constexpr std::uint32_t kServiceStart = 0x0010;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kServicePauseContinue = 0x0040;
inline constexpr std::uint32_t kServiceInterrogate = 0x0080;
inline constexpr std::uint32_t kServiceUserDefinedControl = 0x0100;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kReadControl = 0x00020000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;

/// Looking at the service: its configuration, status, dependents and security, and
/// SERVICE_INTERROGATE, which only makes the service report its status again.
inline constexpr std::uint32_t kServiceReadRights = kServiceQueryConfig | kServiceQueryStatus |
                                                    kServiceEnumerateDependents |
                                                    kServiceInterrogate | kReadControl;

/// One access-allowed entry: an SDDL trustee ("SY", "BA", "AU") and its rights.
struct ServiceGrant {
  std::string trustee;
  std::uint32_t rights;
};

/// The service's DACL. Codes 128 to 255 switch the locks off and stop the service, and the
/// service accepts no other stop, so the user-defined control right goes, with start and
/// stop, to SYSTEM and the Administrators alone; every other signed-in account may only look.
std::vector<ServiceGrant> ServiceGrants();

/// The SDDL rights letters of a mask, in SDDL's order ("CCLCSWLORC"); a mask with a bit that
/// has no letter is written whole in hexadecimal ("0x1000100").
std::string RightsToSddl(std::uint32_t rights);

/// "D:(A;;rights;;;trustee)..." for the grants.
std::string BuildServiceSddl(const std::vector<ServiceGrant>& grants);

/// One entry of a DACL read back as SDDL.
struct DaclEntry {
  bool allow = false;   ///< "A": an access-allowed entry; any other type grants nothing
  std::string trustee;  ///< "SY", "BA", ... (the SIDs of SYSTEM and Administrators as aliases)
  std::uint32_t rights = 0;
};

/// A DACL read back as SDDL.
struct ParsedDacl {
  bool valid = false;     ///< the text is a "D:" part this parser understands
  bool nullDacl = false;  ///< "D:NO_ACCESS_CONTROL": everyone may do everything
  std::vector<DaclEntry> entries;
};

/// Parses the "D:" part of an SDDL text. Rights are SDDL letters (service and generic rights,
/// generic ones mapped as the Service Control Manager maps them) or a hexadecimal number.
ParsedDacl ParseDacl(const std::string& sddl);

/// The rights letters' mask ("RPWPCR", "GA", "0x30"); nullopt for a letter pair it does not know.
std::optional<std::uint32_t> SddlToRights(const std::string& text);

}  // namespace tarvelctl
