#include "core/TextFormat.h"

#include <charconv>

namespace vx380::core {

String Repeat(long long count, char16_t c) {
  if (count < 0) RaiseRuntime(rt::kInvalidProcedureCall);
  return String(static_cast<size_t>(count), c);
}

String Decimal(long long value) {
  char buf[32];
  const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  return String(static_cast<const char*>(buf), end);
}

String RightAlign(const String& text, size_t width) {
  return text.size() >= width ? text : String(width - text.size(), u' ') + text;
}

String LeftAlign(const String& text, size_t width) {
  return text.size() >= width ? text : text + String(width - text.size(), u' ');
}

}  // namespace vx380::core
