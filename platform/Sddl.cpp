// Security descriptors in SDDL text: the owner and DACL of a file, and who they let in.
#include "platform/Sddl.h"

#include <algorithm>

namespace platform {

namespace {

constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;

struct Alias {
  const char* alias;
  const char* sid;
  const char* name;
};
constexpr Alias kAliases[] = {
    {"SY", "S-1-5-18", "SYSTEM"},
    {"BA", "S-1-5-32-544", "Administrators"},
    {"BU", "S-1-5-32-545", "Users"},
    {"BG", "S-1-5-32-546", "Guests"},
    {"PU", "S-1-5-32-547", "Power Users"},
    {"BO", "S-1-5-32-551", "Backup Operators"},
    {"WD", "S-1-1-0", "Everyone"},
    {"AU", "S-1-5-11", "Authenticated Users"},
    {"IU", "S-1-5-4", "INTERACTIVE"},
    {"SU", "S-1-5-6", "SERVICE"},
    {"NU", "S-1-5-2", "NETWORK"},
    {"AN", "S-1-5-7", "ANONYMOUS LOGON"},
    {"LS", "S-1-5-19", "LOCAL SERVICE"},
    {"NS", "S-1-5-20", "NETWORK SERVICE"},
    {"CO", "S-1-3-0", "CREATOR OWNER"},
    {"OW", "S-1-3-4", "OWNER RIGHTS"},
    {"AC", "S-1-15-2-1", "ALL APPLICATION PACKAGES"},
};

struct RightLetters {
  const char* letters;
  std::uint32_t rights;
};
constexpr RightLetters kRights[] = {
    {"GA", kGenericAll},
    {"GR", kGenericRead},
    {"GW", kGenericWrite},
    {"GX", kGenericExecute},
    {"RC", kReadControlAccess},
    {"SD", kDeleteAccess},
    {"WD", kWriteDacAccess},
    {"WO", kWriteOwnerAccess},
    {"FA", kFileAllAccess},
    {"FR", kFileGenericRead},
    {"FW", kFileGenericWrite},
    {"FX", kFileGenericExecute},
    {"CC", 0x1},
    {"DC", 0x2},
    {"LC", 0x4},
    {"SW", 0x8},
    {"RP", 0x10},
    {"WP", 0x20},
    {"DT", 0x40},
    {"LO", 0x80},
    {"CR", 0x100},
};

// An alias stays as it is; a SID string of a well-known account becomes its alias.
std::optional<std::string> Trustee(std::string_view text) {
  if (text.size() == 2) {
    bool letters = text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'A' && text[1] <= 'Z';
    return letters ? std::optional<std::string>(text) : std::nullopt;
  }
  if (text.size() < 4 || text.substr(0, 2) != "S-") return std::nullopt;
  for (char c : text.substr(2)) {
    if ((c < '0' || c > '9') && c != '-') return std::nullopt;
  }
  for (const Alias& a : kAliases) {
    if (text == a.sid) return std::string(a.alias);
  }
  return std::string(text);
}

std::optional<std::uint32_t> Rights(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    // Digits only: no sign, no spaces, at most 32 bits.
    std::string_view digits = text.substr(2);
    if (digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return std::nullopt;
      value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
  }
  if (text.size() % 2 != 0) return std::nullopt;
  std::uint32_t rights = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    bool known = false;
    for (const RightLetters& r : kRights) {
      if (text.substr(i, 2) != r.letters) continue;
      rights |= r.rights;
      known = true;
    }
    if (!known) return std::nullopt;
  }
  return rights;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    std::size_t cut = text.find(separator, start);
    parts.push_back(text.substr(start, cut == std::string_view::npos ? cut : cut - start));
    if (cut == std::string_view::npos) return parts;
    start = cut + 1;
  }
}

// One "(type;flags;rights;object;inherited object;trustee)".
std::optional<AceEntry> ParseAce(std::string_view text) {
  std::vector<std::string_view> fields = Split(text, ';');
  if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return std::nullopt;
  AceEntry ace;
  if (fields[0] == "D") {
    ace.allow = false;
  } else if (fields[0] != "A") {
    return std::nullopt;
  }
  std::string_view flags = fields[1];
  if (flags.size() % 2 != 0) return std::nullopt;
  for (std::size_t i = 0; i < flags.size(); i += 2) {
    std::string_view flag = flags.substr(i, 2);
    if (flag == "ID") {
      ace.inherited = true;
    } else if (flag == "IO") {
      ace.inheritOnly = true;
    } else if (flag != "CI" && flag != "OI" && flag != "NP") {
      return std::nullopt;
    }
  }
  std::optional<std::uint32_t> rights = Rights(fields[2]);
  std::optional<std::string> trustee = Trustee(fields[5]);
  if (!rights || !trustee) return std::nullopt;
  ace.rights = MapGenericFileRights(*rights);
  ace.trustee = *trustee;
  return ace;
}

