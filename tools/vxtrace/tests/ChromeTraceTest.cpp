// Chrome trace-event JSON, read back by Python's json module: it must parse, pair
// its begin and end events per thread with times that never go back, name every
// process and thread, and keep the model's text whatever bytes it holds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "ChromeTrace.h"
#include "TraceParser.h"
#include "TraceSummary.h"
#include "PictureModels.h"
#include "PictureTools.h"

namespace vxtrace::testing {
namespace {

struct Event {
  std::string ph, cat, name, args;
  long long pid = 0, tid = 0;
  double ts = -1;  // microseconds; -1 for metadata
};

std::string Unhex(const std::string& token) {
  std::string out;
  for (size_t i = 1; i + 1 < token.size(); i += 2) out += static_cast<char>(std::stoi(token.substr(i, 2), nullptr, 16));
  return out;
}

class ChromeTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgram("python3").empty()) GTEST_SKIP() << "python3 is not installed: the trace is not checked";
  }

  // Writes the trace, has the checker parse and verify it, and returns its events.
  std::vector<Event> Check(const CallModel& model) {
    std::ostringstream json;
    WriteChromeTrace(model, json);
    written = json.str();
    WriteFile(dir.File("trace.json"), written);
    int rc = RunProgram({"python3", VXTRACE_PICTURE_CHECK, "chrome", dir.File("trace.json")}, dir.File("out"),
                        dir.File("err"));
    EXPECT_EQ(rc, 0) << ReadFile(dir.File("err")) << "\n" << written;
    std::vector<Event> events;
    std::istringstream lines(ReadFile(dir.File("out")));
    Event e;
    std::string ts, name, args;
    while (lines >> e.ph >> e.pid >> e.tid >> ts >> e.cat >> name >> args) {
      e.ts = ts == "-" ? -1 : std::stod(ts);
      e.name = Unhex(name);
      e.args = Unhex(args);
      events.push_back(e);
    }
    return events;
  }

  static std::vector<Event> Of(const std::vector<Event>& events, long long pid, long long tid, const std::string& ph) {
    std::vector<Event> out;
    for (const Event& e : events)
      if (e.pid == pid && e.tid == tid && e.ph == ph) out.push_back(e);
    return out;
  }

  static std::string Meta(const std::vector<Event>& events, long long pid, long long tid, const std::string& name) {
    for (const Event& e : events)
      if (e.ph == "M" && e.pid == pid && (tid < 0 || e.tid == tid) && e.name == name) return e.args;
    return "(none)";
  }

  TempDir dir;
  std::string written;
};

