// vxtrace: Windows-1252 / UTF-8 to displayable UTF-8.
#include "DisplayText.h"

#include <cstdint>

namespace vxtrace {
namespace {

// Windows-1252 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendEscaped(std::string& out, unsigned char b) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 0xF];
}

bool IsControl(unsigned char b) { return (b < 0x20 && b != '\t') || b == 0x7F; }

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    auto b = static_cast<unsigned char>(bytes[i]);
    int extra;
    char32_t c;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
      c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      c = b & 0x07;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      auto cb = static_cast<unsigned char>(bytes[i + k]);
      if ((cb & 0xC0) != 0x80) return false;
      c = (c << 6) | (cb & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

std::string ToDisplay(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const bool utf8 = IsValidUtf8(bytes);
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (IsControl(b)) {
      AppendEscaped(out, b);
    } else if (b < 0x80 || utf8) {
      out += ch;
    } else if (b < 0xA0) {
      char16_t c = kHighControls[b - 0x80];
      if (c == 0)
        AppendEscaped(out, b);
      else
        AppendUtf8(out, c);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

}  // namespace vxtrace
