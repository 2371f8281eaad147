// Debugger output channel.
#include <string>

#include "TraceRingWin32.h"
#include "Win32Platform.h"
#include "channel/DebugRoute.h"
#include "core/CurrentPlatform.h"

namespace vx380 {

namespace {
// The debugger's call wants a line that ends in a NUL: a string has one, a view gets a copy.
void ToDebugger(const std::string& line) { ::OutputDebugStringA(line.c_str()); }
void ToDebugger(std::string_view line) { ::OutputDebugStringA(std::string(line).c_str()); }
}  // namespace

// One call per line, so any debugger or DBWIN viewer sees each line whole; a ring that a
// listener offered on request (vxtrace --fast) takes the line instead, unless a debugger is
// attached.
void SystemWriteDebugLine(std::string_view line) {
  channel::RouteDebugLine(line, win32::TryWriteRing, [](std::string_view ansi) { ToDebugger(ansi); });
}

namespace win32 {

void Win32Platform::WriteDebugLine(const std::string& ansi) {
  channel::RouteDebugLine(ansi, TryWriteRing, [](const std::string& line) { ToDebugger(line); });
}

}  // namespace win32
}  // namespace vx380
