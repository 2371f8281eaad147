// Which platform the core talks to: the system's, unless a host or a test installs another.
#include <atomic>

#include "vx380/Platform.h"

namespace vx380 {

namespace {
std::atomic<Platform*> installed{nullptr};
}

Platform& CurrentPlatform() {
  Platform* p = installed.load(std::memory_order_acquire);
  return p ? *p : SystemPlatform();
}

Platform* SetPlatform(Platform* platform) {
  return installed.exchange(platform, std::memory_order_acq_rel);
}

}  // namespace vx380
