// The POSIX platform object, the millisecond counter and the ANSI code page.
#include <time.h>

#include "platform/posix/Ansi1252.h"
#include "platform/posix/PosixServices.h"

namespace vx380 {

Platform& SystemPlatform() {
  static posix::PosixPlatform platform;
  return platform;
}

namespace posix {

Long PosixPlatform::TickCount() {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<Long>(static_cast<std::uint32_t>(ms));
}

std::string PosixPlatform::ToAnsi(const String& text) { return ToAnsi1252(text); }

String PosixPlatform::FromAnsi(const std::string& bytes) { return FromAnsi1252(bytes); }

}  // namespace posix
}  // namespace vx380
