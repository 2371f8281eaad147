// Debugger output channel.
#include "Win32Platform.h"

namespace vx380::win32 {

// One call per line, so any debugger or DBWIN viewer sees each line whole.
void Win32Platform::WriteDebugLine(const std::string& ansi) { ::OutputDebugStringA(ansi.c_str()); }

}  // namespace vx380::win32
