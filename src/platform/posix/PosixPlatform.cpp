// The POSIX platform object and the ANSI code page.
#include "platform/posix/Ansi1252.h"
#include "platform/posix/PosixServices.h"

namespace vx380 {

Platform& SystemPlatform() {
  static posix::PosixPlatform platform;
  return platform;
}

namespace posix {

std::string PosixPlatform::ToAnsi(const String& text) { return ToAnsi1252(text); }

String PosixPlatform::FromAnsi(const std::string& bytes) { return FromAnsi1252(bytes); }

}  // namespace posix
}  // namespace vx380
