// What the core knows of the installed platform beyond the public seam.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace vx380 {
class Platform;

// The system platform's own answer to whether nobody hears the debug channel, asked without a
// virtual call: each platform defines it beside SystemPlatform(). Asked before every line.
bool SystemDebugOutputQuiet();
// The system platform's WriteDebugLine for a line that is not a string, called without a
// virtual call; defined beside SystemDebugOutputQuiet.
void SystemWriteDebugLine(std::string_view line);

namespace core {

extern std::atomic<Platform*> g_installedPlatform;  // null: the system's

// Changes whenever a platform is installed: what is cached of one is keyed on it, never on
// the platform's address, which a later platform may reuse.
std::uint64_t PlatformInstallation();

// Whether anybody may hear the debug channel: the installed platform says so when it is a
// ListenerAwarePlatform; any other may always be heard.
bool InstalledDebugOutputHeard();
inline bool DebugOutputHeard() {
  if (!g_installedPlatform.load(std::memory_order_acquire)) return !SystemDebugOutputQuiet();
  return InstalledDebugOutputHeard();
}

}  // namespace core
}  // namespace vx380
