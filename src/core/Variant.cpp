#include "vx380/LateBound.h"

namespace vx380 {

bool Variant::IsNumeric() const {
  switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Double:
    case Kind::Date:
      return true;
    default:
      return false;
  }
}

}  // namespace vx380
