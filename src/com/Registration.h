// Registration of the classes, ProgIDs and the type library: machine-wide for
// DllRegisterServer / DllUnregisterServer, or for the current user only (DllInstall
// with "user"), below HKEY_CURRENT_USER\Software\Classes.
#pragma once

#include <windows.h>

namespace vx380::com {

enum class RegistrationScope { Machine, User };

HRESULT RegisterServer(RegistrationScope scope = RegistrationScope::Machine);
// Removes everything RegisterServer wrote in that scope; absent entries are not an error.
HRESULT UnregisterServer(RegistrationScope scope = RegistrationScope::Machine);

// DllInstall: "user" (any case) registers or unregisters for the current user, an empty
// command line machine-wide; anything else is refused with E_INVALIDARG.
HRESULT Install(bool install, const wchar_t* commandLine);

}  // namespace vx380::com
