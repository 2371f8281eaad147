// Late-bound values as text and as objects, the way the runtime converts them.
#pragma once

#include "vx380/LateBound.h"

namespace vx380::core {

// CStr: a Null or an object is a failure.
String VariantToString(const Variant& v);
// The text a value adds to a string concatenation: Null adds nothing.
String ConcatText(const Variant& v);
// An element converted to an object reference (possibly Nothing); anything else is a type mismatch.
Object VariantToObject(const Variant& v);
// A double in the runtime's general format (up to 15 significant digits).
String DoubleText(double value);

}  // namespace vx380::core
