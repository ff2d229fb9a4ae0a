// Who may open the files the service trusts: their DACL, how the tool sets it, and who else it
// lets in.
#include "tools/tarvelctl/FileSecurity.h"

#include <map>

#include "platform/Sddl.h"
#include "platform/Text.h"

namespace tarvelctl {

namespace {

std::string Failure(FileSecurityCalls& calls, const std::string& what, std::uint32_t code) {
  return what + ": " + calls.ErrorText(code) + " (" + std::to_string(code) + ")";
}

bool IsSystemOrAdministrators(const std::string& trustee) {
  return trustee == "SY" || trustee == "BA";
}

// The rights that let their holder open the file against the service, or get there.
struct OpenRight {
  std::uint32_t bits;
  const char* text;
};
constexpr OpenRight kOpenRights[] = {
    {platform::kFileReadData, "read"},
    {platform::kFileWriteData | platform::kFileAppendData, "write"},
    {platform::kFileExecute, "execute"},
    {platform::kDeleteAccess, "delete"},
    {platform::kWriteDacAccess, "change the DACL"},
    {platform::kWriteOwnerAccess, "take ownership"},
};

std::string RightsText(std::uint32_t rights) {
  std::string text;
  for (const OpenRight& r : kOpenRights) {
    if ((rights & r.bits) == 0) continue;
    if (!text.empty()) text += ", ";
    text += r.text;
  }
  return text;
}

}  // namespace

bool WriteTrustedFile(FileSecurityCalls& calls, const std::string& path,
                      const std::vector<std::uint8_t>& bytes, std::string* error) {
  const std::u16string target = platform::FromUtf8(path);
  const std::u16string temporary = target + u".new";
  // A file left over from an interrupted run goes first: opening an existing file would keep
  // its descriptor, so the new file must really be new.
  std::uint32_t code = calls.Delete(temporary);
  if (code != 0) {
    *error = Failure(calls, "cannot remove the old " + path + ".new", code);
    return false;
  }
  code = calls.CreateWithSecurity(temporary, kTrustedFileSddl, bytes);
  if (code != 0) {
    *error = Failure(calls, "cannot write " + path + ".new", code);
    calls.Delete(temporary);
    return false;
  }
  code = calls.MoveReplacing(temporary, target);
  if (code != 0) {
    *error = Failure(calls, "cannot replace " + path, code);
    calls.Delete(temporary);
    return false;
  }
  return true;
}

bool SecureTrustedFile(FileSecurityCalls& calls, const std::string& path, std::string* error) {
  std::uint32_t code = calls.SetDacl(platform::FromUtf8(path), kTrustedFileSddl);
  if (code != 0) *error = Failure(calls, "cannot set the DACL of " + path, code);
  return code == 0;
}

std::optional<std::u16string> ReadFileSddl(FileSecurityCalls& calls, const std::string& path,
                                           std::string* error) {
  std::u16string sddl;
  std::uint32_t code = calls.GetSecurity(platform::FromUtf8(path), &sddl);
  if (code != 0) {
    *error = Failure(calls, "cannot read the security of " + path, code);
    return std::nullopt;
  }
  return sddl;
}

std::optional<std::vector<FileOpener>> OthersWhoCanOpen(std::u16string_view sddl) {
  std::optional<platform::SecurityText> security =
      platform::ParseSecurityText(platform::ToUtf8(sddl));
  if (!security) return std::nullopt;
  std::uint32_t openRights = 0;
  for (const OpenRight& r : kOpenRights) openRights |= r.bits;

  std::vector<std::string> order;
  std::map<std::string, std::uint32_t> granted;
  std::map<std::string, std::uint32_t> denied;
  auto grant = [&](const std::string& trustee, std::uint32_t rights) {
    if (IsSystemOrAdministrators(trustee) || (rights & openRights) == 0) return;
    if (granted.find(trustee) == granted.end()) order.push_back(trustee);
    granted[trustee] |= rights & openRights;
  };
  if (!security->hasDacl) {
    grant("WD", platform::kFileAllAccess);
  } else {
    for (const platform::AceEntry& ace : security->aces) {
      if (ace.inheritOnly) continue;
      if (!ace.allow) {
        denied[ace.trustee] |= ace.rights;
        continue;
      }
      grant(ace.trustee, ace.rights & ~denied[ace.trustee] & ~denied["WD"]);
    }
  }
  // An owner may always rewrite the DACL, unless an OWNER RIGHTS entry limits it.
  bool ownerRightsListed = false;
  for (const platform::AceEntry& ace : security->aces) ownerRightsListed |= ace.trustee == "OW";
  if (!security->owner.empty() && !ownerRightsListed) {
    grant(security->owner, platform::kWriteDacAccess);
  }

  std::vector<FileOpener> openers;
  openers.reserve(order.size());
  for (const std::string& trustee : order) {
    openers.push_back({trustee, platform::TrusteeName(trustee), RightsText(granted[trustee])});
  }
  return openers;
}

std::string DescribeOpeners(const std::vector<FileOpener>& openers) {
  std::string text;
  for (const FileOpener& o : openers) {
    if (!text.empty()) text += ", ";
    text += o.name + " (" + o.rights + ")";
  }
  return text;
}

}  // namespace tarvelctl
