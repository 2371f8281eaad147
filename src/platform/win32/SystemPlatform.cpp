// The operating system's platform on Windows.
#include "Win32Platform.h"
#include "core/CurrentPlatform.h"

namespace vx380 {

Platform& SystemPlatform() {
  // Never destroyed: objects torn down at process exit may still trace through it.
  static Platform* const platform = new win32::Win32Platform;
  return *platform;
}

// The debugger channel gives no sign of who listens: a line may always be heard.
bool SystemDebugOutputQuiet() { return false; }

}  // namespace vx380
