// Loading and releasing the policy file.
#include "policy/PolicyFile.h"

#include <memory>
#include <new>

#include "platform/Debug.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "policy/PolicyDecryption.h"
#include "policy/PolicyReader.h"

namespace policy {

char16_t PolicyFilePath[platform::kMaxPath] = {};

namespace {

std::unique_ptr<PolicyReader> reader;
std::unique_ptr<PolicyRecord> record;
bool allocationFails = false;

template <typename T>
std::unique_ptr<T> Create() {
  if (allocationFails) return nullptr;
  try {
    return std::make_unique<T>();  // value-initialised: a new record is all zero
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

bool LoadPolicyFile(const char16_t* path) {
  // A path that does not fit the 260-unit copy is rejected as missing below.
  bool fits = path != nullptr && platform::StrCopy(PolicyFilePath, platform::kMaxPath, path);
  if (path == nullptr) PolicyFilePath[0] = 0;
  if (!reader) reader = Create<PolicyReader>();
  if (!record) record = Create<PolicyRecord>();
  if (!reader || !record) return false;
  EnsureKeyContainer();
  if (!fits || platform::Current().files->PathFileExistsW(path) == 0) {
    platform::LogW(u"\n(VexService) Input path is not exist");
    return false;
  }
  return reader->ParsePolicyFile(PolicyFilePath, record.get());
}

bool ReleasePolicy() {
  reader.reset();
  record.reset();
  return true;
}

PolicyRecord* CurrentPolicyRecord() {
  return record.get();
}

void SetPolicyAllocationFailsForTests(bool fails) {
  allocationFails = fails;
}

}  // namespace policy
