// Class factories for the creatable classes, handed out by DllGetClassObject.
#pragma once

#include <windows.h>

namespace vx380::com {

// CLASS_E_CLASSNOTAVAILABLE for a class this DLL does not serve.
HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** out);

}  // namespace vx380::com
