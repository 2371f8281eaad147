// The stand-in must answer exactly like the library the dumps are written against,
// or the dump tests prove nothing.
#include <gtest/gtest.h>

#include "Drw2dStandIn.h"

namespace vx380::drw2d {
namespace {

Long RaisedNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(Drw2dMatrix, FillsSixteenElementsRowByRowAndNothingElse) {
  auto m = Matrix::Make();
  m->Set(0, 1, 2.5);
  m->SetElement(12, -7);  // row 3, column 0
  std::vector<double> a(17, 99.0);
  m->CallWithDoublesByRef(kDispGetElements, a);
  EXPECT_EQ(a[0], 1.0);
  EXPECT_EQ(a[1], 2.5);
  EXPECT_EQ(a[5], 1.0);
  EXPECT_EQ(a[12], -7.0);
  EXPECT_EQ(a[15], 1.0);
  EXPECT_EQ(a[16], 99.0);
  EXPECT_EQ(m->lastArraySize(), 17u);
  EXPECT_EQ(m->Reads("GetElements"), 1);

  std::vector<double> zeros(17, 0.0);
  m->LeaveArrayUntouched();
  m->CallWithDoublesByRef(kDispGetElements, zeros);
  EXPECT_EQ(zeros, std::vector<double>(17, 0.0));

  std::vector<double> small(15);
  m->LeaveArrayUntouched(false);
  EXPECT_EQ(RaisedNumber([&] { m->CallWithDoublesByRef(kDispGetElements, small); }), 9);
  EXPECT_EQ(RaisedNumber([&] { m->CallWithDoublesByRef(18, a); }), 438);
  EXPECT_EQ(RaisedNumber([&] { m->GetProperty(u"Elements"); }), 438);
  EXPECT_EQ(RaisedNumber([&] { m->NewEnum(); }), 438);
}

TEST(Drw2dMatrix, RaisesTheInjectedFailureAndStillCountsTheCall) {
  auto m = std::make_shared<Matrix>();
  m->FailMember("GetElements", AutomationError(-2147217900, u"DRW2D", u"Matrix is singular"));
  std::vector<double> a(17);
  try {
    m->CallWithDoublesByRef(kDispGetElements, a);
    FAIL() << "no failure raised";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), -2147217900);
    EXPECT_EQ(e.error().source, u"DRW2D");
    EXPECT_EQ(e.error().description, u"Matrix is singular");
  }
  EXPECT_EQ(a, std::vector<double>(17, 0.0));
  EXPECT_EQ(m->Reads("GetElements"), 1);
}

TEST(Drw2dDrawingObject, AnswersByNameInAnyCaseAndLacksChildrenUntilGivenSome) {
  auto leaf = std::make_shared<DrawingObject>(u"Object", u"L1", typecode::kLine);
  EXPECT_EQ(leaf->TypeName(), u"Object");
  EXPECT_EQ(leaf->GetProperty(u"name").text(), u"L1");
  EXPECT_EQ(leaf->GetProperty(u"TYPE").number(), static_cast<double>(typecode::kLine));
  try {
    leaf->GetProperty(u"DrawingObjects");
    FAIL() << "a leaf has no DrawingObjects";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 438);
    EXPECT_EQ(e.error().description, u"Object doesn't support this property or method");
  }
  EXPECT_EQ(leaf->Reads("Name"), 1);
  EXPECT_EQ(leaf->Reads("Type"), 1);
  EXPECT_EQ(leaf->Reads("DrawingObjects"), 1);
  EXPECT_EQ(RaisedNumber([&] { leaf->GetProperty(u"Colour"); }), 438);
  EXPECT_EQ(leaf->Reads("Colour"), 1);

  auto group = std::make_shared<DrawingObject>(u"Group", u"G");
  group->AddChild(leaf).AddChild(std::make_shared<DrawingObject>(u"Arc", u"A1", typecode::kArc));
  Variant children = group->GetProperty(u"DrawingObjects");
  ASSERT_EQ(children.kind(), Variant::Kind::Object);
  auto e = children.object()->NewEnum();
  Variant item;
  ASSERT_TRUE(e->Next(item));
  EXPECT_EQ(item.object(), leaf);
  ASSERT_TRUE(e->Next(item));
  EXPECT_EQ(item.object()->TypeName(), u"Arc");
  EXPECT_FALSE(e->Next(item));
}

TEST(Drw2dDrawingObject, InjectedFailureHitsOnlyThatMember) {
  auto obj = std::make_shared<DrawingObject>(u"Line", u"L1", typecode::kLine);
  obj->FailMember("Name", AutomationError::Runtime(rt::kObjectNotSet));
  EXPECT_EQ(RaisedNumber([&] { obj->GetProperty(u"Name"); }), 91);
  EXPECT_EQ(obj->GetProperty(u"Type").number(), static_cast<double>(typecode::kLine));
  obj->StopFailing("Name");
  EXPECT_EQ(obj->GetProperty(u"Name").text(), u"L1");
  EXPECT_EQ(obj->Reads("Name"), 2);
}

TEST(Drw2dAttributes, WalkSetsAndAttributesInOrder) {
  auto graphic = std::make_shared<DrawingObject>(u"Pipe", u"P1");
  EXPECT_EQ(RaisedNumber([&] { graphic->GetProperty(u"AttributeSets"); }), 438);
  graphic->SetAttributeSets(Variant(Object()));
  Variant none = graphic->GetProperty(u"AttributeSets");
  EXPECT_EQ(none.kind(), Variant::Kind::Object);
  EXPECT_EQ(none.object(), nullptr);

  graphic->AddAttributeSet(u"Pipe").Add(u"Size", Variant(Long{4})).Add(u"Grade", Variant::Null());
  graphic->AddAttributeSet(u"Empty");
  auto sets = graphic->GetProperty(u"AttributeSets").object()->NewEnum();
  Variant set;
  ASSERT_TRUE(sets->Next(set));
  EXPECT_EQ(set.object()->GetPropertyById(kDispName).text(), u"Pipe");
  auto attributes = set.object()->NewEnum();
  Variant attribute;
  ASSERT_TRUE(attributes->Next(attribute));
  EXPECT_EQ(attribute.object()->GetPropertyById(kDispName).text(), u"Size");
  EXPECT_EQ(attribute.object()->GetPropertyById(kDispValue).number(), 4.0);
  ASSERT_TRUE(attributes->Next(attribute));
  EXPECT_TRUE(attribute.object()->GetPropertyById(kDispValue).IsNull());
  EXPECT_FALSE(attributes->Next(attribute));
  EXPECT_EQ(RaisedNumber([&] { attribute.object()->NewEnum(); }), 438);
  EXPECT_EQ(RaisedNumber([&] { attribute.object()->GetPropertyById(1); }), 438);
  ASSERT_TRUE(sets->Next(set));
  EXPECT_FALSE(set.object()->NewEnum()->Next(attribute));
  EXPECT_FALSE(sets->Next(set));
}

TEST(Drw2dAttributes, EnumeratorOutlivesTheReferenceItCameFrom) {
  std::unique_ptr<Enumerator> e;
  {
    auto set = std::make_shared<AttributeSet>(u"S");
    set->Add(u"A", u"1");
    e = set->NewEnum();
  }
  Variant item;
  ASSERT_TRUE(e->Next(item));
  EXPECT_EQ(item.object()->GetPropertyById(kDispName).text(), u"A");
}

}  // namespace
}  // namespace vx380::drw2d
