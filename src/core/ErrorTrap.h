// Error traps and the boxes the component shows of its own accord.
#pragma once

#include "vx380/Automation.h"

namespace vx380::core {

// A trapped failure: Err() takes it, a box shows it (prompt prefixed), and, as when the
// trapping member ends, Err() is cleared again.
void ReportTrapped(const String& promptPrefix, Long style, const String& promptSuffix = u"");

// A box that the component shows without a title of its own.
Long UntitledBox(const String& prompt, Long style);

}  // namespace vx380::core
