// Which platform the core talks to: the system's, unless a host or a test installs another.
#include <atomic>
#include <cstdint>

#include "core/CurrentPlatform.h"
#include "core/ThreadContext.h"
#include "vx380/Platform.h"

namespace vx380 {

namespace core {
std::atomic<Platform*> g_installedPlatform{nullptr};
}  // namespace core

namespace {
std::atomic<Platform*>& installed = core::g_installedPlatform;
// Counts installations, so that what a thread learned of a platform is never taken for a
// later platform that happens to live at the same address.
std::atomic<std::uint64_t> installation{1};
}  // namespace

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

bool InstalledDebugOutputHeard() {
  ThreadContext& thread = ThisThread();
  // The number before the platform: an installation meanwhile makes the next call look again.
  const std::uint64_t now = PlatformInstallation();
  if (now != thread.listenerInstallation) {
    thread.listenerAware = dynamic_cast<ListenerAwarePlatform*>(&CurrentPlatform());
    thread.listenerInstallation = now;
  }
  return !thread.listenerAware || thread.listenerAware->DebugOutputHeard();
}
}  // namespace core

}  // namespace vx380
