// Loading and releasing the policy file: the process-wide PolicyReader, PolicyRecord and path.
#pragma once

#include "platform/Files.h"
#include "policy/PolicyRecord.h"

namespace policy {

/// Copy of the path most recently given to LoadPolicyFile; the path that is parsed.
extern char16_t PolicyFilePath[platform::kMaxPath];

/// Makes sure the PolicyReader and the PolicyRecord exist (an existing record is kept as it
/// is), prepares the key container, and parses the file at path into the record. True when the
/// file was parsed and all three byte counts are non-zero. A null path, a path of 260 or more
/// code units, or one where no file or directory exists logs "Input path is not exist".
bool LoadPolicyFile(const char16_t* path);

/// Destroys the PolicyReader and the PolicyRecord. Always true.
bool ReleasePolicy();

/// The process-wide PolicyRecord, or null before the first LoadPolicyFile and after
/// ReleasePolicy.
PolicyRecord* CurrentPolicyRecord();

/// Test hook: while set, creating the PolicyReader or the PolicyRecord fails as an exhausted
/// heap would make it fail.
void SetPolicyAllocationFailsForTests(bool fails);

}  // namespace policy
