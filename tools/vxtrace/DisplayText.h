// vxtrace: makes captured bytes safe and readable on a UTF-8 terminal.
#pragma once

#include <string>
#include <string_view>

namespace vxtrace {

// The component writes in the ANSI code page (Windows-1252); a line that is already
// valid UTF-8 is kept as it is. Control characters (other than tab) and bytes that
// Windows-1252 leaves undefined are shown as \xNN, so garbage cannot drive the terminal.
std::string ToDisplay(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

}  // namespace vxtrace
