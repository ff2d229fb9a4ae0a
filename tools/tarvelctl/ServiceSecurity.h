// Who may do what with the installed service: its DACL, written in SDDL.
#pragma once

#include <cstdint>
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

}  // namespace tarvelctl
