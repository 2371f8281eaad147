// The DLL's own bookkeeping: its module handle and path. (Live objects and server locks are
// not counted: the server never unloads, see DllMain.cpp.)
#pragma once

#include <windows.h>

#include <string>

namespace vx380::com {

void SetThisModule(HMODULE module);
// Full path of this DLL, as the loader knows it.
std::wstring ModulePath();

}  // namespace vx380::com
