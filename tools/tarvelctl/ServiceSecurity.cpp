// Who may do what with the installed service: its DACL, written in SDDL.
#include "tools/tarvelctl/ServiceSecurity.h"

#include <cstdio>

namespace tarvelctl {

namespace {

// SDDL names the service rights by the directory-service letters that share their bits.
struct RightLetters {
  std::uint32_t bit;
  const char* letters;
};
constexpr RightLetters kLetters[] = {
    {kServiceQueryConfig, "CC"},
    {kServiceChangeConfig, "DC"},
    {kServiceQueryStatus, "LC"},
    {kServiceEnumerateDependents, "SW"},
    {kServiceStart, "RP"},
    {kServiceStop, "WP"},
    {kServicePauseContinue, "DT"},
    {kServiceInterrogate, "LO"},
    {kServiceUserDefinedControl, "CR"},
    {kDelete, "SD"},
    {kReadControl, "RC"},
    {kWriteDac, "WD"},
    {kWriteOwner, "WO"},
};

}  // namespace

std::vector<ServiceGrant> ServiceGrants() {
  constexpr std::uint32_t kOperate =
      kServiceStart | kServiceStop | kServicePauseContinue | kServiceUserDefinedControl;
  return {
      {"SY", kServiceReadRights | kOperate},
      {"BA",
       kServiceReadRights | kOperate | kServiceChangeConfig | kDelete | kWriteDac | kWriteOwner},
      {"AU", kServiceReadRights},
  };
}

std::string RightsToSddl(std::uint32_t rights) {
  std::string text;
  std::uint32_t named = 0;
  for (const RightLetters& r : kLetters) {
    if ((rights & r.bit) == 0) continue;
    text += r.letters;
    named |= r.bit;
  }
  if (named != rights) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", rights);
    return hex;
  }
  return text;
}

std::string BuildServiceSddl(const std::vector<ServiceGrant>& grants) {
  std::string sddl = "D:";
  for (const ServiceGrant& g : grants) {
    sddl += "(A;;" + RightsToSddl(g.rights) + ";;;" + g.trustee + ")";
  }
  return sddl;
}

}  // namespace tarvelctl
