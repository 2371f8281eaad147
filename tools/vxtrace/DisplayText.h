// vxtrace: makes captured bytes safe and readable on a UTF-8 terminal, and the
// conversions the recordings need.
#pragma once

#include <string>
#include <string_view>

namespace vxtrace {

// The component writes in the ANSI code page (Windows-1252); a line that is already
// valid UTF-8 is kept as it is. Control characters other than tab (C0, DEL, and the C1
// range U+0080..U+009F, which terminals take as commands) are shown as \xNN or \u00NN,
// as are bytes that Windows-1252 leaves undefined, so garbage cannot drive the terminal.
std::string ToDisplay(std::string_view bytes);
// The same, appended to out.
void AppendDisplay(std::string& out, std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

void AppendUtf8(std::string& out, char32_t c);
std::string EncodeUtf8(std::u32string_view text);
// Invalid sequences become U+FFFD.
std::u32string DecodeUtf8(std::string_view bytes);
// Each byte its Windows-1252 character; the five undefined bytes keep their value (U+0081...).
std::u32string DecodeWindows1252(std::string_view bytes);
// The reverse; false when a character has no Windows-1252 byte.
bool EncodeWindows1252(std::u32string_view text, std::string& bytes);

}  // namespace vxtrace
