// Windows-1252 conversion of whole strings.
#include "platform/posix/Ansi1252.h"

#include "channel/TextCodec.h"

namespace vx380::posix {

namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

char16_t AnsiToUnicode(unsigned char byte) { return channel::Windows1252ToUnicode(byte); }

unsigned char UnicodeToAnsi(char16_t unit) { return channel::UnicodeToWindows1252(unit); }

std::string ToAnsi1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + 2);  // room for a line end, added by most callers
  out.resize(text.size());
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u < 0x80) {
      out[n++] = static_cast<char>(u);
      continue;
    }
    // A surrogate pair is one character, so it becomes one "?".
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    const unsigned char b = UnicodeToAnsi(u);
    out[n++] = b ? static_cast<char>(b) : '?';
  }
  out.resize(n);
  return out;
}

std::u16string FromAnsi1252(std::string_view bytes) {
  std::u16string out;
  out.resize(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = AnsiToUnicode(static_cast<unsigned char>(bytes[i]));
  return out;
}

}  // namespace vx380::posix
