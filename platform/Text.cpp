// Portable wide-string helpers.
#include "platform/Text.h"

#include <cstdint>

namespace platform {

std::size_t StrLen(const char16_t* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool StrCopy(char16_t* dst, std::size_t capacity, const char16_t* src) {
  if (capacity == 0) return false;
  std::size_t n = StrLen(src);
  if (n >= capacity) {
    dst[0] = 0;
    return false;
  }
  for (std::size_t i = 0; i <= n; ++i) dst[i] = src[i];
  return true;
}

bool StrCat(char16_t* dst, std::size_t capacity, const char16_t* src) {
  std::size_t have = 0;
  while (have < capacity && dst[have] != 0) ++have;
  std::size_t add = StrLen(src);
  if (have == capacity || have + add >= capacity) {
    if (capacity > 0) dst[0] = 0;
    return false;
  }
  for (std::size_t i = 0; i <= add; ++i) dst[have + i] = src[i];
  return true;
}

namespace {
char16_t FoldAscii(char16_t c) {
  return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
}
}  // namespace

int CompareIgnoringAsciiCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    char16_t x = FoldAscii(*a);
    char16_t y = FoldAscii(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<std::uint8_t>(text[i]);
    std::uint32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > text.size()) {
        len = 1;
      } else {
        c = b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
          auto cont = static_cast<std::uint8_t>(text[i + k]);
          if ((cont & 0xC0) != 0x80) {
            c = 0xFFFD;
            len = 1;
            break;
          }
          c = (c << 6) | (cont & 0x3F);
        }
      }
    }
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace platform
