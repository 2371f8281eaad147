// Debugger output channel and millisecond counter.
#include "Win32Platform.h"

#include <mmsystem.h>

namespace vx380::win32 {

// One call per line, so any debugger or DBWIN viewer sees each line whole.
void Win32Platform::OutputDebugString(const std::string& ansi) { ::OutputDebugStringA(ansi.c_str()); }

Long Win32Platform::TickCount() { return static_cast<Long>(::timeGetTime()); }

}  // namespace vx380::win32
