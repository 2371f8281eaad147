// Drawing object dumps: the matrix text, attribute boxes and the hierarchy trace, driven by
// small late-bound doubles that count what is asked of them.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

class ListEnumerator : public Enumerator {
 public:
  explicit ListEnumerator(std::vector<Variant> items) : items_(std::move(items)) {}
  bool Next(Variant& item) override {
    if (next_ >= items_.size()) return false;
    item = items_[next_++];
    return true;
  }

 private:
  std::vector<Variant> items_;
  size_t next_ = 0;
};

// A host object made of callbacks. Members it is not given raise 438, as late binding does.
class Double : public LateBound {
 public:
  std::map<String, std::function<Variant()>> byName;
  std::map<Long, std::function<Variant()>> byId;
  std::function<std::vector<Variant>()> items;  // unset: not enumerable
  std::function<void(Long, std::vector<double>&)> call;
  String typeName = u"Object";  // what the runtime says of an object without type information
  std::map<String, int> reads;

  Variant GetProperty(const String& name) override {
    ++reads[name];
    auto it = byName.find(name);
    if (it == byName.end()) RaiseRuntime(rt::kNoSuchMember);
    return it->second();
  }
  Variant GetPropertyById(Long id) override {
    auto it = byId.find(id);
    if (it == byId.end()) RaiseRuntime(rt::kNoSuchMember);
    return it->second();
  }
  void CallWithDoublesByRef(Long id, std::vector<double>& elements) override {
    if (!call) RaiseRuntime(rt::kNoSuchMember);
    call(id, elements);
  }
  std::unique_ptr<Enumerator> NewEnum() override {
    if (!items) RaiseRuntime(rt::kNoSuchMember);
    return std::make_unique<ListEnumerator>(items());
  }
  String TypeName() override { return typeName; }
};

std::shared_ptr<Double> Collection(std::vector<Variant> elements) {
  auto c = std::make_shared<Double>();
  c->items = [elements] { return elements; };
  return c;
}

class Dumps : public testing::CoreTest {
 protected:
  ErrorLog log;
};

// ---- Matrix -----------------------------------------------------------------------------

std::shared_ptr<Double> Matrix(std::vector<double> values, int* calls = nullptr) {
  auto m = std::make_shared<Double>();
  m->call = [values, calls](Long id, std::vector<double>& elements) {
    if (id != 19) RaiseRuntime(rt::kNoSuchMember);
    if (calls) ++*calls;
    EXPECT_EQ(elements, std::vector<double>(17, 0.0)) << "the working array is fresh at each call";
    std::copy(values.begin(), values.end(), elements.begin());
  };
  return m;
}

const std::vector<double> kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST_F(Dumps, IdentityMatrixText) {
  int calls = 0;
  const Object matrix = Matrix(kIdentity, &calls);
  const String text = log.RBDEBUGMATRIX(matrix);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(text.size(), 222u);
  EXPECT_EQ(text,
            u"\r\n"
            u"|  1.0000000 ,  0.0000000 ,  0.0000000 ,  0.0000000 |\r\n"
            u"|  0.0000000 ,  1.0000000 ,  0.0000000 ,  0.0000000 |\r\n"
            u"|  0.0000000 ,  0.0000000 ,  1.0000000 ,  0.0000000 |\r\n"
            u"|  0.0000000 ,  0.0000000 ,  0.0000000 ,  1.0000000 |\r\n");
  // Nothing carries over between calls.
  EXPECT_EQ(log.RBDEBUGMATRIX(matrix), text);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(fake.debugLines.empty());
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Dumps, MatrixFieldsAlignAndWidenWhenTheyMust) {
  const String untouched = log.RBDEBUGMATRIX(Matrix({}));
  EXPECT_EQ(untouched.substr(2, 53), u"|  0.0000000 ,  0.0000000 ,  0.0000000 ,  0.0000000 |");

  // Fields shorter than ten characters are padded; longer ones widen their row.
  const String text = log.RBDEBUGMATRIX(Matrix({123.456, -0.5, 1.0 / 3, 2.0 / 3, 10, -10, 99.99999999, 0}));
  EXPECT_EQ(text,
            u"\r\n"
            u"| 123.4560000 , -0.5000000 ,  0.3333333 ,  0.6666667 |\r\n"
            u"| 10.0000000 , -10.0000000 , 100.0000000 ,  0.0000000 |\r\n"
            u"|  0.0000000 ,  0.0000000 ,  0.0000000 ,  0.0000000 |\r\n"
            u"|  0.0000000 ,  0.0000000 ,  0.0000000 ,  0.0000000 |\r\n");
}

