// The channel's text encodings, header-only so the capture tool uses them without the library:
// Windows-1252 (the ANSI code page the POSIX platform writes) and UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vx380::channel {

// Windows-1252 0x80..0x9F, the only part that differs from Latin-1. The five bytes the page
// leaves undefined (81 8D 8F 90 9D) stand for the C1 controls of the same value, so every
// byte round-trips.
inline constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

constexpr bool IsWindows1252Undefined(unsigned char byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

constexpr char16_t Windows1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kWindows1252High[byte - 0x80];
  return byte;
}

// The byte for one UTF-16 unit, or 0 when the page has none (U+0000 itself gives 0 too).
constexpr unsigned char UnicodeToWindows1252(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<unsigned char>(unit);
  for (unsigned i = 0; i < 32; ++i)
    if (kWindows1252High[i] == unit) return static_cast<unsigned char>(0x80 + i);
  return 0;
}

// One code point (at most U+10FFFF, not a surrogate) as UTF-8.
inline void AppendUtf8(std::string& out, char32_t c) {
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

// The UTF-8 sequence at `at`: its code point and length, or a length of 0 when it is not
// UTF-8 (cut short, overlong, a surrogate or past U+10FFFF).
struct Utf8Sequence {
  char32_t code_point = 0;
  std::size_t length = 0;
};

constexpr Utf8Sequence DecodeUtf8At(std::string_view in, std::size_t at) {
  const unsigned char b = static_cast<unsigned char>(in[at]);
  if (b < 0x80) return {b, 1};
  std::size_t extra = 0;
  char32_t cp = 0, min = 0;
  if ((b & 0xE0) == 0xC0) extra = 1, cp = b & 0x1F, min = 0x80;
  else if ((b & 0xF0) == 0xE0) extra = 2, cp = b & 0x0F, min = 0x800;
  else if ((b & 0xF8) == 0xF0) extra = 3, cp = b & 0x07, min = 0x10000;
  if (extra == 0 || at + extra >= in.size()) return {};
  for (std::size_t k = 1; k <= extra; ++k) {
    const unsigned char c = static_cast<unsigned char>(in[at + k]);
    if ((c & 0xC0) != 0x80) return {};
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
  return {cp, extra + 1};
}

constexpr bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = DecodeUtf8At(bytes, i).length;
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace vx380::channel
