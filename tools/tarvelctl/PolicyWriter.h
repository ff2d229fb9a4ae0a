// `policy write`: builds a policy file whose values the service decrypts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "policy/PolicyLine.h"

namespace tarvelctl {

/// What `policy write` is asked for.
struct PolicyWriteRequest {
  bool removable = false;
  bool optical = false;
  /// The exact Counter text; when absent the tool numbers the file itself.
  std::optional<std::u16string> counter;
  /// The exact Description text; kDefaultDescription when absent.
  std::optional<std::u16string> description;
  /// The first number tried as Counter text when none is given (main passes the time).
  std::uint64_t counterStart = 1;
};

/// A policy file ready to be written, with the plain texts it carries.
struct PolicyFileImage {
  std::vector<std::uint8_t> bytes;
  std::u16string counter;
  std::u16string description;
  std::u16string state;
};

inline constexpr std::u16string_view kDefaultDescription = u"Storage device policy";

/// The State text of two lock policies: "true" or "false" for removable, then for optical.
std::u16string PolicyStateText(bool removable, bool optical);

/// Encrypts plain (followed by an encrypted U+0000 when terminator is set) through the
/// installed platform's CryptoAPI with the policy key: MD5 of the passphrase, used whole as a
/// 128-bit RC4 key. Returns the ciphertext code units, or nullopt with *error set.
std::optional<std::u16string> EncryptPolicyText(std::u16string_view plain, bool terminator,
                                                std::string* error);

/// Why a line "Key=cipher" would not give the reader back exactly cipher as key's value
/// (a U+0000, U+000A or U+FFFF in it, a ";" or section name, an earlier key name, a final
/// U+000D, fewer than 2 or more than 260 code units); empty when it would.
std::string StorageProblem(policy::PolicyKey key, std::u16string_view cipher);

/// Builds the nine-line file (CR LF line ends, UTF-16LE, no byte-order mark) with correct
/// Jan/Feb/Mar counts. A value whose ciphertext cannot be stored is refused with a clear
/// error, except the tool's own Counter number, which is replaced by the next one.
std::optional<PolicyFileImage> BuildPolicyFile(const PolicyWriteRequest& request,
                                               std::string* error);

}  // namespace tarvelctl
