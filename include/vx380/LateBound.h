// The late-bound view of host objects (the drawing library's matrix, graphic and
// drawing objects). The COM build adapts IDispatch/IEnumVARIANT to it; hosts of
// the portable library implement it for their own objects. Only what the dump
// members call is here.
#pragma once

#include <memory>
#include <vector>

#include "vx380/Automation.h"

namespace vx380 {

class LateBound;
using Object = std::shared_ptr<LateBound>;  // empty = Nothing

// The subset of the automation variant that crosses the late-bound view.
class VX380_API Variant {
 public:
  enum class Kind { Empty, Null, Missing, Boolean, Integer, Long, Double, Date, String, Object };

  Variant() = default;
  static Variant Null() { return Variant(Kind::Null); }
  static Variant Missing() { return Variant(Kind::Missing); }
  static Variant FromBoolean(Boolean b) {
    Variant v(Kind::Boolean);
    v.number_ = b ? -1 : 0;
    return v;
  }
  static Variant FromInteger(Integer i) {
    Variant v(Kind::Integer);
    v.number_ = i;
    return v;
  }
  static Variant FromDate(double oleDate) {
    Variant v(Kind::Date);
    v.number_ = oleDate;
    return v;
  }
  Variant(Long l) : kind_(Kind::Long), number_(l) {}
  Variant(double d) : kind_(Kind::Double), number_(d) {}
  Variant(String s) : kind_(Kind::String), text_(std::move(s)) {}
  Variant(const char16_t* s) : Variant(String(s)) {}
  Variant(Object o) : kind_(Kind::Object), object_(std::move(o)) {}

  Kind kind() const { return kind_; }
  bool IsMissing() const { return kind_ == Kind::Missing; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsNumeric() const;
  double number() const { return number_; }
  const String& text() const { return text_; }
  const Object& object() const { return object_; }

 private:
  explicit Variant(Kind k) : kind_(k) {}
  Kind kind_ = Kind::Empty;
  double number_ = 0;
  String text_;
  Object object_;
};

class VX380_API Enumerator {
 public:
  virtual ~Enumerator() = default;
  // Next element, or false at the end. Failures raise AutomationError.
  virtual bool Next(Variant& item) = 0;
};

class VX380_API LateBound {
 public:
  virtual ~LateBound() = default;
  // Property read by member name, no arguments. A missing member raises 438.
  virtual Variant GetProperty(const String& name) = 0;
  // Property read by dispatch id, no arguments.
  virtual Variant GetPropertyById(Long dispId) = 0;
  // Method call by dispatch id with one array of Double passed by reference.
  virtual void CallWithDoublesByRef(Long dispId, std::vector<double>& elements) = 0;
  // The standard enumeration (dispatch id -4).
  virtual std::unique_ptr<Enumerator> NewEnum() = 0;
  // Name of the object's class in its type information; "Object" when it offers none.
  virtual String TypeName() = 0;
  // Identity of the underlying object, for telling two views of one object apart.
  virtual const void* Identity() const { return this; }
};

}  // namespace vx380
