// INI files as the profile reader sees them.
#include "platform/sim/ProfileText.h"

#include <algorithm>

#include "platform/Text.h"

namespace platform::sim {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace

std::u16string DecodeProfileBytes(const std::vector<std::uint8_t>& bytes) {
  std::u16string out;
  std::size_t n = bytes.size();
  if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    for (std::size_t i = 2; i + 1 < n; i += 2) out += char16_t(bytes[i] | (bytes[i + 1] << 8));
  } else if (n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    for (std::size_t i = 2; i + 1 < n; i += 2) out += char16_t((bytes[i] << 8) | bytes[i + 1]);
  } else if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    out = FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 3, n - 3));
  } else {
    out.reserve(n);
    for (std::uint8_t b : bytes) out += char16_t(b);
  }
  return out;
}

std::vector<ProfileSection> ParseProfile(std::u16string_view text) {
  std::vector<ProfileSection> sections;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      std::size_t close = line.rfind(u']');
      if (close != std::u16string_view::npos) {
        sections.push_back(ProfileSection{std::u16string(Trim(line.substr(1, close - 1))), {}});
      }
      continue;
    }
    std::size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos || sections.empty()) continue;
    std::u16string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    sections.back().entries.push_back(
        ProfileEntry{std::u16string(Trim(line.substr(0, eq))), std::u16string(value)});
  }
  return sections;
}

std::optional<std::u16string> FindProfileValue(const std::vector<ProfileSection>& sections,
                                               std::u16string_view section,
                                               std::u16string_view key) {
  auto s = std::find_if(sections.begin(), sections.end(),
                        [&](const ProfileSection& x) { return SameName(x.name, section); });
  if (s == sections.end()) return std::nullopt;
  for (const auto& entry : s->entries) {
    if (SameName(entry.key, key)) return entry.value;
  }
  return std::nullopt;
}

std::uint32_t CopyProfileText(std::u16string_view text, char16_t* out, std::uint32_t size) {
  if (out == nullptr || size == 0) return 0;
  auto n = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), size - 1));
  std::copy_n(text.begin(), n, out);
  out[n] = 0;
  return n;
}

std::uint32_t CopyProfileList(const std::vector<std::u16string>& names, char16_t* out,
                              std::uint32_t size) {
  if (out == nullptr || size == 0) return 0;
  if (size < 3) {
    std::fill_n(out, size, char16_t{0});
    return 0;
  }
  std::uint32_t used = 0;
  for (const auto& name : names) {
    if (used + name.size() + 1 > size - 1) {
      // The last name is cut and the list still ends in two NULs.
      std::uint32_t room = size - 2 - used;
      std::copy_n(name.begin(), room, out + used);
      out[size - 2] = 0;
      out[size - 1] = 0;
      return size - 2;
    }
    std::copy(name.begin(), name.end(), out + used);
    used += static_cast<std::uint32_t>(name.size());
    out[used++] = 0;
  }
  out[used] = 0;
  return used;
}

}  // namespace platform::sim
