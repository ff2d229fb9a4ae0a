// Portable wide-string helpers: char16_t stands for Win32's 2-byte WCHAR on every build.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// wcslen on UTF-16 text.
std::size_t StrLen(const char16_t* text);

/// wcscpy_s: copies src with its terminator into dst of capacity units. When it does not fit,
/// dst becomes the empty string and the result is false.
bool StrCopy(char16_t* dst, std::size_t capacity, const char16_t* src);

/// wcscat_s: appends src to the text in dst of capacity units. When it does not fit, dst becomes
/// the empty string and the result is false.
bool StrCat(char16_t* dst, std::size_t capacity, const char16_t* src);

/// _wcsicmp limited to the letters A to Z: 0 when equal apart from their case.
int CompareIgnoringAsciiCase(const char16_t* a, const char16_t* b);

/// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
/// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string FromUtf8(std::string_view text);

}  // namespace platform
