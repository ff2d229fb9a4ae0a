// The policy file's line rules.
#include "policy/PolicyLine.h"

#include <algorithm>
#include <array>
#include <limits>

#include "policy/PolicyRecord.h"

namespace policy {

namespace {

// The file is read in pieces of 32768 code units; lines of any length are joined from them.
constexpr std::uint32_t kReadBytes = 65536;
// A line's text is handed on in pieces of this many code units.
constexpr std::size_t kPieceUnits = 512;

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

static_assert(kSkipMarks.size() + kKeyNames.size() <= 16, "one bit of found_ per name");

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
  PolicyCountReader count;
  count.Add(value);
  return count.Value();
}

void PolicyCountReader::Add(std::u16string_view units) {
  // Magnitudes are kept with room above the 32-bit range and clamped when read.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (char16_t c : units) {
    const bool digit = c >= u'0' && c <= u'9';
    switch (phase_) {
      case Phase::kBlanks:
        if (IsWideSpace(c)) continue;
        if (c == u'+' || c == u'-') {
          negative_ = c == u'-';
          phase_ = Phase::kSign;
          continue;
        }
        [[fallthrough]];
      case Phase::kSign:
      case Phase::kDigits:
        if (!digit) {
          phase_ = Phase::kDone;
          return;
        }
        phase_ = Phase::kDigits;
        magnitude_ = std::min(magnitude_ * 10 + (c - u'0'), kLimit);
        continue;
      case Phase::kDone:
        return;
    }
  }
}

std::int32_t PolicyCountReader::Value() const {
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  if (negative_) return static_cast<std::int32_t>(-magnitude_);
  return static_cast<std::int32_t>(std::min(magnitude_, kLimit - 1));
}

void PolicyLineDigest::Value::Add(std::u16string_view units) {
  std::size_t take = std::min(units.size(), kPolicyValueUnits - headSize);
  std::copy_n(units.begin(), take, head + headSize);
  headSize += take;
  if (!moreText && units.substr(take).find_first_not_of(u'\r') != std::u16string_view::npos) {
    moreText = true;
  }
  count.Add(units);
}

void PolicyLineDigest::Clear() {
  // The heads are not wiped: only their first headSize units count.
  carrySize_ = 0;
  found_ = 0;
  sawEquals_ = false;
  for (Value* v : {&whole_, &afterEquals_}) {
    v->headSize = 0;
    v->moreText = false;
    v->count = PolicyCountReader();
  }
}

void PolicyLineDigest::FindNames(std::u16string_view units) {
  auto look = [&](std::u16string_view name, std::size_t bit) {
    const auto mask = static_cast<std::uint16_t>(1u << bit);
    if ((found_ & mask) == 0 && units.find(name) != std::u16string_view::npos) found_ |= mask;
  };
  for (std::size_t i = 0; i < kSkipMarks.size(); ++i) look(kSkipMarks[i], i);
  for (std::size_t i = 0; i < kKeyNames.size(); ++i) look(kKeyNames[i].name, kSkipMarks.size() + i);
}

void PolicyLineDigest::Append(std::u16string_view piece) {
  static_assert(kCarryUnits + 1 == std::u16string_view(u"[Description]").size());
  // A name that starts in the carried units and ends in this piece is found in the junction;
  // one wholly inside the piece is found in the piece itself.
  char16_t junction[2 * kCarryUnits];
  std::size_t head = std::min(piece.size(), kCarryUnits);
  std::copy_n(carry_, carrySize_, junction);
  std::copy_n(piece.begin(), head, junction + carrySize_);
  FindNames(std::u16string_view(junction, carrySize_ + head));
  FindNames(piece);
  std::u16string_view joined(junction, carrySize_ + head);
  std::u16string_view tail = piece.size() >= kCarryUnits ? piece : joined;
  carrySize_ = std::min(tail.size(), kCarryUnits);
  std::copy_n(tail.end() - static_cast<std::ptrdiff_t>(carrySize_), carrySize_, carry_);

  if (sawEquals_) {
    afterEquals_.Add(piece);
    return;
  }
  std::size_t eq = piece.find(u'=');
  if (eq == std::u16string_view::npos) {
    whole_.Add(piece);
    return;
  }
  // From the first "=" on, the whole text is no longer the value.
  sawEquals_ = true;
  afterEquals_.Add(piece.substr(eq + 1));
}

bool PolicyLineDigest::skipped() const {
  return (found_ & ((1u << kSkipMarks.size()) - 1)) != 0;
}

PolicyKey PolicyLineDigest::key() const {
  if (skipped()) return PolicyKey::kNone;
  for (std::size_t i = 0; i < kKeyNames.size(); ++i) {
    if ((found_ & (1u << (kSkipMarks.size() + i))) != 0) return kKeyNames[i].key;
  }
  return PolicyKey::kNone;
}

std::u16string_view PolicyLineDigest::StoredText() const {
  const Value& v = value();
  std::u16string_view text(v.head, v.headSize);
  // Past the head there is either more text, so the stored value is the whole head, or only
  // U+000D, which the trimming removes with the head's own trailing U+000D.
  if (v.moreText) return text;
  return StoredPolicyText(text);
}

std::int32_t PolicyLineDigest::Count() const {
  return value().count.Value();
}

bool PolicyLineReader::NextUnit(char16_t* unit) {
  while (size_ - pos_ < 2) {
    if (ended_) return false;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBytes + 1);
    // At most one byte is left over: it is the first half of the next unit.
    const std::size_t have = size_ - pos_;
    if (have == 1) buffer_[0] = buffer_[pos_];
    pos_ = 0;
    const std::uint32_t got = source_(buffer_.get() + have, kReadBytes);
    size_ = have + std::min(got, kReadBytes);
    if (got == 0) ended_ = true;
  }
  *unit = static_cast<char16_t>(buffer_[pos_] | (buffer_[pos_ + 1] << 8));
  pos_ += 2;
  return true;
}

bool PolicyLineReader::ReadLine(const std::function<void(std::u16string_view)>& sink) {
  cutAtNul_ = false;
  if (stoppedAtNul_) return false;
  // The line's text is handed on in pieces, so that nothing here grows with its length.
  char16_t piece[kPieceUnits];
  std::size_t size = 0;
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
    if (cutAtNul_) continue;
    piece[size++] = c;
    if (size == kPieceUnits) {
      sink(std::u16string_view(piece, size));
      size = 0;
    }
  }
  if (size > 0) sink(std::u16string_view(piece, size));
  return any;
}

bool PolicyLineReader::Next(std::u16string* text) {
  text->clear();
  return ReadLine([text](std::u16string_view piece) { text->append(piece); });
}

bool PolicyLineReader::Next(PolicyLineDigest* line) {
  line->Clear();
  return ReadLine([line](std::u16string_view piece) { line->Append(piece); });
}

}  // namespace policy
