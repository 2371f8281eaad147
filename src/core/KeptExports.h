// Helpers the core shares among its files. The first shared library exported them, so they
// stay exported for binaries built against it; they are not part of the installed headers.
#pragma once

#include <optional>
#include <string_view>

#include "vx380/Automation.h"

namespace vx380 {

// Text of a classic runtime error number ("Overflow", "Disk full", ...); numbers outside the
// table read "Application-defined or object-defined error".
VX380_API String RuntimeErrorText(Long number);

// Checked arithmetic: overflow is a failure (runtime error 6), never a wrap-around.
VX380_API Integer CheckedInteger(long long value);
VX380_API Long CheckedLong(long long value);

// nullopt on any invalid UTF-8 sequence.
VX380_API std::optional<String> FromUtf8Strict(std::string_view s);

// The part of s before its first NUL.
VX380_API String CutAtNull(const String& s);

}  // namespace vx380
