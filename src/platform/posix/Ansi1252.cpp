// Windows-1252 conversion tables.
#include "platform/posix/Ansi1252.h"

namespace vx380::posix {

namespace {

// 0x80..0x9F, the only part that differs from Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

char16_t AnsiToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

unsigned char UnicodeToAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<unsigned char>(unit);
  switch (unit) {
    case 0x0081: case 0x008D: case 0x008F: case 0x0090: case 0x009D:
      return static_cast<unsigned char>(unit);
    case 0x20AC: return 0x80;
    case 0x201A: return 0x82;
    case 0x0192: return 0x83;
    case 0x201E: return 0x84;
    case 0x2026: return 0x85;
    case 0x2020: return 0x86;
    case 0x2021: return 0x87;
    case 0x02C6: return 0x88;
    case 0x2030: return 0x89;
    case 0x0160: return 0x8A;
    case 0x2039: return 0x8B;
    case 0x0152: return 0x8C;
    case 0x017D: return 0x8E;
    case 0x2018: return 0x91;
    case 0x2019: return 0x92;
    case 0x201C: return 0x93;
    case 0x201D: return 0x94;
    case 0x2022: return 0x95;
    case 0x2013: return 0x96;
    case 0x2014: return 0x97;
    case 0x02DC: return 0x98;
    case 0x2122: return 0x99;
    case 0x0161: return 0x9A;
    case 0x203A: return 0x9B;
    case 0x0153: return 0x9C;
    case 0x017E: return 0x9E;
    case 0x0178: return 0x9F;
    default: return 0;
  }
}

namespace {
// The length of the leading run of ASCII units, which the page keeps as they are.
std::size_t AsciiPrefix(std::u16string_view text) {
  std::size_t i = 0;
  for (; i < text.size(); ++i)
    if (text[i] >= 0x80) break;
  return i;
}
}  // namespace

void AppendAnsi1252(std::u16string_view text, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + text.size());
  char* const dst = out.data() + start;
  const std::size_t ascii = AsciiPrefix(text);
  for (std::size_t i = 0; i < ascii; ++i) dst[i] = static_cast<char>(text[i]);
  std::size_t n = ascii;
  for (std::size_t i = ascii; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u < 0x80) {
      dst[n++] = static_cast<char>(u);
      continue;
    }
    // A surrogate pair is one character, so it becomes one "?".
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    const unsigned char b = UnicodeToAnsi(u);
    dst[n++] = b ? static_cast<char>(b) : '?';
  }
  out.resize(start + n);
}

std::string ToAnsi1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + 2);  // room for a line end, added by most callers
  AppendAnsi1252(text, out);
  return out;
}

std::u16string FromAnsi1252(std::string_view bytes) {
  std::u16string out;
  out.resize(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = AnsiToUnicode(static_cast<unsigned char>(bytes[i]));
  return out;
}

}  // namespace vx380::posix
