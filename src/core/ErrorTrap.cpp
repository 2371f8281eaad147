#include "core/ErrorTrap.h"

#include "vx380/Platform.h"

namespace vx380::core {

void ReportTrapped(const String& promptPrefix, Long style, const String& promptSuffix) {
  Err() = ErrorFromCurrentException();
  const ErrObject failure = Err();
  try {
    CurrentPlatform().ShowMessageBox(promptPrefix + failure.description + promptSuffix, style, failure.source, u"", 0);
  } catch (...) {
    // A box that cannot be shown leaves nothing more to report to.
  }
  Err().Clear();
}

Long UntitledBox(const String& prompt, Long style) {
  return CurrentPlatform().ShowMessageBox(prompt, style, kDefaultBoxTitle, u"", 0);
}

}  // namespace vx380::core
