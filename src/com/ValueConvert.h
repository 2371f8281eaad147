// VARIANT -> vx380::Variant, and IDispatch -> vx380::Object (the late-bound view).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "vx380/LateBound.h"

namespace vx380::com {

// The view of a host object; an empty Object for a null pointer.
Object ObjectFromDispatch(IDispatch* dispatch);

// Reads a VARIANT (VT_BYREF followed) into the late-bound value set. Values beyond
// it convert: other integers and floating kinds to Long or Double, VT_UNKNOWN to an
// object when it answers IDispatch. Arrays and records raise 13 (type mismatch).
Variant FromVariant(const VARIANT& v);

}  // namespace vx380::com
