// `check`'s Write protection section: the tag file's digit against the WriteProtect value.
#include <memory>
#include <optional>
#include <string>

#include "enforcement/DwordReg.h"
#include "enforcement/PolicyPoll.h"
#include "platform/Files.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "tools/tarvelctl/CheckSections.h"
#include "tools/tarvelctl/LocalFiles.h"

namespace tarvelctl {

namespace {

/// The poll corrects WriteProtect within a second: a difference is looked at again after this.
constexpr std::uint32_t kWriteProtectSettleMs = 1500;

// The tag file's first character as the poll reads it; nullopt after an item saying why not.
std::optional<std::int32_t> ReadTag(CheckState& state, Json& facts) {
  const std::string path =
      JoinLocalPath(*state.directory, platform::ToUtf8(enforcement::kTagFileName));
  facts.Set("tagFile", path);
  std::u16string staged = platform::FromUtf8(path);
  if (LocalFileExists(path)) {
    std::string problem;
    std::optional<std::vector<std::uint8_t>> bytes = ReadLocalFile(path, &problem);
    if (!bytes) {
      state.Add(kSectionWriteProtection, "writeProtection", CheckResult::kUnknown,
                "tag file unreadable: " + problem);
      return std::nullopt;
    }
    staged = state.host.Stage(path, *bytes);
  }
  char16_t text[enforcement::kTagCapacity] = {};
  platform::Current().files->GetPrivateProfileStringW(u"State", u"key", u"0", text,
                                                      enforcement::kTagCapacity, staged.c_str());
  facts.Set("tagFirstCharacter", platform::ToUtf8(std::u16string(text, text[0] == 0 ? 0 : 1)));
  std::int32_t desired = enforcement::TagDigitValue(text[0]);
  facts.Set("desired", desired);
  return desired;
}

std::int32_t ReadWriteProtect() {
  // The accessor the poll reads it with: made for the one read and deleted right after.
  auto reg = std::make_unique<enforcement::DwordReg>(
      platform::kHkeyLocalMachine, enforcement::kWriteProtectKey, enforcement::kWriteProtectValue);
  return static_cast<std::int32_t>(reg->Read());
}

}  // namespace

void CheckWriteProtection(CheckState& state) {
  Json facts = Json::Object();
  std::optional<std::int32_t> desired;
  if (!state.directory) {
    state.Add(kSectionWriteProtection, "writeProtection", CheckResult::kUnknown,
              "the system folder the service reads is not known (see service.executable)");
  } else {
    desired = ReadTag(state, facts);
  }
  std::int32_t current = ReadWriteProtect();
  if (desired && *desired != current && state.running) {
    // The poll may be about to correct it: look again once it has had its second.
    state.services->SleepMs(kWriteProtectSettleMs);
    desired = ReadTag(state, facts);
    current = ReadWriteProtect();
  }
  facts.Set("writeProtect", current);
  facts.Set("agree", desired ? Json(*desired == current) : Json());
  state.report.facts.Set("writeProtection", facts);
  state.desiredWriteProtect = desired;
  if (!desired) return;
  const std::string values = "the tag asks for " + std::to_string(*desired) + ", WriteProtect is " +
                             std::to_string(current);
  state.Add(kSectionWriteProtection, "writeProtection",
            *desired == current ? CheckResult::kOk : CheckResult::kDrift,
            (*desired == current ? "agree: " : "disagree: ") + values);
}

}  // namespace tarvelctl
