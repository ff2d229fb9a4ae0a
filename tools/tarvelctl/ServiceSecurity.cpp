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

// Generic rights as the Service Control Manager maps them for service objects.
constexpr std::uint32_t kAllServiceRights = 0xF01FF;
constexpr std::uint32_t kGenericRead = kServiceQueryConfig | kServiceQueryStatus |
                                       kServiceEnumerateDependents | kServiceInterrogate |
                                       kReadControl;
constexpr std::uint32_t kGenericWrite = kServiceChangeConfig | kReadControl;
constexpr std::uint32_t kGenericExecute = kServiceStart | kServiceStop | kServicePauseContinue |
                                          kServiceInterrogate | kServiceUserDefinedControl |
                                          kReadControl;
constexpr RightLetters kGenericLetters[] = {{kAllServiceRights, "GA"}, {kGenericRead, "GR"},
                                            {kGenericWrite, "GW"},     {kGenericExecute, "GX"},
                                            {kAllServiceRights, "FA"}, {kAllServiceRights, "KA"}};

std::string Alias(const std::string& sid) {
  if (sid == "S-1-5-18") return "SY";
  if (sid == "S-1-5-32-544") return "BA";
  return sid;
}

}  // namespace

std::optional<std::uint32_t> SddlToRights(const std::string& text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
      char c = text[i];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0 || i >= 10) return std::nullopt;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
  }
  if (text.size() % 2 != 0) return std::nullopt;
  std::uint32_t rights = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    std::string pair = text.substr(i, 2);
    bool known = false;
    for (const RightLetters& r : kLetters) {
      if (pair == r.letters) {
        rights |= r.bit;
        known = true;
      }
    }
    for (const RightLetters& r : kGenericLetters) {
      if (pair == r.letters) {
        rights |= r.bit;
        known = true;
      }
    }
    if (!known) return std::nullopt;
  }
  return rights;
}

ParsedDacl ParseDacl(const std::string& sddl) {
  ParsedDacl dacl;
  std::size_t at = sddl.find("D:");
  if (at == std::string::npos) return dacl;
  std::size_t pos = at + 2;
  std::size_t open = sddl.find('(', pos);
  std::string flags = sddl.substr(pos, open == std::string::npos ? std::string::npos : open - pos);
  if (flags.find("NO_ACCESS_CONTROL") != std::string::npos) {
    dacl.valid = true;
    dacl.nullDacl = true;
    return dacl;
  }
  while (open != std::string::npos) {
    std::size_t close = sddl.find(')', open);
    if (close == std::string::npos) return dacl;
    std::string ace = sddl.substr(open + 1, close - open - 1);
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
      std::size_t semi = ace.find(';', start);
      fields.push_back(
          ace.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
    if (fields.size() < 6) return dacl;
    std::optional<std::uint32_t> rights = SddlToRights(fields[2]);
    if (!rights) return dacl;
    dacl.entries.push_back({fields[0] == "A", Alias(fields[5]), *rights});
    pos = close + 1;
    // Entries follow one another; anything else (an "S:" part) ends the DACL.
    open = pos < sddl.size() && sddl[pos] == '(' ? pos : std::string::npos;
  }
  dacl.valid = true;
  return dacl;
}

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
