// INI files as the profile reader sees them: decoding by byte-order mark, sections and keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::sim {

/// One "key=value" line, with the blanks around key and value already removed.
struct ProfileEntry {
  std::u16string key;
  std::u16string value;
};

/// One "[name]" section and its entries, in file order.
struct ProfileSection {
  std::u16string name;
  std::vector<ProfileEntry> entries;
};

/// Decodes a profile file: UTF-16LE or UTF-16BE with their byte-order marks, UTF-8 with its
/// mark, anything else as single-byte ANSI text (each byte one code unit, as Latin-1). So a
/// UTF-16LE file without a mark reads as ANSI text full of U+0000 and matches nothing.
std::u16string DecodeProfileBytes(const std::vector<std::uint8_t>& bytes);

/// Splits decoded text into sections. Lines end at CR, LF or CR LF; blanks (space, tab) around
/// each line are ignored; lines starting with ";" are comments; "key=value" lines before the
/// first section header belong to no section and are never found. A value enclosed in a pair
/// of matching quotes loses them.
std::vector<ProfileSection> ParseProfile(std::u16string_view text);

/// The first section of that name and, in it, the first entry of that key; names are compared
/// without regard to the case of A to Z.
std::optional<std::u16string> FindProfileValue(const std::vector<ProfileSection>& sections,
                                               std::u16string_view section,
                                               std::u16string_view key);

/// Copies a single text into out the way GetPrivateProfileStringW does: truncated to size - 1
/// units plus the terminator; returns the units copied.
std::uint32_t CopyProfileText(std::u16string_view text, char16_t* out, std::uint32_t size);

/// Copies a list of names, each NUL-terminated, plus a final NUL. When they do not fit, the
/// last one is cut and followed by two NULs and the result is size - 2.
std::uint32_t CopyProfileList(const std::vector<std::u16string>& names, char16_t* out,
                              std::uint32_t size);

}  // namespace platform::sim
