// The PolicyReader: parses one policy file into the PolicyRecord.
#pragma once

#include <string_view>

#include "policy/PolicyLine.h"
#include "policy/PolicyRecord.h"

namespace policy {

/// Stateless: it exists so that LoadPolicyFile can create it once and ReleasePolicy destroy it.
class PolicyReader {
 public:
  /// Opens path for reading with no sharing, reads it line by line into record (later lines
  /// overwrite earlier ones; nothing is cleared first) and returns true when all three byte
  /// counts of the record are then non-zero. Logs "Internal open fail!" when the file cannot
  /// be opened and "INI information is not correct!" when a count is zero.
  bool ParsePolicyFile(const char16_t* path, PolicyRecord* record);
};

/// Applies one line's text to the record as the reader does.
void StorePolicyLine(std::u16string_view text, PolicyRecord& record);

/// Applies one line, as the reader keeps it, to the record.
void StorePolicyLine(const PolicyLineDigest& line, PolicyRecord& record);

}  // namespace policy
