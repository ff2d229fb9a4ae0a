// A JSON value and its writer, for the tool's machine-readable output.
#include "tools/tarvelctl/Json.h"

#include <cstdio>

namespace tarvelctl {

namespace {

void AppendEscape(std::string& out, std::uint32_t unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
  out += buf;
}

// The code point that starts at text[*i], advancing *i past it; U+FFFD for a byte that starts
// no well-formed UTF-8 sequence (overlong forms, surrogates and values past U+10FFFF included).
std::uint32_t NextCodePoint(std::string_view text, std::size_t* i) {
  auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(text[at]); };
  std::uint8_t lead = byte(*i);
  if (lead < 0x80) {
    ++*i;
    return lead;
  }
  int extra = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 0;
  if (extra == 0 || *i + static_cast<std::size_t>(extra) >= text.size()) {
    ++*i;
    return 0xFFFD;
  }
  std::uint32_t cp = lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    std::uint8_t b = byte(*i + k);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*i;
    return 0xFFFD;
  }
  *i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void Indent(std::string& out, int depth) {
  out += '\n';
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

}  // namespace

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = NextCodePoint(text, &i);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (cp >= 0x20 && cp < 0x7F) {
          out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
          AppendEscape(out, cp);
        } else {
          cp -= 0x10000;
          AppendEscape(out, 0xD800 + (cp >> 10));
          AppendEscape(out, 0xDC00 + (cp & 0x3FF));
        }
    }
  }
  return out + "\"";
}

Json Json::Object() {
  Json j;
  j.kind_ = Kind::kObject;
  return j;
}

Json Json::Array() {
  Json j;
  j.kind_ = Kind::kArray;
  return j;
}

Json& Json::Set(const std::string& key, Json value) {
  kind_ = Kind::kObject;
  for (auto& member : members_) {
    if (member.first == key) {
      member.second = std::move(value);
      return *this;
    }
  }
  members_.emplace_back(key, std::move(value));
  return *this;
}

Json& Json::Push(Json value) {
  kind_ = Kind::kArray;
  items_.push_back(std::move(value));
  return *this;
}

const Json& Json::Get(const std::string& key) const {
  static const Json kNull;
  for (const auto& member : members_) {
    if (member.first == key) return member.second;
  }
  return kNull;
}

std::string Json::Dump() const {
  std::string out;
  Write(out, 0);
  return out;
}

void Json::Write(std::string& out, int depth) const {
  switch (kind_) {
    case Kind::kNull:
      out += "null";
      return;
    case Kind::kBool:
      out += bool_ ? "true" : "false";
      return;
    case Kind::kNumber:
      out += std::to_string(number_);
      return;
    case Kind::kString:
      out += JsonQuote(text_);
      return;
    case Kind::kArray:
      if (items_.empty()) {
        out += "[]";
        return;
      }
      out += '[';
      for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i > 0) out += ',';
        Indent(out, depth + 1);
        items_[i].Write(out, depth + 1);
      }
      Indent(out, depth);
      out += ']';
      return;
    case Kind::kObject:
      if (members_.empty()) {
        out += "{}";
        return;
      }
      out += '{';
      for (std::size_t i = 0; i < members_.size(); ++i) {
        if (i > 0) out += ',';
        Indent(out, depth + 1);
        out += JsonQuote(members_[i].first);
        out += ": ";
        members_[i].second.Write(out, depth + 1);
      }
      Indent(out, depth);
      out += '}';
      return;
  }
}

}  // namespace tarvelctl
