// Plain ASCII text recognised and narrowed to bytes without a code page.
#pragma once

#include <cstddef>

#include "vx380/Automation.h"

namespace vx380::core {

bool AllAscii(const String& text);
// The units before the first NUL.
size_t TextLength(const char16_t* text);
// Narrows units to bytes while they are ASCII; how many were (count when all were).
size_t NarrowWhileAscii(const char16_t* in, size_t count, char* out);
// The same for a text that ends at its first NUL, up to `room` units: how many were narrowed,
// and `ended` when the NUL came first. Reads no further than the NUL's page.
size_t NarrowTerminatedWhileAscii(const char16_t* in, size_t room, char* out, bool& ended);

}  // namespace vx380::core
