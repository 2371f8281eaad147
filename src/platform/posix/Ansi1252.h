// Windows-1252, the ANSI code page of the POSIX platform. Exact table: the five bytes
// Windows leaves undefined (81 8D 8F 90 9D) map to the C1 controls of the same value, so
// every byte round-trips; characters outside the page become "?".
#pragma once

#include <string>
#include <string_view>

namespace vx380::posix {

char16_t AnsiToUnicode(unsigned char byte);
// The byte for one UTF-16 unit, or 0 when the page has none (U+0000 itself gives 0 too).
unsigned char UnicodeToAnsi(char16_t unit);

std::string ToAnsi1252(std::u16string_view text);
// Appends the page's bytes for `text` to `out`, reusing its room.
void AppendAnsi1252(std::u16string_view text, std::string& out);
std::u16string FromAnsi1252(std::string_view bytes);

}  // namespace vx380::posix
