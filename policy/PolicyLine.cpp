// The policy file's line rules.
#include "policy/PolicyLine.h"

#include <algorithm>
#include <array>
#include <limits>

#include "policy/PolicyRecord.h"

namespace policy {

namespace {

// Read in pieces of 128 code units; lines of any length are joined from them.
constexpr std::uint32_t kPieceBytes = 256;

constexpr std::array<std::u16string_view, 4> kSkipMarks = {u"[Counter]", u";", u"[Description]",
                                                           u"[State]"};

struct KeyName {
  PolicyKey key;
  std::u16string_view name;
};
constexpr std::array<KeyName, 6> kKeyNames = {{{PolicyKey::kCounter, u"Counter"},
                                               {PolicyKey::kDescription, u"Description"},
                                               {PolicyKey::kState, u"State"},
                                               {PolicyKey::kJan, u"Jan"},
                                               {PolicyKey::kFeb, u"Feb"},
                                               {PolicyKey::kMar, u"Mar"}}};

bool IsWideSpace(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

PolicyLine ClassifyPolicyLine(std::u16string_view text) {
  PolicyLine line;
  for (std::u16string_view mark : kSkipMarks) {
    if (text.find(mark) != std::u16string_view::npos) {
      line.skipped = true;
      return line;
    }
  }
  for (const KeyName& k : kKeyNames) {
    if (text.find(k.name) != std::u16string_view::npos) {
      line.key = k.key;
      break;
    }
  }
  if (line.key == PolicyKey::kNone) return line;
  std::size_t eq = text.find(u'=');
  line.value = eq == std::u16string_view::npos ? text : text.substr(eq + 1);
  return line;
}

std::u16string_view PolicyKeyName(PolicyKey key) {
  for (const KeyName& k : kKeyNames) {
    if (k.key == key) return k.name;
  }
  return {};
}

bool IsPolicyTextKey(PolicyKey key) {
  return key == PolicyKey::kCounter || key == PolicyKey::kDescription || key == PolicyKey::kState;
}

std::u16string_view StoredPolicyText(std::u16string_view value) {
  while (!value.empty() && value.back() == u'\r') value.remove_suffix(1);
  if (value.size() < 2) return {};
  return value.substr(0, kPolicyValueUnits);
}

std::int32_t ParsePolicyCount(std::u16string_view value) {
  std::size_t i = 0;
  while (i < value.size() && IsWideSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
    negative = value[i] == u'-';
    ++i;
  }
  // Accumulate the magnitude with room above the 32-bit range, then clamp.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
    magnitude = std::min(magnitude * 10 + (value[i] - u'0'), kLimit);
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
}

bool PolicyLineReader::NextUnit(char16_t* unit) {
  while (buffer_.size() - pos_ < 2) {
    if (ended_) return false;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
    std::size_t have = buffer_.size();
    buffer_.resize(have + kPieceBytes);
    std::uint32_t got = source_(buffer_.data() + have, kPieceBytes);
    buffer_.resize(have + std::min<std::uint32_t>(got, kPieceBytes));
    if (got == 0) ended_ = true;
  }
  *unit = static_cast<char16_t>(buffer_[pos_] | (buffer_[pos_ + 1] << 8));
  pos_ += 2;
  return true;
}

bool PolicyLineReader::Next(std::u16string* text) {
  text->clear();
  cutAtNul_ = false;
  if (stoppedAtNul_) return false;
  bool any = false;
  char16_t c = 0;
  while (NextUnit(&c)) {
    if (!any && c == 0) {
      stoppedAtNul_ = true;
      return false;
    }
    any = true;
    if (c == u'\n' || c == 0xFFFF) break;
    if (c == 0) cutAtNul_ = true;
    if (!cutAtNul_) *text += c;
  }
  return any;
}

}  // namespace policy
