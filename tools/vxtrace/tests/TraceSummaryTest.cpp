// Summary: counts and times per routine over a capture.
#include <gtest/gtest.h>

#include <sstream>

#include "TraceParser.h"
#include "TraceSummary.h"

namespace vxtrace {
namespace {

void Feed(TraceSummary& s, std::initializer_list<const char*> lines, unsigned long source = 0) {
  for (const char* line : lines) s.Add(ParseTraceLine(line), source);
}

TEST(TraceSummary, CountsCallsAndTimesPerRoutine) {
  TraceSummary s;
  Feed(s, {"RBDEBUG , BEG>>> , ........ , Startup , start , EOL ", "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL ", "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,       40 , ..Load ,  , EOL ", "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,        4 , ..Load ,  , EOL ", "RBDEBUG , END<<< ,      250 , Startup , done , EOL "});
  ASSERT_EQ(s.routines().size(), 2u);
  const auto& load = s.routines().at("Load");
  EXPECT_EQ(load.calls, 3);
  EXPECT_EQ(load.totalMs, 60);
  EXPECT_EQ(load.maxMs, 40);
  EXPECT_EQ(s.routines().at("Startup").totalMs, 250);
  EXPECT_TRUE(s.OpenRoutines().empty());

  std::ostringstream out;
  s.Print(out);
  EXPECT_EQ(out.str(),
            "routine   calls   total ms   self ms   min ms    avg ms   max ms\n"
            "Startup       1        250       190      250     250.0      250\n"
            "Load          3         60        60        4      20.0       40\n"
            "8 lines, 0 errors, 0 warnings, 0 unrecognised, 0 unbalanced\n");
}

TEST(TraceSummary, PairsEntriesAndExitsOfACaptureStartedMidRun) {
  TraceSummary s;
  // Outer was entered before the capture began; Inner never left (the host died).
  Feed(s, {"RBDEBUG , END<<< ,        7 , ..Child ,  , EOL ", "RBDEBUG , END<<< ,       90 , Outer ,  , EOL ",
           "RBDEBUG , BEG>>> , ........ , Outer ,  , EOL ", "RBDEBUG , BEG>>> , ........ , ..Inner ,  , EOL ",
           "RBDEBUG , L(5)   ,        1 ,     Inner ", "ERROR: App - described as: boom, Error Number is: 5",
           "RBDEBUG Stack is empty", "who knows"});
  EXPECT_EQ(s.routines().at("Child").calls, 1);
  EXPECT_EQ(s.routines().at("Outer").calls, 2);
  EXPECT_EQ(s.routines().at("Outer").totalMs, 90);
  EXPECT_EQ(s.routines().at("Inner").calls, 1);
  EXPECT_EQ(s.routines().at("Inner").timed, 0);
  EXPECT_EQ(s.errors(), 1);
  EXPECT_EQ(s.warnings(), 1);
  EXPECT_EQ(s.unrecognised(), 1);

  std::ostringstream out;
  s.Print(out);
  EXPECT_NE(out.str().find("Inner         1          -         -        -         -        -\n"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("still open: Outer > Inner\n"), std::string::npos) << out.str();
}

TEST(TraceSummary, KeepsEachProcessOnItsOwnStack) {
  TraceSummary s;
  s.Add(ParseTraceLine("RBDEBUG , BEG>>> , ........ , A ,  , EOL "), 1);
  s.Add(ParseTraceLine("RBDEBUG , BEG>>> , ........ , A ,  , EOL "), 2);
  s.Add(ParseTraceLine("RBDEBUG , END<<< ,        5 , A ,  , EOL "), 1);
  EXPECT_EQ(s.routines().at("A").calls, 2);
  auto open = s.OpenRoutines();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].first, 2u);
}

}  // namespace
}  // namespace vxtrace