// Where the component that starts at or after from ends: at the next "X:" of O, G, D or S
// outside parentheses, or at the end.
std::size_t ComponentEnd(std::string_view sddl, std::size_t from) {
  int depth = 0;
  for (std::size_t i = from; i < sddl.size(); ++i) {
    if (sddl[i] == '(') ++depth;
    if (sddl[i] == ')') --depth;
    if (depth == 0 && i + 1 < sddl.size() && sddl[i + 1] == ':' &&
        std::string_view("OGDS").find(sddl[i]) != std::string_view::npos) {
      return i;
    }
  }
  return sddl.size();
}

struct DaclFlags {
  bool protectedDacl = false;
  bool noAccessControl = false;
};

// The control flags before a DACL's entries: "P", "AI", "AR" and "NO_ACCESS_CONTROL", in any
// order; anything else is not SDDL.
std::optional<DaclFlags> ParseDaclFlags(std::string_view text) {
  DaclFlags flags;
  while (!text.empty()) {
    if (text.substr(0, 17) == "NO_ACCESS_CONTROL") {
      flags.noAccessControl = true;
      text.remove_prefix(17);
    } else if (text.substr(0, 2) == "AI" || text.substr(0, 2) == "AR") {
      text.remove_prefix(2);
    } else if (text[0] == 'P') {
      flags.protectedDacl = true;
      text.remove_prefix(1);
    } else {
      return std::nullopt;
    }
  }
  return flags;
}

bool Holds(const std::vector<std::string>& token, const std::string& trustee) {
  return std::ranges::find(token, trustee) != token.end();
}

}  // namespace

std::uint32_t MapGenericFileRights(std::uint32_t rights) {
  std::uint32_t mapped = rights & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if ((rights & kGenericRead) != 0) mapped |= kFileGenericRead;
  if ((rights & kGenericWrite) != 0) mapped |= kFileGenericWrite;
  if ((rights & kGenericExecute) != 0) mapped |= kFileGenericExecute;
  if ((rights & kGenericAll) != 0) mapped |= kFileAllAccess;
  return mapped;
}

std::optional<SecurityText> ParseSecurityText(std::string_view sddl) {
  SecurityText out;
  std::string seen;  // each of O, G, D and S at most once
  std::size_t pos = 0;
  while (pos < sddl.size()) {
    if (pos + 1 >= sddl.size() || sddl[pos + 1] != ':') return std::nullopt;
    char part = sddl[pos];
    if (seen.find(part) != std::string::npos) return std::nullopt;
    seen += part;
    std::size_t end = ComponentEnd(sddl, pos + 2);
    std::string_view body = sddl.substr(pos + 2, end - pos - 2);
    pos = end;
    if (part == 'O') {
      std::optional<std::string> owner = Trustee(body);
      if (!owner) return std::nullopt;
      out.owner = *owner;
    } else if (part == 'G') {
      if (!Trustee(body)) return std::nullopt;
    } else if (part == 'D') {
      std::size_t open = body.find('(');
      std::optional<DaclFlags> flags = ParseDaclFlags(body.substr(0, open));
      if (!flags) return std::nullopt;
      out.hasDacl = !flags->noAccessControl;
      out.protectedDacl = flags->protectedDacl;
      while (open != std::string_view::npos) {
        std::size_t close = body.find(')', open);
        if (close == std::string_view::npos) return std::nullopt;
        std::optional<AceEntry> ace = ParseAce(body.substr(open + 1, close - open - 1));
        if (!ace) return std::nullopt;
        out.aces.push_back(*ace);
        open = close + 1 < body.size() ? close + 1 : std::string_view::npos;
        if (open != std::string_view::npos && body[open] != '(') return std::nullopt;
      }
    } else if (part != 'S') {
      return std::nullopt;
    }
  }
  return out;
}

bool AccessGranted(const SecurityText& security, const std::vector<std::string>& token,
                   std::uint32_t desired) {
  if (!security.hasDacl) return true;
  std::uint32_t missing = MapGenericFileRights(desired);
  bool ownerRightsListed = false;
  for (const AceEntry& ace : security.aces) ownerRightsListed |= ace.trustee == "OW";
  if (!security.owner.empty() && Holds(token, security.owner) && !ownerRightsListed) {
    missing &= ~(kReadControlAccess | kWriteDacAccess);
  }
  for (const AceEntry& ace : security.aces) {
    if (missing == 0) break;
    bool applies = Holds(token, ace.trustee) ||
                   (ace.trustee == "OW" && !security.owner.empty() && Holds(token, security.owner));
    if (ace.inheritOnly || !applies) continue;
    if (!ace.allow && (ace.rights & missing) != 0) return false;
    if (ace.allow) missing &= ~ace.rights;
  }
  return missing == 0;
}

std::string TrusteeName(std::string_view trustee) {
  for (const Alias& a : kAliases) {
    if (trustee == a.alias) return a.name;
  }
  return std::string(trustee);
}

}  // namespace platform