TEST_F(Dumps, MatrixUsesTheUsersDecimalSeparator) {
  fake.decimalSeparator = u',';
  const String text = log.RBDEBUGMATRIX(Matrix(kIdentity));
  EXPECT_EQ(text.substr(2, 53), u"|  1,0000000 ,  0,0000000 ,  0,0000000 ,  0,0000000 |");
}

TEST_F(Dumps, MatrixFailuresReachTheCaller) {
  auto failing = std::make_shared<Double>();
  failing->call = [](Long, std::vector<double>&) {
    throw AutomationError(3001, u"DRW2D.Xform", u"Matrix is not available", u"drw2d.hlp", 5);
  };
  try {
    log.RBDEBUGMATRIX(failing);
    FAIL() << "expected the object's failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.error(), (ErrObject{3001, u"DRW2D.Xform", u"Matrix is not available", u"drw2d.hlp", 5}));
  }
  try {
    log.RBDEBUGMATRIX(nullptr);
    FAIL() << "expected an error for Nothing";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), rt::kObjectNotSet);
  }
}

// ---- Attributes -------------------------------------------------------------------------

Variant Attribute(String name, Variant value) {
  auto a = std::make_shared<Double>();
  a->byId[2] = [name] { return Variant(name); };
  a->byId[0] = [value] { return value; };
  return Variant(Object(a));
}

std::shared_ptr<Double> AttributeSet(String name, std::vector<Variant> attributes) {
  auto s = Collection(std::move(attributes));
  s->byId[2] = [name] { return Variant(name); };
  return s;
}

Object Graphic(std::vector<Variant> sets) {
  auto g = std::make_shared<Double>();
  Object collection = Collection(std::move(sets));
  g->byName[u"AttributeSets"] = [collection] { return Variant(collection); };
  return g;
}

TEST_F(Dumps, OneBoxPerAttributeSet) {
  log.DescribeAttributes(Graphic({
      Variant(Object(AttributeSet(u"Pipe", {Attribute(u"Size", Variant(Long{4})), Attribute(u"Grade", u"A1")}))),
      Variant(Object(AttributeSet(u"Empty", {}))),
      Variant(Object(AttributeSet(u"Mixed", {Attribute(u"Note", Variant::Null()), Attribute(u"Ratio", 2.5),
                                             Attribute(u"Flag", Variant::FromBoolean(kTrue))}))),
  }));
  ASSERT_EQ(fake.boxes.size(), 3u);
  EXPECT_EQ(fake.boxes[0].prompt,
            u"\r\nAttribute Set Name :Pipe\r\n\tAttribute Name :Size Value : 4\r\n\tAttribute Name :Grade Value : A1");
  EXPECT_EQ(fake.boxes[1].prompt, u"\r\nAttribute Set Name :Empty");
  EXPECT_EQ(fake.boxes[2].prompt,
            u"\r\nAttribute Set Name :Mixed\r\n\tAttribute Name :Note Value : \r\n"
            u"\tAttribute Name :Ratio Value : 2.5\r\n\tAttribute Name :Flag Value : True");
  for (const auto& box : fake.boxes) {
    EXPECT_EQ(box.style, 0);
    EXPECT_EQ(box.title, u"ErrorLogging");
  }
  EXPECT_TRUE(fake.debugLines.empty());
}

