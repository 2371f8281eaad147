// RBDEBUGMATRIX: a drawing library matrix as four aligned rows of text.
#include <cmath>
#include <cstdio>

#include <vector>

#include "core/TextFormat.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380 {

namespace {
constexpr Long kGetElements = 19;
constexpr size_t kWorkingElements = 17;  // the matrix object fills 0..15; 16 is never read

// Format(value, "######0.0000000") in a field of ten characters.
String MatrixField(double value, char16_t separator) {
  if (value == 0) value = 0;  // no "-0.0000000"
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.7f", value);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) RaiseRuntime(rt::kOverflow);
  String text(buf, buf + n);
  if (text == u"-0.0000000") text = u"0.0000000";
  for (auto& c : text)
    if (c == u'.') c = separator;
  return core::RightAlign(text, 10);
}
}  // namespace

String ErrorLog::RBDEBUGMATRIX(const Object& Xform) {
  if (!Xform) RaiseRuntime(rt::kObjectNotSet);
  std::vector<double> elements(kWorkingElements, 0.0);
  Xform->CallWithDoublesByRef(kGetElements, elements);
  if (elements.size() != kWorkingElements) RaiseRuntime(rt::kSubscriptOutOfRange);

  const char16_t separator = CurrentPlatform().DecimalSeparator();
  String text = core::kCrLf;
  for (int r = 0; r < 4; ++r) {
    text += u"| ";
    for (int c = 0; c < 4; ++c) {
      text += MatrixField(elements[r * 4 + c], separator);
      if (c < 3) text += u" , ";
    }
    text += u" |" + core::kCrLf;
  }
  return text;
}

}  // namespace vx380
