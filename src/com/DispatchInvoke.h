// IDispatch::Invoke for the dual interfaces, served from the type library's member
// tables and made to suit script clients: omitted optionals take their defaults,
// named arguments are placed, any coercible value is accepted for ByVal and ByRef
// parameters (a script variable arrives as VT_BYREF|VT_VARIANT), written ByRef
// parameters reach the caller's variable, and the vtable method does the work.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "TypeInfoCache.h"

namespace vx380::com {

// self is the dual interface pointer whose vtable the members index. Throws std::bad_alloc when
// the arguments cannot be copied; the caller's entry point turns that into E_OUTOFMEMORY.
HRESULT InvokeMember(void* self, const InterfaceInfo& info, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);

}  // namespace vx380::com
