// Parser: the component's line shapes as it writes them, and input it never wrote.
#include <gtest/gtest.h>

#include <random>

#include "TraceParser.h"

namespace vxtrace {
namespace {

TEST(TraceParser, ReadsTheNestedRoutineExample) {
  struct Expected {
    const char* line;
    RecordKind kind;
    int depth;
    const char* name;
    const char* note;
    long long ms;
    long long lineNumber;
  };
  const Expected cases[] = {
      {"RBDEBUG , BEG>>> , ........ , Startup , start , EOL \n", RecordKind::Entry, 0, "Startup", "start", 0, 0},
      {"RBDEBUG , L(5)   ,       40 ,   Startup ", RecordKind::LineMarker, 1, "Startup", "", 40, 5},
      {"RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ", RecordKind::Entry, 1, "Load", "", 0, 0},
      {"RBDEBUG , L(120) ,        9 ,     Load x", RecordKind::LineMarker, 2, "Load", "x", 9, 120},
      {"RBDEBUG , END<<< ,       16 , ..Load ,  , EOL ", RecordKind::Exit, 1, "Load", "", 16, 0},
      {"RBDEBUG , END<<< ,      250 , Startup , done , EOL \r\n", RecordKind::Exit, 0, "Startup", "done", 250, 0},
  };
  for (const Expected& e : cases) {
    const TraceRecord r = ParseTraceLine(e.line);
    EXPECT_EQ(r.kind, e.kind) << e.line;
    EXPECT_EQ(r.depth, e.depth) << e.line;
    EXPECT_EQ(r.name, e.name) << e.line;
    EXPECT_EQ(r.note, e.note) << e.line;
    EXPECT_EQ(r.ms, e.ms) << e.line;
    EXPECT_EQ(r.lineNumber, e.lineNumber) << e.line;
  }
  EXPECT_EQ(ParseTraceLine(cases[0].line).text, "RBDEBUG , BEG>>> , ........ , Startup , start , EOL ");
}

TEST(TraceParser, ReadsFieldsWiderThanTheirColumns) {
  TraceRecord r = ParseTraceLine("RBDEBUG , END<<< , 123456789 , ....Deep , a , b , EOL ");
  EXPECT_EQ(r.kind, RecordKind::Exit);
  EXPECT_EQ(r.ms, 123456789);
  EXPECT_EQ(r.depth, 2);
  EXPECT_EQ(r.note, "a , b");  // a note may hold the separator itself

  r = ParseTraceLine("RBDEBUG , END<<< ,       -5 , A ,  , EOL");  // trailing blank lost
  EXPECT_EQ(r.kind, RecordKind::Exit);
  EXPECT_EQ(r.ms, -5);

  r = ParseTraceLine("RBDEBUG , L(123456) ,    70000 ,       Inner two words");
  EXPECT_EQ(r.kind, RecordKind::LineMarker);
  EXPECT_EQ(r.lineNumber, 123456);
  EXPECT_EQ(r.depth, 3);
  EXPECT_EQ(r.name, "Inner");
  EXPECT_EQ(r.note, "two words");
}

TEST(TraceParser, ReadsTheOtherComponentLines) {
  EXPECT_EQ(ParseTraceLine("RBDEBUG Stack is empty").kind, RecordKind::StackEmpty);
  EXPECT_EQ(ParseTraceLine("RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE").kind,
            RecordKind::LineWithoutEntry);

  TraceRecord r = ParseTraceLine("RBDEBUG: ");
  EXPECT_EQ(r.kind, RecordKind::Log);
  EXPECT_EQ(r.note, "");
  r = ParseTraceLine("RBDEBUG: loaded 3 files , fine");
  EXPECT_EQ(r.kind, RecordKind::Log);
  EXPECT_EQ(r.note, "loaded 3 files , fine");

  r = ParseTraceLine("RBDEBUGTIMING , timestamp , after load , 2:07:09 PM , -1294967");
  EXPECT_EQ(r.kind, RecordKind::Timing);
  EXPECT_EQ(r.note, "after load");
  EXPECT_EQ(r.timeOfDay, "2:07:09 PM");
  EXPECT_EQ(r.ms, -1294967);
  r = ParseTraceLine("RBDEBUGTIMING , timestamp ,  , 14:07:09 , 5");
  EXPECT_EQ(r.kind, RecordKind::Timing);
  EXPECT_EQ(r.note, "");
  EXPECT_EQ(r.timeOfDay, "14:07:09");

  EXPECT_EQ(ParseTraceLine("RBDEBUGHIERARCHY ====Begin====").kind, RecordKind::HierarchyBegin);
  EXPECT_EQ(ParseTraceLine("RBDEBUGHIERARCHY =====End=====").kind, RecordKind::HierarchyEnd);
  r = ParseTraceLine("RBDEBUGHIERARCHY     Line : L 1 : 2");
  EXPECT_EQ(r.kind, RecordKind::HierarchyObject);
  EXPECT_EQ(r.depth, 2);
  EXPECT_EQ(r.name, "Line");
  EXPECT_EQ(r.note, "L 1 : 2");

  r = ParseTraceLine("ERROR: App1 - SaveFile described as: Disk full, Error Number is: 61");
  EXPECT_EQ(r.kind, RecordKind::Error);
  EXPECT_EQ(r.note, "App1 - SaveFile described as: Disk full, Error Number is: 61");
}

TEST(TraceParser, KeepsLinesThatOnlyLookLikeTraceLinesVerbatim) {
  const char* odd[] = {
      "",
      "RBDEBUG",
      "RBDEBUG , BEG>>> , ........ , Startup",                     // cut before its note
      "RBDEBUG , BEG>>> , ........ , Startup , EOL ",              // no note field at all
      "RBDEBUG , END<<< , abc , Startup ,  , EOL ",                // time is not a number
      "RBDEBUG , END<<< , 99999999999999999999999 , A ,  , EOL ",  // out of range
      "RBDEBUG , END<<< ,  , A ,  , EOL ",
      "RBDEBUG , L(x)   ,       40 ,   Startup ",
      "RBDEBUG , L(5 ,       40 ,   Startup ",
      "RBDEBUG , L(5)   ,       4a0 ,   Startup ",
      "RBDEBUG , L(5)   ;       40 ,   Startup ",
      "RBDEBUGTIMING , timestamp , note only",
      "RBDEBUGTIMING , timestamp , a , b , not-a-tick",
      "RBDEBUGHIERARCHY no separator here",
      "rbdebug: lower case is someone else's",
      "error: lower case too",
  };
  for (const char* line : odd) {
    TraceRecord r = ParseTraceLine(line);
    EXPECT_EQ(r.kind, RecordKind::Other) << line;
    EXPECT_EQ(r.text, line);
    EXPECT_TRUE(r.name.empty() && r.note.empty()) << line;
  }
}

TEST(TraceParser, SurvivesTruncatedAndRandomInput) {
  const std::string lines[] = {
      "RBDEBUG , BEG>>> , ........ , ....Startup , start , EOL ",
      "RBDEBUG , END<<< ,      250 , Startup , done , EOL ",
      "RBDEBUG , L(120) ,        9 ,     Load x",
      "RBDEBUGTIMING , timestamp , n , 2:07:09 PM , 123",
      "RBDEBUGHIERARCHY   Group : G",
  };
  for (const std::string& line : lines) {
    for (size_t cut = 0; cut <= line.size(); ++cut) {
      TraceRecord r = ParseTraceLine(std::string_view(line).substr(0, cut));
      EXPECT_EQ(r.text, line.substr(0, cut));
    }
  }
  std::mt19937 rng(380);
  const std::string alphabet = "RBDEG<>L(), .:=0123456789-\r\n\t\xff\x80";
  for (int i = 0; i < 20000; ++i) {
    std::string s = lines[i % 5];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !s.empty(); ++e) s[rng() % s.size()] = alphabet[rng() % alphabet.size()];
    TraceRecord r = ParseTraceLine(s);
    if (r.kind == RecordKind::Other) {
      EXPECT_TRUE(r.name.empty());
    }
  }
}

}  // namespace
}  // namespace vxtrace
