// Which platform the core talks to: the system's, unless a host or a test installs another.
#include <atomic>
#include <cstdint>

#include "vx380/Platform.h"

namespace vx380 {

namespace {
std::atomic<Platform*> installed{nullptr};
// Counts installations, so that what a thread learned of a platform is never taken for a
// later platform that happens to live at the same address.
std::atomic<std::uint64_t> installation{1};
}

Platform& CurrentPlatform() {
  Platform* p = installed.load(std::memory_order_acquire);
  return p ? *p : SystemPlatform();
}

Platform* SetPlatform(Platform* platform) {
  Platform* previous = installed.exchange(platform, std::memory_order_acq_rel);
  installation.fetch_add(1, std::memory_order_acq_rel);
  return previous;
}

namespace core {
std::uint64_t PlatformInstallation() { return installation.load(std::memory_order_acquire); }

bool DebugOutputHeard() {
  // Trivially destructible: nothing to tear down at thread exit.
  thread_local std::uint64_t lookedAt = 0;  // installations count from 1
  thread_local ListenerAwarePlatform* aware = nullptr;
  // The number before the platform: an installation meanwhile makes the next call look again.
  const std::uint64_t now = PlatformInstallation();
  if (now != lookedAt) {
    aware = dynamic_cast<ListenerAwarePlatform*>(&CurrentPlatform());
    lookedAt = now;
  }
  return !aware || aware->DebugOutputHeard();
}
}  // namespace core

}  // namespace vx380
