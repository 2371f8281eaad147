// The parser against what the real core writes: every line kind, produced by the
// library's members on the recording platform, read back by vxtrace.
#include <gtest/gtest.h>

#include <map>

#include "CoreTest.h"
#include "Display.h"
#include "TraceParser.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

using vxtrace::ParseTraceLine;
using vxtrace::RecordKind;
using vxtrace::TraceRecord;

class EmptyList : public Enumerator {
 public:
  bool Next(Variant&) override { return false; }
};

// The children of a drawing object: none.
class NoChildren : public LateBound {
 public:
  Variant GetProperty(const String&) override { RaiseRuntime(rt::kNoSuchMember); }
  Variant GetPropertyById(Long) override { RaiseRuntime(rt::kNoSuchMember); }
  void CallWithDoublesByRef(Long, std::vector<double>&) override { RaiseRuntime(rt::kNoSuchMember); }
  std::unique_ptr<Enumerator> NewEnum() override { return std::make_unique<EmptyList>(); }
  String TypeName() override { return u"DrawingObjects"; }
};

// A drawing object with a name and no children.
class Shape : public NoChildren {
 public:
  Variant GetProperty(const String& name) override {
    if (name == u"Name") return Variant(String(u"Wheel"));
    if (name == u"Type") return Variant(Long{7});
    if (name == u"DrawingObjects") return Variant(Object(std::make_shared<NoChildren>()));
    RaiseRuntime(rt::kNoSuchMember);
  }
  std::unique_ptr<Enumerator> NewEnum() override { RaiseRuntime(rt::kNoSuchMember); }
  String TypeName() override { return u"Group"; }
};

class CoreLines : public testing::CoreTest {
 protected:
  std::vector<TraceRecord> Parsed() const {
    std::vector<TraceRecord> out;
    for (const std::string& line : fake.debugLines) out.push_back(ParseTraceLine(line));
    return out;
  }
  ErrorLog log;
};

TEST_F(CoreLines, EveryKindTheCoreWritesIsRecognised) {
  log.Initialize(u"App", u"");
  fake.SetRegistryString(kHKeyCurrentUser, "SOFTWARE\\Meridox\\Applications\\App.Application\\ErrorReporting\\Timing",
                         "", "true");
  fake.tick = 1000;
  fake.tickStep = 5;
  log.RBDEBUGLINE(3, u"early");  // without an entry: a warning, then a marker
  log.RBDEBUGEXIT(u"");          // nothing entered
  log.RBDEBUGENTER(u"Main", u"start , with a separator");
  log.RBDEBUGENTER(u"Load", u"");
  log.RBDEBUGLINE(120, u"half way");
  log.RBDEBUGLOG(u"free text");
  log.RBDEBUGTIMESTAMP(u"stamp");
  log.RBDEBUGHIERARCHY(Object(std::make_shared<Shape>()));
  log.LogError(u"App1", u"Disk full", u"", 0, 61, u"SaveFile", 0, 0, false);
  log.RBDEBUGEXIT(u"loaded");
  log.RBDEBUGEXIT(u"done");

  std::map<RecordKind, int> kinds;
  std::vector<TraceRecord> records = Parsed();
  for (const TraceRecord& r : records) ++kinds[r.kind];
  for (RecordKind k : {RecordKind::Entry, RecordKind::Exit, RecordKind::LineMarker, RecordKind::StackEmpty,
                       RecordKind::LineWithoutEntry, RecordKind::Timing, RecordKind::Log, RecordKind::HierarchyBegin,
                       RecordKind::HierarchyObject, RecordKind::HierarchyEnd, RecordKind::Error})
    EXPECT_GE(kinds[k], 1) << "kind " << static_cast<int>(k) << " missing";
  // Only the hierarchy's date line has no shape of its own.
  EXPECT_EQ(kinds[RecordKind::Other], 1);

  auto find = [&](RecordKind k, const std::string& name) {
    for (const TraceRecord& r : records)
      if (r.kind == k && r.name == name) return r;
    return TraceRecord{};
  };
  const TraceRecord main = find(RecordKind::Entry, "Main");
  EXPECT_EQ(main.depth, 0);
  EXPECT_EQ(main.note, "start , with a separator");
  const TraceRecord load = find(RecordKind::Exit, "Load");
  EXPECT_EQ(load.depth, 1);
  EXPECT_EQ(load.note, "loaded");
  EXPECT_GT(load.ms, 0);
  const TraceRecord marker = find(RecordKind::LineMarker, "Load");
  EXPECT_EQ(marker.lineNumber, 120);
  EXPECT_EQ(marker.depth, 2);
  EXPECT_EQ(marker.note, "half way");
  EXPECT_EQ(find(RecordKind::HierarchyObject, "Group").note, "Wheel");
  for (const TraceRecord& r : records) {
    if (r.kind == RecordKind::Timing) {
      EXPECT_EQ(r.note, "stamp");
      EXPECT_EQ(r.timeOfDay, "2:07:09 PM");
    }
    if (r.kind == RecordKind::Error) {
      EXPECT_EQ(r.note.rfind("App1 - SaveFile described as: Disk full", 0), 0u) << r.note;
    }
  }
}

TEST_F(CoreLines, TheCoresCallsAddUpInTheStatistics) {
  fake.tickStep = 1;
  log.RBDEBUGENTER(u"Outer", u"");
  for (int i = 0; i < 3; ++i) {
    log.RBDEBUGENTER(u"Inner", u"");
    log.RBDEBUGEXIT(u"");
  }
  log.RBDEBUGEXIT(u"");
  vxtrace::TraceSummary s;
  for (const TraceRecord& r : Parsed()) s.Add(r);
  EXPECT_EQ(s.routines().at("Inner").calls, 3);
  EXPECT_EQ(s.routines().at("Outer").calls, 1);
  EXPECT_EQ(s.routines().at("Outer").selfMs + s.routines().at("Inner").selfMs, s.routines().at("Outer").totalMs);
  EXPECT_EQ(s.unbalanced(), 0);
  EXPECT_TRUE(s.OpenRoutines().empty());
}

}  // namespace
}  // namespace vx380
