// The runtime's text formats: decimals, padded fields, repeated characters, line ends.
#pragma once

#include <cstddef>

#include "vx380/Automation.h"

namespace vx380::core {

inline const String kCrLf = u"\r\n";

// `count` copies of `c`; a negative count is runtime error 5.
String Repeat(long long count, char16_t c);

String Decimal(long long value);
// Format(text, "@@@@@@@@"): right-aligned in `width`, shown whole when longer.
String RightAlign(const String& text, size_t width);
// Format(text, "!@@@@@"): left-aligned in `width`, shown whole when longer.
String LeftAlign(const String& text, size_t width);

}  // namespace vx380::core