TEST_F(Dumps, NothingToDescribeShowsNothing) {
  log.DescribeAttributes(nullptr);
  auto noSets = std::make_shared<Double>();
  noSets->byName[u"AttributeSets"] = [] { return Variant(Object()); };
  log.DescribeAttributes(noSets);
  log.DescribeAttributes(Graphic({}));
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Dumps, AttributeFailuresReachTheCaller) {
  // No AttributeSets member at all.
  try {
    log.DescribeAttributes(std::make_shared<Double>());
    FAIL() << "expected 438";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), rt::kNoSuchMember);
  }
  EXPECT_TRUE(fake.boxes.empty());

  // A Null name cannot be made a string.
  auto nullName = AttributeSet(u"unused", {});
  nullName->byId[2] = [] { return Variant::Null(); };
  EXPECT_THROW(log.DescribeAttributes(Graphic({Variant(Object(nullName))})), AutomationError);
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Dumps, HostFailureEndsTheAttributeDump) {
  auto locked = AttributeSet(u"Locked", {});
  locked->byId[2] = []() -> Variant { throw AutomationError(2001, u"DRW2D", u"Set is locked"); };
  bool thirdVisited = false;
  auto third = AttributeSet(u"Third", {});
  third->byId[2] = [&thirdVisited] {
    thirdVisited = true;
    return Variant(u"Third");
  };
  try {
    log.DescribeAttributes(
        Graphic({Variant(Object(AttributeSet(u"First", {}))), Variant(Object(locked)), Variant(Object(third))}));
    FAIL() << "expected the host's failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.error(), (ErrObject{2001, u"DRW2D", u"Set is locked", u"", 0}));
  }
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"\r\nAttribute Set Name :First");
  EXPECT_FALSE(thirdVisited);
}

// ---- Hierarchy --------------------------------------------------------------------------

constexpr Long kSheet = 0x3D4773E0;
constexpr Long kGroup = 7;
const std::vector<Long> kChildless{0x2D4E13C0, static_cast<Long>(0x9D650A00u), 0x777A6860,
                                   static_cast<Long>(0x98F8BC10u)};

std::shared_ptr<Double> Drawing(String typeName, String name, Long code) {
  auto d = std::make_shared<Double>();
  d->typeName = std::move(typeName);
  d->byName[u"Name"] = [name] { return Variant(name); };
  d->byName[u"Type"] = [code] { return Variant(code); };
  return d;
}

void SetChildren(const std::shared_ptr<Double>& parent, std::vector<std::shared_ptr<Double>> children) {
  std::vector<Variant> items(children.begin(), children.end());
  auto collection = Collection(std::move(items));
  parent->byName[u"DrawingObjects"] = [collection] { return Variant(Object(collection)); };
}

const String kBegin = u"RBDEBUGHIERARCHY ====Begin====";
const String kDateTime = u"3/5/2021 2:07:09 PM";
const String kEnd = u"RBDEBUGHIERARCHY =====End=====";

TEST_F(Dumps, HierarchyIsWrittenDepthFirstAndFramed) {
  auto root = Drawing(u"Group", u"Root", kGroup);
  auto left = Drawing(u"Group", u"Left", kGroup);
  auto leaf1 = Drawing(u"Line", u"L1", kChildless[0]);
  auto leaf2 = Drawing(u"Object", u"Untyped", 12345);  // no DrawingObjects member: ends quietly
  auto right = Drawing(u"Arc", u"A1", kChildless[1]);
  SetChildren(left, {leaf1, leaf2});
  SetChildren(root, {left, right});

  log.RBDEBUGHIERARCHY(root);
  EXPECT_EQ(fake.Lines(), (std::vector<String>{
                              kBegin,
                              kDateTime,
                              u"RBDEBUGHIERARCHY Group : Root",
                              u"RBDEBUGHIERARCHY   Group : Left",
                              u"RBDEBUGHIERARCHY     Line : L1",
                              u"RBDEBUGHIERARCHY     Object : Untyped",
                              u"RBDEBUGHIERARCHY   Arc : A1",
                              kEnd,
                          }));
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Dumps, ChildlessCodesNeverReadDrawingObjects) {
  for (Long code : kChildless) {
    auto leaf = Drawing(u"Leaf", u"x", code);
    SetChildren(leaf, {Drawing(u"Hidden", u"h", kGroup)});
    log.RBDEBUGHIERARCHY(leaf, 1);
    EXPECT_EQ(leaf->reads[u"DrawingObjects"], 0) << code;
  }
  EXPECT_EQ(fake.Lines(), std::vector<String>(4, u"RBDEBUGHIERARCHY   Leaf : x"));
}

