// The policy file's line rules: splitting UTF-16LE bytes into lines and classifying each line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "policy/PolicyRecord.h"

namespace policy {

/// The six key names, in the order in which a line is tested for them.
enum class PolicyKey { kNone, kCounter, kDescription, kState, kJan, kFeb, kMar };

/// What the reader makes of one line's text.
struct PolicyLine {
  PolicyKey key = PolicyKey::kNone;
  /// The line holds a section name or ";" and is skipped whatever else it holds.
  bool skipped = false;
  /// The code units after the first "=", or the whole text when there is none.
  std::u16string_view value;
};

/// Classifies a line's text: section names and ";" first, then the first key name found
/// anywhere in it (case-sensitive substring test), then the value.
PolicyLine ClassifyPolicyLine(std::u16string_view text);

/// "Counter", "Description", "State", "Jan", "Feb", "Mar" (empty for kNone).
std::u16string_view PolicyKeyName(PolicyKey key);

/// True for the three keys whose value is encrypted text.
bool IsPolicyTextKey(PolicyKey key);

/// An encrypted text value as it is stored: trailing U+000D removed, cut to 260 code units.
/// Empty when fewer than 2 code units remain (the value is then ignored).
std::u16string_view StoredPolicyText(std::u16string_view value);

/// A byte count by the rules of wcstol in base 10 with a 32-bit long: leading white space,
/// one optional sign, digits up to the first non-digit; no digits gives 0; out-of-range values
/// clamp to the 32-bit limits.
std::int32_t ParsePolicyCount(std::u16string_view value);

/// wcstol's reading of a count, fed in pieces: ParsePolicyCount of everything fed.
class PolicyCountReader {
 public:
  /// Feeds units until the number has ended; later units change nothing.
  void Add(std::u16string_view units);
  [[nodiscard]] std::int32_t Value() const;

 private:
  enum class Phase : std::uint8_t { kBlanks, kSign, kDigits, kDone };
  Phase phase_ = Phase::kBlanks;
  bool negative_ = false;
  std::int64_t magnitude_ = 0;
};

/// What the reader keeps of one line, fed in pieces of any size: whether it holds a section name
/// or ";", the first key name it holds, and of its value only what the record can store (the
/// first 260 code units, whether more than trailing U+000D follows, and the count read so far).
/// Its size does not depend on the line's length, so a line of any length is read in bounded
/// memory, with the same outcome as ClassifyPolicyLine on the whole text.
class PolicyLineDigest {
 public:
  /// Forgets everything, for the next line.
  void Clear();
  /// Adds the next code units of the line's text.
  void Append(std::u16string_view piece);

  /// The line holds a section name or ";" and is skipped whatever else it holds.
  [[nodiscard]] bool skipped() const;
  /// The first key name found (kNone for a skipped line or one that holds none).
  [[nodiscard]] PolicyKey key() const;
  /// StoredPolicyText of the value: what a text key stores (empty: ignored).
  [[nodiscard]] std::u16string_view StoredText() const;
  /// ParsePolicyCount of the value: what a count key stores.
  [[nodiscard]] std::int32_t Count() const;

 private:
  /// One candidate value: the whole text (no "=" on the line) or what follows the first "=".
  struct Value {
    void Add(std::u16string_view units);
    char16_t head[kPolicyValueUnits] = {};
    std::size_t headSize = 0;
    bool moreText = false;  ///< a unit other than U+000D follows the head
    PolicyCountReader count;
  };
  [[nodiscard]] const Value& value() const { return sawEquals_ ? afterEquals_ : whole_; }
  void FindNames(std::u16string_view units);

  /// The last code units seen, so that a name split between two pieces is still found: one
  /// fewer than the longest name, "[Description]".
  static constexpr std::size_t kCarryUnits = 12;
  char16_t carry_[kCarryUnits] = {};
  std::size_t carrySize_ = 0;
  std::uint16_t found_ = 0;  ///< one bit per entry of the skip marks, then of the key names
  bool sawEquals_ = false;
  Value whole_;
  Value afterEquals_;
};

/// Reads a policy file's lines from a source of bytes, as UTF-16LE code units with no
/// conversion. A line runs to the next U+000A (dropped); its text ends at its first U+0000.
/// A U+FFFF also ends a line: wide input functions report that value as the end of the input,
/// so it is never part of a stored value. Reading ends at the end of the source, and at a line
/// that begins with U+0000. A final odd byte is ignored.
class PolicyLineReader {
 public:
  /// Fills up to size bytes and returns how many; 0 means the end (a read error counts as one).
  using Source = std::function<std::uint32_t(std::uint8_t* buffer, std::uint32_t size)>;

  explicit PolicyLineReader(Source source) : source_(std::move(source)) {}

  /// The next line's text; false when reading has ended. Holds the whole line.
  bool Next(std::u16string* text);
  /// The next line, kept only as far as the record needs it; false when reading has ended.
  bool Next(PolicyLineDigest* line);
  /// Whether the text of the line just read was cut at a U+0000.
  [[nodiscard]] bool CutAtNul() const { return cutAtNul_; }
  /// Whether reading ended at a line that begins with U+0000.
  [[nodiscard]] bool StoppedAtNul() const { return stoppedAtNul_; }

 private:
  bool NextUnit(char16_t* unit);
  /// Reads one line and hands its text to sink in pieces; false when reading has ended.
  bool ReadLine(const std::function<void(std::u16string_view)>& sink);

  Source source_;
  // One read's bytes and the odd byte carried over from the read before; allocated on the
  // first read and never cleared, since only the bytes a read fills are ever looked at.
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
  bool ended_ = false;
  bool cutAtNul_ = false;
  bool stoppedAtNul_ = false;
};

}  // namespace policy
