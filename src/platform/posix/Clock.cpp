// The millisecond counter.
#include <time.h>

#include "platform/posix/PosixServices.h"

namespace vx380::posix {

Long PosixPlatform::TickCount() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<Long>(static_cast<std::uint32_t>(ms));
}

}  // namespace vx380::posix