TEST_F(ChromeTraceTest, DrawsEachThreadsNestedAndRecursiveCallsInOrder) {
  CallModel model = DraftingRun();
  std::vector<Event> events = Check(model);
  for (const ThreadTrack& t : model.threads) {
    if (t.tid == 0) continue;
    std::vector<Event> begins = Of(events, t.pid, t.tid, "B"), ends = Of(events, t.pid, t.tid, "E");
    ASSERT_EQ(begins.size(), t.spans.size()) << t.tid;
    EXPECT_EQ(ends.size(), t.spans.size());
    for (size_t i = 0; i < begins.size(); ++i) {
      EXPECT_EQ(begins[i].name, t.spans[i].name);
      EXPECT_DOUBLE_EQ(begins[i].ts, t.spans[i].beginMs * 1000);
    }
  }
  // The recursion closes innermost first, each at its own end.
  std::vector<Event> mainEnds = Of(events, 4242, 4242, "E");
  std::vector<double> countEnds;
  for (const Event& e : mainEnds)
    if (e.name == "CountChildren") countEnds.push_back(e.ts);
  EXPECT_EQ(countEnds, (std::vector<double>{150000, 160000, 170000, 175000}));

  std::vector<Event> mainBegins = Of(events, 4242, 4242, "B");
  EXPECT_NE(mainBegins[0].args.find("\"note\": \"start\""), std::string::npos) << mainBegins[0].args;
  EXPECT_NE(mainBegins[6].args.find("\"error\": true"), std::string::npos) << mainBegins[6].args;
  std::vector<Event> worker = Of(events, 4242, 4250, "B");
  EXPECT_NE(worker.back().args.find("\"unclosed\": true"), std::string::npos);
  EXPECT_DOUBLE_EQ(Of(events, 4242, 4250, "E").back().ts, 182000);  // ends at its endMs

  std::vector<Event> instants = Of(events, 4242, 4242, "i");
  ASSERT_EQ(instants.size(), 4u);
  EXPECT_EQ(instants[0].cat, "timestamp");
  EXPECT_EQ(instants[1].cat, "line");
  EXPECT_EQ(instants[2].cat, "error");
  EXPECT_DOUBLE_EQ(instants[2].ts, 50000);
  EXPECT_EQ(instants[2].name, model.threads[0].instants[2].text);
  EXPECT_EQ(instants[3].cat, "log");

  EXPECT_EQ(Meta(events, 4242, -1, "process_name"), "{\"name\": \"drafter.exe\"}");
  EXPECT_EQ(Meta(events, 5100, -1, "process_name"), "{\"name\": \"plotter.exe\"}");
  // Named by process and thread: a thread number alone says nothing of its process.
  EXPECT_EQ(Meta(events, 4242, 4250, "thread_name"), "{\"name\": \"drafter.exe \xC2\xB7 thread 4250\"}");
  EXPECT_EQ(Meta(events, 5100, -1, "thread_name"), "{\"name\": \"plotter.exe \xC2\xB7 thread not told\"}");
}

TEST_F(ChromeTraceTest, ThreadsWithoutAUsableIdGetOneOfTheirOwnEveryTime) {
  CallModel model = DraftingRun();
  ThreadTrack untold = model.threads[2];
  untold.pid = 4242;  // the host's lines whose thread was not told, beside its known threads
  ThreadTrack wide = model.threads[1];
  wide.tid = 1ULL << 40;  // more than viewers hold
  ThreadTrack anonymous = model.threads[1];
  anonymous.pid = 0;  // read from a plain text file: no process either
  anonymous.tid = 0;
  anonymous.process = "";
  model.threads.push_back(untold);
  model.threads.push_back(wide);
  model.threads.push_back(anonymous);
  std::vector<Event> events = Check(model);
  std::string first = written;

  std::set<long long> pids;
  for (const Event& e : events) {
    EXPECT_NE(e.pid, 0) << "viewers take process 0 for the idle task";
    EXPECT_NE(e.tid, 0);
    pids.insert(e.pid);
  }
  EXPECT_EQ(pids.size(), 3u);
  pids.erase(4242);
  pids.erase(5100);
  ASSERT_EQ(pids.size(), 1u);
  EXPECT_EQ(Meta(events, *pids.begin(), -1, "process_name"), "{\"name\": \"unknown process\"}");
  EXPECT_EQ(Of(events, *pids.begin(), 0x7FFFFFFF, "B").size(), anonymous.spans.size());

  std::set<long long> hostTids;
  for (const Event& e : events)
    if (e.pid == 4242 && e.ph == "B") hostTids.insert(e.tid);
  EXPECT_EQ(hostTids.size(), 4u) << "every track of the process keeps a thread of its own";
  std::map<std::string, long long> byName;
  for (const Event& e : events)
    if (e.ph == "M" && e.pid == 4242 && e.name == "thread_name") byName[e.args.substr(e.args.find("thread "))] = e.tid;
  ASSERT_TRUE(byName.count("thread not told\"}"));
  ASSERT_TRUE(byName.count("thread 1099511627776\"}"));
  EXPECT_EQ(Of(events, 4242, byName["thread not told\"}"], "B").size(), untold.spans.size());
  EXPECT_EQ(Of(events, 4242, byName["thread 1099511627776\"}"], "B").size(), wide.spans.size());

  Check(model);
  EXPECT_EQ(written, first) << "the made-up ids are the same on every write";
}

