// What the core knows of the installed platform beyond the public seam.
#pragma once

#include <cstdint>

namespace vx380::core {

// Changes whenever a platform is installed: what is cached of one is keyed on it, never on
// the platform's address, which a later platform may reuse.
std::uint64_t PlatformInstallation();

// Whether anybody may hear the debug channel: the installed platform says so when it is a
// ListenerAwarePlatform; any other may always be heard.
bool DebugOutputHeard();

}  // namespace vx380::core
