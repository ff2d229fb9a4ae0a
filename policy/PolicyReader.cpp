// The PolicyReader: parses one policy file into the PolicyRecord.
#include "policy/PolicyReader.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/Debug.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Threads.h"
#include "platform/UniqueHandle.h"
#include "platform/Volumes.h"
#include "policy/PolicyLine.h"

namespace policy {

namespace {

void StoreText(char16_t* slot, std::u16string_view stored) {
  if (stored.empty()) return;
  std::copy(stored.begin(), stored.end(), slot);
  slot[stored.size()] = 0;
}

}  // namespace

void StorePolicyLine(std::u16string_view text, PolicyRecord& record) {
  PolicyLine line = ClassifyPolicyLine(text);
  if (line.skipped) return;
  switch (line.key) {
    case PolicyKey::kCounter:
      StoreText(record.counterText, StoredPolicyText(line.value));
      break;
    case PolicyKey::kDescription:
      StoreText(record.descriptionText, StoredPolicyText(line.value));
      break;
    case PolicyKey::kState:
      StoreText(record.stateText, StoredPolicyText(line.value));
      break;
    case PolicyKey::kJan:
      record.counterLength = ParsePolicyCount(line.value);
      break;
    case PolicyKey::kFeb:
      record.descriptionLength = ParsePolicyCount(line.value);
      break;
    case PolicyKey::kMar:
      record.stateLength = ParsePolicyCount(line.value);
      break;
    case PolicyKey::kNone:
      break;
  }
}

void StorePolicyLine(const PolicyLineDigest& line, PolicyRecord& record) {
  switch (line.key()) {
    case PolicyKey::kCounter:
      StoreText(record.counterText, line.StoredText());
      break;
    case PolicyKey::kDescription:
      StoreText(record.descriptionText, line.StoredText());
      break;
    case PolicyKey::kState:
      StoreText(record.stateText, line.StoredText());
      break;
    case PolicyKey::kJan:
      record.counterLength = line.Count();
      break;
    case PolicyKey::kFeb:
      record.descriptionLength = line.Count();
      break;
    case PolicyKey::kMar:
      record.stateLength = line.Count();
      break;
    case PolicyKey::kNone:
      break;
  }
}

bool PolicyReader::ParsePolicyFile(const char16_t* path, PolicyRecord* record) {
  if (path == nullptr || record == nullptr) return false;
  platform::Platform& p = platform::Current();
  platform::UniqueFileHandle file(p.files->CreateFileW(
      path, platform::kGenericRead, 0, platform::kOpenExisting, platform::kFileAttributeNormal));
  if (!file.valid()) {
    platform::LogW(u"\n(VexService) Internal open fail!");
    return false;
  }
  // A read error ends the file as its end would: what was read so far still counts.
  PolicyLineReader lines([&](std::uint8_t* buffer, std::uint32_t size) -> std::uint32_t {
    std::uint32_t got = 0;
    if (p.files->ReadFile(file.get(), buffer, size, &got) == 0) return 0;
    return got;
  });
  // Of each line only what the record can store is kept, so a line of any length, or a file of
  // any size, is read in the same small amount of memory.
  PolicyLineDigest line;
  while (lines.Next(&line)) StorePolicyLine(line, *record);
  file.reset();
  if (record->counterLength != 0 && record->descriptionLength != 0 && record->stateLength != 0) {
    return true;
  }
  platform::LogW(u"\n(VexService) INI information is not correct!");
  return false;
}

}  // namespace policy