TEST_F(ChromeTraceTest, TextOfAnyBytesStaysValidJsonAndReadsBack) {
  CallModel model = HostileNames();
  std::vector<Event> events = Check(model);
  const ThreadTrack& t = model.threads[0];
  std::vector<Event> begins = Of(events, 77, 78, "B");
  ASSERT_EQ(begins.size(), 4u);
  EXPECT_EQ(begins[0].name, t.spans[0].name);
  EXPECT_EQ(begins[1].name, t.spans[1].name);
  EXPECT_EQ(begins[1].args, "{\"note\": \"tab\\there\\nnew line\\u0001\\u001f\x7f\"}");
  EXPECT_EQ(begins[2].name, "bad\uFFFD\uFFFD utf8 \uFFFD(\uFFFD\uFFFD");
  EXPECT_EQ(begins[3].name, t.spans[3].name);  // valid UTF-8 passes untouched
  EXPECT_EQ(Meta(events, 77, -1, "process_name"), "{\"name\": \"evil</script><script>alert(1)</script>\\\"\\\\.exe\"}");
  std::vector<Event> instants = Of(events, 77, 78, "i");
  ASSERT_EQ(instants.size(), 2u);
  EXPECT_EQ(instants[0].name, t.instants[0].text);
  EXPECT_EQ(instants[1].name, "other") << "an instant without text is named by its kind";

  // Raw control bytes and markup never reach the file itself.
  for (char c : written) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
  EXPECT_EQ(written.find("</script"), std::string::npos);
  EXPECT_EQ(written.find("\xe2\x80\xa8"), std::string::npos);
}

TEST_F(ChromeTraceTest, TimesOutOfOrderAreClampedSoTheyNeverGoBack) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  CallModel model;
  ThreadTrack t;
  t.pid = 3;
  t.tid = 4;
  t.spans = {Span("EndsBeforeItBegins", 10, 5, 0),
             Span("OutlivesItsCaller", 12, 30, 1),
             Span("NoTime", nan, inf, 1),
             Span("Earlier", 3, 8, 0),
             Span("Deep", 9, 9, 7),
             Span("Negative", -5, -1, -2)};
  CallInstant late, early, broken;
  late.ms = 100;
  early.ms = 1;
  broken.ms = -inf;
  t.instants = {late, early, broken};
  model.threads = {t, ThreadTrack{}};
  std::vector<Event> events = Check(model);
  EXPECT_EQ(Of(events, 3, 4, "B").size(), t.spans.size());
  EXPECT_EQ(Of(events, 3, 4, "E").size(), t.spans.size());
  EXPECT_EQ(Of(events, 3, 4, "i").size(), 3u);
  EXPECT_EQ(written.find("nan"), std::string::npos);
  EXPECT_EQ(written.find("inf"), std::string::npos);
}

TEST_F(ChromeTraceTest, AnEmptyRunIsAnEmptyTrace) {
  EXPECT_TRUE(Check(CallModel{}).empty());
  EXPECT_NE(written.find("\"traceEvents\":["), std::string::npos);
}

}  // namespace
}  // namespace vxtrace::testing

namespace vxtrace::testing {
namespace {

TEST_F(ChromeTraceTest, ACapturedCallKeepsTheNotesOfItsEntryAndItsExit) {
  TraceSummary summary(true);
  for (const char* line :
       {"RBDEBUG , BEG>>> , ........ , Startup , start , EOL ", "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
        "RBDEBUG , END<<< ,       16 , ..Load , 3 files , EOL ", "RBDEBUG , END<<< ,      250 , Startup , done , EOL "})
    summary.Add(ParseTraceLine(line), ThreadKey{42, 43}, -1, "host");
  std::vector<Event> begins = Of(Check(summary.Model()), 42, 43, "B");
  ASSERT_EQ(begins.size(), 2u);
  EXPECT_EQ(begins[0].args, "{\"exit_note\": \"done\", \"note\": \"start\"}");
  EXPECT_EQ(begins[1].args, "{\"exit_note\": \"3 files\"}");
}

}  // namespace
}  // namespace vxtrace::testing
