// Messages as the channel delivers them: one per call, sometimes several lines long.
#include <gtest/gtest.h>

#include <sstream>

#include "Display.h"

namespace vxtrace {
namespace {

TEST(Display, DrawsTheLinesOfOneMessageUnderItsFirst) {
  Options o;
  o.ascii = true;
  std::ostringstream out;
  Display d(out, o, false);
  d.Message("RBDEBUG , BEG>>> , ........ , Place ,  , EOL \n", 0);
  // A matrix dump logged in one call: CR LF inside, the channel's LF at the end.
  d.Message("RBDEBUG: placement\r\n| 1 , 0 |\r\n| 0 , 1 |\r\n\n", 0);
  d.Message("\n", 0);  // an empty trace line stays one
  EXPECT_EQ(out.str(),
            "/ Place\n"
            "| > placement\n"
            "|   | 1 , 0 |\n"
            "|   | 0 , 1 |\n"
            "| \n");
}

TEST(Display, SummaryAloneShowsOnlyTheSummary) {
  Options o;
  o.summary = true;
  o.view = LineView::None;
  std::ostringstream out;
  Display d(out, o, false);
  d.Message("RBDEBUG , END<<< ,        5 , A ,  , EOL \n", 0);
  d.Message("RBDEBUG: two\nlines\n", 0);
  EXPECT_EQ(out.str(), "");
  d.Finish(false);
  EXPECT_EQ(out.str(),
            "routine   calls   total ms   self ms   min ms    avg ms   max ms\n"
            "A             1          5         5        5       5.0        5\n"
            "2 lines, 0 errors, 0 warnings, 0 unrecognised, 1 unbalanced\n");
}

}  // namespace
}  // namespace vxtrace

namespace vxtrace {
namespace {

std::string Shown(Options o, const std::vector<Message>& messages) {
  o.ascii = true;
  std::ostringstream out;
  Display d(out, o, false);
  for (const Message& m : messages) d.Show(m);
  return out.str();
}

Message From(unsigned long pid, const std::string& process, const std::string& text) {
  Message m;
  m.pid = pid;
  m.process = process;
  m.text = text + "\n";
  return m;
}

TEST(Display, FiltersOnTextProcessAndErrors) {
  const std::vector<Message> run = {
      From(1, "app", "RBDEBUG , BEG>>> , ........ , Main ,  , EOL "),
      From(1, "app", "RBDEBUG , BEG>>> , ........ , ..Save ,  , EOL "),
      From(1, "app", "RBDEBUG: writing"),
      From(2, "other", "RBDEBUG: elsewhere"),
      From(1, "app", "ERROR: App - Save described as: Disk full, Error Number is: 61"),
      From(1, "app", "RBDEBUG , END<<< ,        3 , ..Save ,  , EOL "),
      From(1, "app", "RBDEBUG , END<<< ,        9 , Main ,  , EOL "),
  };
  Options o;
  o.include = {"Save"};
  EXPECT_EQ(Shown(o, run),
            "| / Save\n| | ! ERROR: App - Save described as: Disk full, Error Number is: 61\n| \\ Save  3 ms\n");
  o = {};
  o.exclude = {"^RBDEBUG , "};
  EXPECT_EQ(Shown(o, run),
            "> writing\n[2] > elsewhere\n[1] ! ERROR: App - Save described as: Disk full, Error Number is: 61\n");
  o = {};
  o.processes = {"other"};
  EXPECT_EQ(Shown(o, run), "> elsewhere\n");
  o = {};
  o.pids = {2};
  o.summary = true;
  o.view = LineView::None;
  std::ostringstream out;
  Display d(out, o, false);
  for (const Message& m : run) d.Show(m);
  d.Finish(false);
  EXPECT_EQ(out.str(), "1 line, 0 errors, 0 warnings, 0 unrecognised, 0 unbalanced\n")
      << "filtered from the statistics";
  o = {};
  o.errorsOnly = true;
  EXPECT_EQ(Shown(o, run), "/ Main\n| / Save\n| | ! ERROR: App - Save described as: Disk full, Error Number is: 61\n");
  o = {};
  o.highlight = {"Disk"};
  o.pids = {1};
  const std::string marked = Shown(o, run);
  EXPECT_NE(marked.find("\n* | | ! ERROR"), std::string::npos) << marked;
  EXPECT_EQ(std::count(marked.begin(), marked.end(), '*'), 1) << marked;
}

TEST(Display, TerminalControlsNeverReachTheTerminal) {
  // U+009B is a CSI to many terminals; as Windows-1252, 0x9B is a harmless quote.
  Options o;
  o.view = LineView::Raw;
  EXPECT_EQ(Shown(o, {From(0, "",
                           "RBDEBUG: \xc2\x9b"
                           "2J \x1b[31m \xc2\x85 ok \xc3\xa9"),
                      From(0, "",
                           "RBDEBUG: \x9b"
                           "2J \x81")}),
            "RBDEBUG: \\u009b2J \\x1b[31m \\u0085 ok \xc3\xa9\n"
            "RBDEBUG: \xe2\x80\xba"
            "2J \\x81\n");
}

TEST(Display, DeepNestingGrowsTheOutputOnlyLinearly) {
  // 71 KB of dots: a routine 35,000 levels down.
  const std::string deep = "RBDEBUG , BEG>>> , ........ , " + std::string(70000, '.') + "Deep ,  , EOL ";
  std::string input;
  std::vector<Message> run;
  for (int i = 0; i < 20; ++i) run.push_back(From(0, "", deep));
  run.push_back(From(0, "", "RBDEBUGHIERARCHY " + std::string(70000, ' ') + "Group : G"));
  Options o;
  const std::string out = Shown(o, run);
  EXPECT_LT(out.size(), 20u * 200u) << "depth is capped, not drawn";
  EXPECT_NE(out.find("[35000] / Deep\n"), std::string::npos) << out.substr(0, 300);
  EXPECT_NE(out.find("[35000] Group : G"), std::string::npos);
}

// A capture holds the view and writes it a batch at a time: the bytes must be the ones a
// line-by-line view writes, in every view, and nothing may come out before the flush.
TEST(Display, HeldOutputIsTheLineByLineOutputWrittenLater) {
  std::vector<Message> run = {
      From(1, "app", "RBDEBUG , BEG>>> , ........ , Main , n\xe9 , EOL "),
      From(2, "app", "RBDEBUG: two\r\nlines \x1b[31m\r\n"),
      From(1, "app", "RBDEBUG: tail\r\r"),
      From(1, "app", "ERROR: App - x described as: y, Error Number is: 1"),
      From(1, "app", "\xc2\x9b ends with CR\r\r\n"),
      From(2, "app", "RBDEBUG , END<<< ,        9 , Main ,  , EOL "),
  };
  for (Message& m : run) m.time = 1765152267.5;
  for (const LineView view : {LineView::Tree, LineView::Raw}) {
    for (const bool decorated : {false, true}) {
      Options o;
      o.view = view;
      o.tagSources = o.times = decorated;
      const std::string expected = Shown(o, run);
      o.ascii = true;
      std::ostringstream out;
      Display d(out, o, false);
      d.HoldOutput(true);
      for (const Message& m : run) d.Show(m);
      EXPECT_EQ(out.str(), "");
      d.Flush();
      EXPECT_EQ(out.str(), expected);
      // The raw view alone skips the records and statistics; asking for them changes no byte.
      o.summary = true;
      EXPECT_EQ(Shown(o, run), expected);
    }
  }
}

}  // namespace
}  // namespace vxtrace
