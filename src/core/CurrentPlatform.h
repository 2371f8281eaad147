// What the core knows of the installed platform beyond the public seam.
#pragma once

#include <cstdint>

namespace vx380::core {

// Changes whenever a platform is installed: what is cached of one is keyed on it, never on
// the platform's address, which a later platform may reuse.
std::uint64_t PlatformInstallation();

}  // namespace vx380::core
