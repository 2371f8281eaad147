// Type codes of drawing objects that RBDEBUGHIERARCHY treats specially. A host's drawing
// objects answer their Type member with one of these (or any other code). The names are the
// drawing kinds of the drawing library as the stand-in in examples/drw2d models them.
#pragma once

#include "vx380/Automation.h"

namespace vx380::typecode {

constexpr Long kSheet = 0x3D4773E0;  // its children are dumped at level 1, whatever its own level
// Leaves: their children are never visited.
constexpr Long kLine = 0x2D4E13C0;
constexpr Long kArc = static_cast<Long>(0x9D650A00u);
constexpr Long kText = 0x777A6860;
constexpr Long kPoint = static_cast<Long>(0x98F8BC10u);
// Any other code: the children are dumped one level deeper.

}  // namespace vx380::typecode
