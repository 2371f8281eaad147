// The drawing library stand-in: counting, failure injection, and the few members
// the component's dumps call.
#include "Drw2dStandIn.h"

#include <algorithm>
#include <functional>
#include <numeric>

namespace vx380::drw2d {
namespace {

// Member names are ASCII; late binding matches them without regard to case.
std::string Narrow(const String& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

bool SameName(const std::string& a, const char* b) {
  std::string lower(b);
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(lower[i])) return false;
  }
  return true;
}

class ItemEnumerator final : public Enumerator {
 public:
  ItemEnumerator(std::function<void()> onNext, std::vector<Variant> items)
      : onNext_(std::move(onNext)), items_(std::move(items)) {}
  bool Next(Variant& item) override {
    onNext_();
    if (next_ >= items_.size()) return false;
    item = items_[next_++];
    return true;
  }

 private:
  std::function<void()> onNext_;
  std::vector<Variant> items_;
  size_t next_ = 0;
};

}  // namespace

// --- StandIn ---------------------------------------------------------------

void StandIn::FailMember(const std::string& member, AutomationError error) {
  failures_.insert_or_assign(member, std::move(error));
}

void StandIn::StopFailing(const std::string& member) { failures_.erase(member); }

int StandIn::Reads(const std::string& member) const {
  auto it = reads_.find(member);
  return it == reads_.end() ? 0 : it->second;
}

int StandIn::TotalReads() const {
  return std::accumulate(reads_.begin(), reads_.end(), 0, [](int sum, const auto& r) { return sum + r.second; });
}

void StandIn::Use(const std::string& member) {
  ++reads_[member];
  auto it = failures_.find(member);
  if (it != failures_.end()) throw it->second;
}

void StandIn::NoSuchMember() { throw AutomationError::Runtime(rt::kNoSuchMember); }

std::unique_ptr<Enumerator> StandIn::EnumerateItems(const std::vector<Variant>& items) {
  // The enumerator keeps its object alive, as a COM enumerator holds its collection.
  std::shared_ptr<StandIn> self = shared_from_this();
  return std::make_unique<ItemEnumerator>([self] { self->Use("Next"); }, items);
}

Variant StandIn::GetProperty(const String& name) {
  Use(Narrow(name));
  NoSuchMember();
}

Variant StandIn::GetPropertyById(Long dispId) {
  Use("#" + std::to_string(dispId));
  NoSuchMember();
}

void StandIn::CallWithDoublesByRef(Long dispId, std::vector<double>&) {
  Use("#" + std::to_string(dispId));
  NoSuchMember();
}

std::unique_ptr<Enumerator> StandIn::NewEnum() {
  Use("NewEnum");
  NoSuchMember();
}

String StandIn::TypeName() {
  Use("TypeName");
  return typeName_;
}

// --- Matrix ----------------------------------------------------------------

void Matrix::CallWithDoublesByRef(Long dispId, std::vector<double>& elements) {
  if (dispId != kDispGetElements) return StandIn::CallWithDoublesByRef(dispId, elements);
  Use("GetElements");
  lastArraySize_ = elements.size();
  if (untouched_) return;
  if (elements.size() < elements_.size()) throw AutomationError::Runtime(rt::kSubscriptOutOfRange);
  std::copy(elements_.begin(), elements_.end(), elements.begin());
}

// --- Collection, Attribute, AttributeSet -------------------------------------

std::unique_ptr<Enumerator> Collection::NewEnum() {
  Use("NewEnum");
  return EnumerateItems(items_);
}

Variant Attribute::GetPropertyById(Long dispId) {
  if (dispId == kDispName) {
    Use("#2");
    return name_;
  }
  if (dispId == kDispValue) {
    Use("#0");
    return value_;
  }
  return StandIn::GetPropertyById(dispId);
}

AttributeSet& AttributeSet::Add(Variant name, Variant value) {
  attributes_.emplace_back(Object(std::make_shared<Attribute>(std::move(name), std::move(value))));
  return *this;
}

Variant AttributeSet::GetPropertyById(Long dispId) {
  if (dispId != kDispName) return StandIn::GetPropertyById(dispId);
  Use("#2");
  return name_;
}

std::unique_ptr<Enumerator> AttributeSet::NewEnum() {
  Use("NewEnum");
  return EnumerateItems(attributes_);
}

// --- DrawingObject -----------------------------------------------------------

DrawingObject& DrawingObject::AddChild(Object child) {
  if (!children_) {
    children_ = std::make_shared<Collection>(u"DrawingObjects");
    drawingObjects_ = Variant(Object(children_));
  }
  children_->Add(Variant(std::move(child)));
  return *this;
}

void DrawingObject::SetDrawingObjects(Variant value) {
  children_.reset();
  drawingObjects_ = std::move(value);
}

void DrawingObject::RemoveDrawingObjects() {
  children_.reset();
  drawingObjects_.reset();
}

void DrawingObject::SetAttributeSets(Variant value) {
  sets_.reset();
  attributeSets_ = std::move(value);
}

AttributeSet& DrawingObject::AddAttributeSet(Variant name) {
  if (!sets_) {
    sets_ = std::make_shared<Collection>(u"AttributeSets");
    attributeSets_ = Variant(Object(sets_));
  }
  auto set = std::make_shared<AttributeSet>(std::move(name));
  sets_->Add(Variant(Object(set)));
  return *set;
}

Variant DrawingObject::GetProperty(const String& name) {
  const std::string member = Narrow(name);
  if (SameName(member, "Name")) {
    Use("Name");
    return name_;
  }
  if (SameName(member, "Type")) {
    Use("Type");
    return type_;
  }
  if (SameName(member, "DrawingObjects")) {
    Use("DrawingObjects");
    if (!drawingObjects_) NoSuchMember();
    return *drawingObjects_;
  }
  if (SameName(member, "AttributeSets")) {
    Use("AttributeSets");
    if (!attributeSets_) NoSuchMember();
    return *attributeSets_;
  }
  return StandIn::GetProperty(name);
}

}  // namespace vx380::drw2d
