// VARIANT <-> vx380::Variant, and IDispatch <-> vx380::Object (the late-bound view).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "vx380/LateBound.h"

namespace vx380::com {

// The view of a host object; an empty Object for a null pointer.
Object ObjectFromDispatch(IDispatch* dispatch);
// The host object behind a view made by ObjectFromDispatch (no new reference); null otherwise.
IDispatch* DispatchFromObject(const Object& object);

// Reads a VARIANT (VT_BYREF followed) into the late-bound value set. Values beyond
// it convert: other integers and floating kinds to Long or Double, VT_UNKNOWN to an
// object when it answers IDispatch. Arrays and records raise 13 (type mismatch).
Variant FromVariant(const VARIANT& v);
// Fills out (which must be empty) with value.
void ToVariant(const Variant& value, VARIANT* out);

}  // namespace vx380::com
