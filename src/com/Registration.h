// DllRegisterServer / DllUnregisterServer: the classes, ProgIDs and the type library.
#pragma once

#include <windows.h>

namespace vx380::com {

HRESULT RegisterServer();
// Removes everything RegisterServer wrote; absent entries are not an error.
HRESULT UnregisterServer();

}  // namespace vx380::com
