// The millisecond counter.
#include "Win32Platform.h"

#include <mmsystem.h>

namespace vx380::win32 {

Long Win32Platform::TickCount() { return static_cast<Long>(::timeGetTime()); }

}  // namespace vx380::win32
