// A stand-in for the host's 2-D drawing library: just enough matrix, graphic and
// drawing objects to drive the component's dump members in tests and in the
// sample host. Every object counts which of its members were used and can be told
// to fail one of them, so a test can prove what was (or was never) asked of it.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vx380/DrawingTypeCodes.h"
#include "vx380/LateBound.h"

namespace vx380::drw2d {

// Type codes of drawing objects: the ones the dump treats specially, and a group.
namespace typecode {
using vx380::typecode::kArc;
using vx380::typecode::kLine;
using vx380::typecode::kPoint;
using vx380::typecode::kSheet;
using vx380::typecode::kText;
constexpr Long kGroup = 0x0C0FFEE0;  // any other code: children one level deeper
}  // namespace typecode

// Dispatch ids the component uses.
constexpr Long kDispGetElements = 19;
constexpr Long kDispName = 2;
constexpr Long kDispValue = 0;

// Base of every stand-in object. Members are counted and failed under these names:
// by name "AttributeSets", "Name", "Type", "DrawingObjects" (any case, as late
// binding allows; counted in this spelling); by id "#0", "#2", and "GetElements"
// for id 19; "NewEnum"; "Next" for each element pulled from an enumerator;
// "TypeName". Anything else is counted under the name or "#<id>" it was asked by.
class StandIn : public LateBound, public std::enable_shared_from_this<StandIn> {
 public:
  // From now on every use of member raises error (after counting it).
  void FailMember(const std::string& member, AutomationError error);
  void StopFailing(const std::string& member);
  // How often member was used; 0 when never.
  int Reads(const std::string& member) const;
  int TotalReads() const;
  void ResetReads() { reads_.clear(); }

  // Everything not overridden is a member the object does not have: error 438.
  Variant GetProperty(const String& name) override;
  Variant GetPropertyById(Long dispId) override;
  void CallWithDoublesByRef(Long dispId, std::vector<double>& elements) override;
  std::unique_ptr<Enumerator> NewEnum() override;
  String TypeName() override;

 protected:
  explicit StandIn(String typeName) : typeName_(std::move(typeName)) {}
  // Counts a use of member and raises its injected failure, if any.
  void Use(const std::string& member);
  [[noreturn]] static void NoSuchMember();
  // An enumerator over a snapshot of items that reports each pull as "Next".
  std::unique_ptr<Enumerator> EnumerateItems(const std::vector<Variant>& items);

 private:
  String typeName_;
  std::map<std::string, int> reads_;
  std::map<std::string, AutomationError> failures_;
};

// Transformation matrix: GetElements (id 19) copies its 16 elements, row by row,
// into elements 0..15 of the caller's array.
class Matrix final : public StandIn {
 public:
  static constexpr std::array<double, 16> kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  explicit Matrix(const std::array<double, 16>& elements = kIdentity) : StandIn(u"Xform"), elements_(elements) {}
  static std::shared_ptr<Matrix> Make(const std::array<double, 16>& elements = kIdentity) {
    return std::make_shared<Matrix>(elements);
  }

  // Row and column count from 0; element (row, column) is index row * 4 + column.
  void Set(int row, int column, double value) { elements_.at(row * 4 + column) = value; }
  void SetElement(int index, double value) { elements_.at(index) = value; }
  const std::array<double, 16>& elements() const { return elements_; }
  // Models a matrix object that answers the call without filling the array.
  void LeaveArrayUntouched(bool untouched = true) { untouched_ = untouched; }
  // Size of the array the last GetElements call was given (0 before any call).
  std::size_t lastArraySize() const { return lastArraySize_; }

  // An array too small for 16 elements raises 9, as the real library would.
  void CallWithDoublesByRef(Long dispId, std::vector<double>& elements) override;

 private:
  std::array<double, 16> elements_;
  bool untouched_ = false;
  std::size_t lastArraySize_ = 0;
};

// An enumerable collection (attribute sets, drawing objects). Items are Variants so
// a test can put in something that is not what the enumerator promises.
class Collection final : public StandIn {
 public:
  explicit Collection(String typeName, std::vector<Variant> items = {})
      : StandIn(std::move(typeName)), items_(std::move(items)) {}
  static std::shared_ptr<Collection> Make(String typeName, std::vector<Variant> items = {}) {
    return std::make_shared<Collection>(std::move(typeName), std::move(items));
  }
  void Add(Variant item) { items_.push_back(std::move(item)); }
  const std::vector<Variant>& items() const { return items_; }
  std::unique_ptr<Enumerator> NewEnum() override;

 private:
  std::vector<Variant> items_;
};

// Attribute: id 2 its name, id 0 (the default member) its value, which may be any
// Variant, Null included.
class Attribute final : public StandIn {
 public:
  Attribute(Variant name, Variant value) : StandIn(u"Attribute"), name_(std::move(name)), value_(std::move(value)) {}
  static std::shared_ptr<Attribute> Make(Variant name, Variant value) {
    return std::make_shared<Attribute>(std::move(name), std::move(value));
  }
  Variant GetPropertyById(Long dispId) override;

 private:
  Variant name_;
  Variant value_;
};

// Attribute set: id 2 its name; enumerates its attributes.
class AttributeSet final : public StandIn {
 public:
  explicit AttributeSet(Variant name, std::vector<Variant> attributes = {})
      : StandIn(u"AttributeSet"), name_(std::move(name)), attributes_(std::move(attributes)) {}
  static std::shared_ptr<AttributeSet> Make(Variant name) { return std::make_shared<AttributeSet>(std::move(name)); }
  // Adds an Attribute and returns the set, for building in one expression.
  AttributeSet& Add(Variant name, Variant value);
  void AddItem(Variant item) { attributes_.push_back(std::move(item)); }
  Variant GetPropertyById(Long dispId) override;
  std::unique_ptr<Enumerator> NewEnum() override;

 private:
  Variant name_;
  std::vector<Variant> attributes_;
};

// A drawing object, which is also the graphic object of the attribute dump.
// TypeName is its class name ("Object" models an object without type information);
// Name and Type are read by name; DrawingObjects and AttributeSets are members it
// may lack, in which case reading them raises 438.
class DrawingObject final : public StandIn {
 public:
  DrawingObject(String typeName, Variant name, Long type = typecode::kGroup)
      : StandIn(std::move(typeName)), name_(std::move(name)), type_(type) {}
  static std::shared_ptr<DrawingObject> Make(String typeName, Variant name, Long type = typecode::kGroup) {
    return std::make_shared<DrawingObject>(std::move(typeName), std::move(name), type);
  }

  // Any value for Type, for codes that are not a Long.
  void SetType(Variant type) { type_ = std::move(type); }
  // Adds a child, giving the object a DrawingObjects collection if it had none.
  DrawingObject& AddChild(Object child);
  // Any value for DrawingObjects (an empty Object, a non-collection, ...).
  void SetDrawingObjects(Variant value);
  void RemoveDrawingObjects();
  // An empty Object models a graphic without attribute sets.
  void SetAttributeSets(Variant value);
  // Adds a set, giving the object an AttributeSets collection if it had none.
  AttributeSet& AddAttributeSet(Variant name);

  Variant GetProperty(const String& name) override;

 private:
  Variant name_;
  Variant type_;
  std::optional<Variant> drawingObjects_;
  std::optional<Variant> attributeSets_;
  std::shared_ptr<Collection> children_;  // what AddChild fills, while it is the member
  std::shared_ptr<Collection> sets_;      // what AddAttributeSet fills, likewise
};

}  // namespace vx380::drw2d