TEST_F(Dumps, SheetRestartsItsChildrenAtLevelOne) {
  auto sheet = Drawing(u"Sheet", u"S", kSheet);
  auto group = Drawing(u"Group", u"G", kGroup);
  auto line = Drawing(u"Line", u"L", kChildless[0]);
  SetChildren(group, {line});
  SetChildren(sheet, {group});
  log.RBDEBUGHIERARCHY(sheet, 3);
  EXPECT_EQ(fake.Lines(), (std::vector<String>{
                              u"RBDEBUGHIERARCHY       Sheet : S",
                              u"RBDEBUGHIERARCHY   Group : G",
                              u"RBDEBUGHIERARCHY     Line : L",
                          }));
}

TEST_F(Dumps, StartingLevelSetsIndentationAndFraming) {
  auto group = Drawing(u"Group", u"G", kGroup);
  SetChildren(group, {Drawing(u"Line", u"L", kChildless[0])});
  log.RBDEBUGHIERARCHY(group, 3);
  EXPECT_EQ(fake.Lines(),
            (std::vector<String>{u"RBDEBUGHIERARCHY       Group : G", u"RBDEBUGHIERARCHY         Line : L"}));

  fake.debugLines.clear();
  log.RBDEBUGHIERARCHY(group, -1);  // a negative indentation ends the call quietly
  log.RBDEBUGHIERARCHY(nullptr);    // Nothing: only the opening lines
  EXPECT_EQ(fake.Lines(), (std::vector<String>{kBegin, kDateTime}));

  fake.debugLines.clear();
  log.RBDEBUGHIERARCHY(Drawing(u"Object", u"Bare", kGroup));  // no DrawingObjects: no closing line
  EXPECT_EQ(fake.Lines(), (std::vector<String>{kBegin, kDateTime, u"RBDEBUGHIERARCHY Object : Bare"}));
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Dumps, ChildWithoutANameIsMissingWithItsSubtree) {
  auto root = Drawing(u"Group", u"Root", kGroup);
  auto broken = Drawing(u"Group", u"unused", kGroup);
  broken->byName[u"Name"] = []() -> Variant { throw AutomationError(4001, u"DRW2D", u"Name unavailable"); };
  auto grandchild = Drawing(u"Line", u"Hidden", kChildless[0]);
  SetChildren(broken, {grandchild});
  auto sibling = Drawing(u"Line", u"Sibling", kChildless[0]);
  SetChildren(root, {broken, sibling});
  Err().Clear();

  EXPECT_NO_THROW(log.RBDEBUGHIERARCHY(root));
  EXPECT_EQ(fake.Lines(), (std::vector<String>{kBegin, kDateTime, u"RBDEBUGHIERARCHY Group : Root",
                                               u"RBDEBUGHIERARCHY   Line : Sibling", kEnd}));
  EXPECT_EQ(broken->reads[u"DrawingObjects"], 0);
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(Err().number, 0);
}

TEST_F(Dumps, CyclesStopQuietlyAtTheRepeat) {
  auto self = Drawing(u"Group", u"Self", kGroup);
  SetChildren(self, {self});
  log.RBDEBUGHIERARCHY(self);
  EXPECT_EQ(fake.Lines(), (std::vector<String>{kBegin, kDateTime, u"RBDEBUGHIERARCHY Group : Self", kEnd}));

  fake.debugLines.clear();
  auto a = Drawing(u"Group", u"A", kGroup);
  auto b = Drawing(u"Group", u"B", kGroup);
  auto c = Drawing(u"Line", u"C", kChildless[0]);
  SetChildren(a, {b});
  SetChildren(b, {a, c});
  log.RBDEBUGHIERARCHY(a);
  EXPECT_EQ(fake.Lines(),
            (std::vector<String>{kBegin, kDateTime, u"RBDEBUGHIERARCHY Group : A", u"RBDEBUGHIERARCHY   Group : B",
                                 u"RBDEBUGHIERARCHY     Line : C", kEnd}));
  EXPECT_TRUE(fake.boxes.empty());

  // The doubles own each other; let them go.
  self->byName.clear();
  b->byName.clear();
}

