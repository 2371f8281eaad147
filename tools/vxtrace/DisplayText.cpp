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

constexpr char kHex[] = "0123456789abcdef";

void AppendEscaped(std::string& out, unsigned char b) {
  out += "\\x";
  out += kHex[b >> 4];
  out += kHex[b & 0xF];
}

bool IsControl(unsigned char b) { return (b < 0x20 && b != '\t') || b == 0x7F; }

// Length of the UTF-8 sequence at bytes[i] and its value; 0 when it is not one.
int SequenceAt(std::string_view bytes, size_t i, char32_t& c) {
  auto b = static_cast<unsigned char>(bytes[i]);
  int extra;
  if (b < 0x80) {
    c = b;
    return 1;
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
    return 0;
  }
  if (i + extra >= bytes.size()) return 0;
  for (int k = 1; k <= extra; ++k) {
    auto cb = static_cast<unsigned char>(bytes[i + k]);
    if ((cb & 0xC0) != 0x80) return 0;
    c = (c << 6) | (cb & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF))
    return 0;
  return extra + 1;
}

char32_t FromWindows1252(unsigned char b) {
  if (b < 0x80 || b >= 0xA0 || kHighControls[b - 0x80] == 0) return b;
  return kHighControls[b - 0x80];
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
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

bool IsValidUtf8(std::string_view bytes) {
  char32_t c;
  for (size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    int n = SequenceAt(bytes, i, c);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

std::u32string DecodeUtf8(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  char32_t c;
  for (size_t i = 0; i < bytes.size();) {
    int n = SequenceAt(bytes, i, c);
    out += n ? c : U'\uFFFD';
    i += n ? n : 1;
  }
  return out;
}

std::u32string DecodeWindows1252(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (char b : bytes) out += FromWindows1252(static_cast<unsigned char>(b));
  return out;
}

bool EncodeWindows1252(std::u32string_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x100 && FromWindows1252(static_cast<unsigned char>(c)) == c) {
      bytes += static_cast<char>(c);
      continue;
    }
    int found = -1;
    for (int k = 0; k < 32 && found < 0; ++k)
      if (kHighControls[k] != 0 && kHighControls[k] == c) found = 0x80 + k;
    if (found < 0) return false;
    bytes += static_cast<char>(found);
  }
  return true;
}

std::string ToDisplay(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const bool utf8 = IsValidUtf8(bytes);
  for (size_t i = 0; i < bytes.size(); ++i) {
    // Plain printable ASCII, most of any trace, goes across in runs.
    size_t run = i;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) >= 0x20 &&
           static_cast<unsigned char>(bytes[run]) < 0x7F)
      ++run;
    if (run > i) {
      out.append(bytes.substr(i, run - i));
      i = run - 1;
      continue;
    }
    auto b = static_cast<unsigned char>(bytes[i]);
    if (IsControl(b)) {
      AppendEscaped(out, b);
    } else if (b < 0x80) {
      out += static_cast<char>(b);
    } else if (utf8) {
      char32_t c = 0;
      int n = SequenceAt(bytes, i, c);
      if (c >= 0x80 && c <= 0x9F) {  // C1: a terminal would obey U+009B as CSI
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
      } else {
        out.append(bytes.substr(i, n));
      }
      i += n - 1;
    } else if (FromWindows1252(b) == b && b < 0xA0) {
      AppendEscaped(out, b);  // undefined in Windows-1252
    } else {
      AppendUtf8(out, FromWindows1252(b));
    }
  }
  return out;
}

}  // namespace vxtrace
