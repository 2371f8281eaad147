// RBDEBUGHIERARCHY: the tree of drawing objects below an object, one trace line each.
// Any failure ends the current object's call quietly; its parent goes on with the next child.
#include "core/TextFormat.h"
#include "core/ThreadContext.h"
#include "core/VariantText.h"
#include "core/KeptExports.h"
#include "vx380/DrawingTypeCodes.h"
#include "vx380/ErrorLog.h"
#include "vx380/TraceChannel.h"

namespace vx380 {

namespace {
constexpr Long kRestartAtLevelOne = typecode::kSheet;
// Tested in this order.
constexpr Long kChildless[] = {typecode::kLine, typecode::kArc, typecode::kText, typecode::kPoint};
// Deep enough for any real drawing, shallow enough for a host thread's stack.
constexpr size_t kMaxDepth = 256;

// The objects on the current path of this thread's dump: an object that contains itself ends
// there instead of recursing until the stack is gone.
class OnPath {
 public:
  explicit OnPath(const void* identity) : identity_(identity) {
    core::ThreadContext& thread = core::ThisThread();
    entered_ = thread.dumpDepth < kMaxDepth && (!identity || thread.dumpPath.insert(identity).second);
    if (entered_) ++thread.dumpDepth;
  }
  ~OnPath() {
    if (!entered_) return;
    core::ThreadContext& thread = core::ThisThread();
    --thread.dumpDepth;
    if (identity_) thread.dumpPath.erase(identity_);
  }
  bool entered() const { return entered_; }

 private:
  const void* identity_;
  bool entered_ = false;
};

bool Matches(const Variant& type, Long code) {
  if (type.IsNumeric()) return type.number() == static_cast<double>(code);
  if (type.kind() == Variant::Kind::String) return type.text() == core::Decimal(code);
  if (type.IsNull()) return false;
  RaiseRuntime(rt::kTypeMismatch);
}
}  // namespace

void ErrorLog::RBDEBUGHIERARCHY(const Object& objDrawingObject, Long level) {
  try {
    const bool outermost = level == 0;
    if (outermost) {
      RBDEBUGWRITE(String(channel::kHierarchyBegin.u16()));
      RBDEBUGWRITE(CurrentPlatform().CurrentDateTimeText());
    }
    if (!objDrawingObject) RaiseRuntime(rt::kObjectNotSet);
    OnPath here(objDrawingObject->Identity());
    if (!here.entered()) return;

    const String indent = core::Repeat(CheckedLong(2LL * level), u' ');
    const String typeName = objDrawingObject->TypeName();
    const String name = core::VariantToString(objDrawingObject->GetProperty(u"Name"));
    RBDEBUGWRITE(String(channel::kHierarchyPrefix.u16()) + indent + typeName +
                 String(channel::kHierarchyNameSeparator.u16()) + name);
    level = CheckedLong(level + 1LL);

    const Variant type = objDrawingObject->GetProperty(u"Type");
    bool visitChildren = true;
    Long childLevel = level;
    if (Matches(type, kRestartAtLevelOne)) {
      childLevel = 1;
    } else {
      for (Long code : kChildless)
        if (Matches(type, code)) visitChildren = false;
    }
    if (visitChildren) {
      const Object children = core::VariantToObject(objDrawingObject->GetProperty(u"DrawingObjects"));
      if (!children) RaiseRuntime(rt::kObjectNotSet);
      auto childEnum = children->NewEnum();
      Variant child;
      while (childEnum->Next(child)) RBDEBUGHIERARCHY(core::VariantToObject(child), childLevel);
    }
    if (outermost) RBDEBUGWRITE(String(channel::kHierarchyEnd.u16()));
  } catch (...) {
    Err().Clear();
  }
}

}  // namespace vx380