TEST_F(Dumps, SharedObjectInTwoBranchesIsNoCycle) {
  auto root = Drawing(u"Group", u"Root", kGroup);
  auto g1 = Drawing(u"Group", u"G1", kGroup);
  auto g2 = Drawing(u"Group", u"G2", kGroup);
  auto shared = Drawing(u"Line", u"Shared", kChildless[0]);
  SetChildren(g1, {shared});
  SetChildren(g2, {shared});
  SetChildren(root, {g1, g2});
  log.RBDEBUGHIERARCHY(root);
  EXPECT_EQ(fake.Lines(),
            (std::vector<String>{kBegin, kDateTime, u"RBDEBUGHIERARCHY Group : Root", u"RBDEBUGHIERARCHY   Group : G1",
                                 u"RBDEBUGHIERARCHY     Line : Shared", u"RBDEBUGHIERARCHY   Group : G2",
                                 u"RBDEBUGHIERARCHY     Line : Shared", kEnd}));
}

// A drawing nested `remaining` levels deep, made one level at a time as the dump asks.
class DeepDrawing : public LateBound {
 public:
  explicit DeepDrawing(int remaining) : remaining_(remaining) {}
  Variant GetProperty(const String& name) override {
    if (name == u"Name") return Variant(Long{remaining_});
    if (name == u"Type") return Variant(kGroup);
    if (name == u"DrawingObjects" && remaining_ > 0) {
      auto c = std::make_shared<Double>();
      const int next = remaining_ - 1;
      c->items = [next] { return std::vector<Variant>{Variant(Object(std::make_shared<DeepDrawing>(next)))}; };
      return Variant(Object(c));
    }
    RaiseRuntime(rt::kNoSuchMember);
  }
  Variant GetPropertyById(Long) override { RaiseRuntime(rt::kNoSuchMember); }
  void CallWithDoublesByRef(Long, std::vector<double>&) override { RaiseRuntime(rt::kNoSuchMember); }
  std::unique_ptr<Enumerator> NewEnum() override { RaiseRuntime(rt::kNoSuchMember); }
  String TypeName() override { return u"Deep"; }

 private:
  int remaining_;
};

TEST_F(Dumps, VeryDeepTreeIsCutQuietly) {
  log.RBDEBUGHIERARCHY(std::make_shared<DeepDrawing>(100000));
  const std::vector<String> lines = fake.Lines();
  ASSERT_EQ(lines.size(), 2u + 256u + 1u);
  EXPECT_EQ(lines[2], u"RBDEBUGHIERARCHY Deep : 100000");
  EXPECT_EQ(lines[257], u"RBDEBUGHIERARCHY " + String(2 * 255, u' ') + u"Deep : 99745");
  EXPECT_EQ(lines.back(), kEnd);
  EXPECT_TRUE(fake.boxes.empty());
}

class RecordingDump : public ErrorLog {
 public:
  void RBDEBUGWRITE(String strMess) override { written.push_back(strMess); }
  void RBDEBUGHIERARCHY(const Object& objDrawingObject, Long level) override {
    levels.push_back(level);
    ErrorLog::RBDEBUGHIERARCHY(objDrawingObject, level);
  }
  std::vector<String> written;
  std::vector<Long> levels;
};

TEST_F(Dumps, HierarchyWritesAndRecursesThroughTheInterface) {
  auto root = Drawing(u"Sheet", u"S", kSheet);
  auto group = Drawing(u"Group", u"G", kGroup);
  SetChildren(group, {Drawing(u"Line", u"L", kChildless[0])});
  SetChildren(root, {group});
  RecordingDump recording;
  recording.RBDEBUGHIERARCHY(root, 0);
  EXPECT_EQ(recording.levels, (std::vector<Long>{0, 1, 2}));
  EXPECT_EQ(recording.written.size(), 6u);
  EXPECT_TRUE(fake.debugLines.empty());
}

}  // namespace
}  // namespace vx380
