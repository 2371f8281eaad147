// Debugger output channel.
#include "TraceRingWin32.h"
#include "Win32Platform.h"
#include "channel/DebugRoute.h"

namespace vx380::win32 {

// One call per line, so any debugger or DBWIN viewer sees each line whole; a ring that a
// listener offered on request (vxtrace --fast) takes the line instead, unless a debugger is
// attached.
void Win32Platform::WriteDebugLine(const std::string& ansi) {
  channel::RouteDebugLine(ansi, TryWriteRing, [](const std::string& line) { ::OutputDebugStringA(line.c_str()); });
}

}  // namespace vx380::win32
