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
  Feed(s, {"RBDEBUG , BEG>>> , ........ , Startup , start , EOL ",
           "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL ",
           "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,       40 , ..Load ,  , EOL ",
           "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,        4 , ..Load ,  , EOL ",
           "RBDEBUG , END<<< ,      250 , Startup , done , EOL "});
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
  Feed(s, {"RBDEBUG , END<<< ,        7 , ..Child ,  , EOL ",
           "RBDEBUG , END<<< ,       90 , Outer ,  , EOL ",
           "RBDEBUG , BEG>>> , ........ , Outer ,  , EOL ",
           "RBDEBUG , BEG>>> , ........ , ..Inner ,  , EOL ",
           "RBDEBUG , L(5)   ,        1 ,     Inner ",
           "ERROR: App - described as: boom, Error Number is: 5",
           "RBDEBUG Stack is empty",
           "who knows"});
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
