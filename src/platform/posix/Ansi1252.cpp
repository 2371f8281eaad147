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