namespace vxtrace {
namespace {

// One thread's run: Main > Load, then Fib > Fib > Fib (recursive), an error in Main.
// Arrival times (ms) run ahead of the lines' own times, as a real capture's do.
void FeedThread(TraceSummary& s, const ThreadKey& key, double start) {
  const std::pair<double, const char*> run[] = {{0, "RBDEBUG , BEG>>> , ........ , Main ,  , EOL "},
                                                {1, "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL "},
                                                {5, "RBDEBUG , L(10)  ,        4 ,     Load half"},
                                                {11, "RBDEBUG , END<<< ,       10 , ..Load ,  , EOL "},
                                                {12, "RBDEBUG , BEG>>> , ........ , ..Fib ,  , EOL "},
                                                {13, "RBDEBUG , BEG>>> , ........ , ....Fib ,  , EOL "},
                                                {14, "RBDEBUG , BEG>>> , ........ , ......Fib ,  , EOL "},
                                                {16, "RBDEBUG , END<<< ,        2 , ......Fib ,  , EOL "},
                                                {18, "RBDEBUG , END<<< ,        5 , ....Fib ,  , EOL "},
                                                {21, "RBDEBUG , END<<< ,        9 , ..Fib ,  , EOL "},
                                                {25, "ERROR: App - Main described as: late, Error Number is: 5"},
                                                {30, "RBDEBUG , END<<< ,       30 , Main ,  , EOL "}};
  for (const auto& [ms, line] : run) s.Add(ParseTraceLine(line), key, start + ms, "host");
}

TEST(TraceSummary, TwoThreadsWithRecursionGiveTwoTreesAndRightTimes) {
  TraceSummary s(true);
  FeedThread(s, {7, 8}, 0);
  FeedThread(s, {7, 9}, 3);  // interleaved in time with the first, on its own stack
  const auto& r = s.routines();
  EXPECT_EQ(r.at("Fib").calls, 6);
  EXPECT_EQ(r.at("Fib").totalMs, 18) << "the nested calls are inside the outermost one";
  EXPECT_EQ(r.at("Fib").selfMs, 18);
  EXPECT_EQ(r.at("Fib").minMs, 2);
  EXPECT_EQ(r.at("Fib").maxMs, 9);
  EXPECT_EQ(r.at("Main").calls, 2);
  EXPECT_EQ(r.at("Main").selfMs, 22);
  for (const ThreadKey& key : {ThreadKey{7, 8}, ThreadKey{7, 9}}) {
    long long self = 0;
    for (const auto& [name, routine] : s.RoutinesOf(key)) self += routine.selfMs;
    EXPECT_EQ(self, s.RoutinesOf(key).at("Main").totalMs) << key.Label();
  }
  EXPECT_EQ(s.unbalanced(), 0);

  CallModel model = s.Model();
  ASSERT_EQ(model.threads.size(), 2u);
  for (const ThreadTrack& t : model.threads) {
    EXPECT_EQ(t.pid, 7u);
    EXPECT_EQ(t.process, "host");
    ASSERT_EQ(t.spans.size(), 5u);
    EXPECT_EQ(t.spans[0].name, "Main");
    EXPECT_EQ(t.spans[0].depth, 0);
    EXPECT_TRUE(t.spans[0].hasError);
    EXPECT_DOUBLE_EQ(t.spans[0].endMs - t.spans[0].beginMs, 30);
    EXPECT_EQ(t.spans[4].depth, 3);
    for (const CallSpan& span : t.spans) {
      EXPECT_TRUE(span.closed);
      EXPECT_LE(span.beginMs, span.endMs);
      EXPECT_GE(span.beginMs, t.spans[0].beginMs) << "inside the root";
      EXPECT_LE(span.endMs, t.spans[0].endMs);
    }
    ASSERT_EQ(t.instants.size(), 2u);
    EXPECT_EQ(t.instants[0].kind, CallInstant::Kind::LineMarker);
    EXPECT_EQ(t.instants[1].kind, CallInstant::Kind::Error);
  }
  ASSERT_EQ(model.routines.size(), 3u);
  EXPECT_EQ(model.routines[0].name, "Main");  // by self time: 22, 20, 18
  EXPECT_EQ(model.routines[2].name, "Fib");
  EXPECT_DOUBLE_EQ(model.routines[2].totalMs, 18);
  EXPECT_NEAR(model.routines[2].avgMs, 16.0 / 3, 1e-9);
}

TEST(TraceSummary, APlainTextCaptureStillHasNestedTimes) {
  TraceSummary s(true);
  FeedThread(s, {}, -1e9);  // no arrival times: the lines' own times move the clock
  const CallModel model = s.Model();
  ASSERT_EQ(model.threads.size(), 1u);
  const std::vector<CallSpan>& spans = model.threads[0].spans;
  ASSERT_EQ(spans.size(), 5u);
  EXPECT_DOUBLE_EQ(spans[0].endMs - spans[0].beginMs, 30);
  EXPECT_DOUBLE_EQ(spans[1].endMs - spans[1].beginMs, 10);
  for (const CallSpan& span : spans) EXPECT_LE(span.endMs, spans[0].endMs) << span.name;
}

TEST(TraceSummary, InterleavedAndMalformedLinesAreCountedNotFatal) {
  TraceSummary s(true);
  for (const char* line : {"RBDEBUG , BEG>>> , ........ , A ,  , EOL ", "RBDEBUG , BEG>>> , ........ , ..B ,  , EOL ",
                           "RBDEBUG , END<<< ,        3 , ..C ,  , EOL ",  // exit of what was never entered
                           "RBDEBUG , BEG>>> , ........ , A ,  , EOL ",    // A again: B and A left silently
                           "RBDEBUG , END<<< , x , A ,  , EOL ", "RBDEBUG , END<<< ,       -5 , A ,  , EOL ",
                           "RBDEBUG , END<<< ,  99999999999999999999 , A ,  , EOL "})
    s.Add(ParseTraceLine(line));
  EXPECT_EQ(s.unbalanced(), 3) << "C's exit, and B and the first A never left";
  EXPECT_EQ(s.unrecognised(), 2);
  EXPECT_EQ(s.routines().at("A").totalMs, 0) << "a negative time adds nothing";
  EXPECT_TRUE(s.OpenRoutines().empty());
  std::ostringstream out;
  s.Print(out, true);
  EXPECT_NE(out.str().find("3 unbalanced"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace vxtrace
