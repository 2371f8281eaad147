// The type library's own registry entries (TypeLib\{LIBID} and Interface\{IID}).
#pragma once

#include <windows.h>

#include <string>

namespace vx380::com {

// Machine-wide, through the automation runtime (RegisterTypeLib / UnRegisterTypeLib).
HRESULT RegisterTypeLibMachine(const std::wstring& modulePath);
HRESULT UnregisterTypeLibMachine();

// Below the given classes root (HKCU\Software\Classes), written here key by key: Wine's
// RegisterTypeLibForUser registers machine-wide, which a per-user install must never do.
HRESULT RegisterTypeLibUnder(HKEY classes, const std::wstring& modulePath);
// Removes this build's platform entry, and the shared keys once no platform is left.
HRESULT UnregisterTypeLibUnder(HKEY classes);

}  // namespace vx380::com
