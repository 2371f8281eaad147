// Debugger output channel.
#include <string>

#include "TraceRingWin32.h"
#include "Win32Platform.h"
#include "channel/DebugRoute.h"
#include "core/CurrentPlatform.h"

namespace vx380 {

// One call per line, so any debugger or DBWIN viewer sees each line whole; a ring that a
// listener offered on request (vxtrace --fast) takes the line instead, unless a debugger is
// attached. The debugger's call wants a line that ends in a NUL.
void SystemWriteDebugLine(std::string_view line) {
  channel::RouteDebugLine(line, win32::TryWriteRing,
                          [](std::string_view ansi) { ::OutputDebugStringA(std::string(ansi).c_str()); });
}

namespace win32 {

void Win32Platform::WriteDebugLine(const std::string& ansi) { SystemWriteDebugLine(ansi); }

}  // namespace win32
}  // namespace vx380
