// A JSON value and its writer, for the tool's machine-readable output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvelctl {

/// null, a boolean, an integer, a string, an array or an object whose keys keep the order in
/// which they were set.
class Json {
 public:
  Json() = default;
  Json(std::nullptr_t) {}  // NOLINT(google-explicit-constructor): null reads as null
  Json(bool value) : kind_(Kind::kBool), bool_(value) {}  // NOLINT(google-explicit-constructor)
  Json(int value) : Json(static_cast<std::int64_t>(value)) {}               // NOLINT
  Json(std::uint32_t value) : Json(static_cast<std::int64_t>(value)) {}     // NOLINT
  Json(std::int64_t value) : kind_(Kind::kNumber), number_(value) {}        // NOLINT
  Json(const char* text) : kind_(Kind::kString), text_(text) {}             // NOLINT
  Json(std::string text) : kind_(Kind::kString), text_(std::move(text)) {}  // NOLINT

  static Json Object();
  static Json Array();

  /// Sets key in an object (replacing an earlier value of that key); returns *this.
  Json& Set(const std::string& key, Json value);
  /// Appends to an array; returns *this.
  Json& Push(Json value);
  /// The value of key in an object; null when absent.
  [[nodiscard]] const Json& Get(const std::string& key) const;
  [[nodiscard]] bool IsNull() const { return kind_ == Kind::kNull; }

  /// The value as JSON text, two blanks of indentation per level, ASCII only.
  [[nodiscard]] std::string Dump() const;

 private:
  enum class Kind : std::uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  void Write(std::string& out, int depth) const;

  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  std::int64_t number_ = 0;
  std::string text_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> members_;
};

/// text (UTF-8) as a JSON string with its quotes: the quote, the backslash and control
/// characters escaped, everything outside ASCII as \uXXXX (surrogate pairs beyond U+FFFF), and
/// bytes that are not UTF-8 as U+FFFD.
std::string JsonQuote(std::string_view text);

}  // namespace tarvelctl
