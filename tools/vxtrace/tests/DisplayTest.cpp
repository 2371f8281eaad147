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
