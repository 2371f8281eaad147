// The HTML page: self-contained and escaped as written, and drawn by headless
// Chromium into one frame per call, with errors marked and a screenshot that is not
// blank (kept in the build tree as vxtrace-flamechart.png).
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "DisplayText.h"
#include "HtmlReport.h"
#include "PictureModels.h"
#include "PictureTools.h"
#include "TraceParser.h"
#include "TraceSummary.h"

namespace vxtrace::testing {
namespace {

std::string Page(const CallModel& model) {
  std::ostringstream out;
  WriteHtmlReport(model, out);
  return out.str();
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Elements whose class list holds `cls`.
long long WithClass(const std::string& dom, const std::string& cls) {
  static const std::regex kClass("class=\"([^\"]*)\"");
  long long n = 0;
  for (std::sregex_iterator it(dom.begin(), dom.end(), kClass), end; it != end; ++it) {
    std::istringstream names((*it)[1].str());
    for (std::string name; names >> name;)
      if (name == cls) ++n;
  }
  return n;
}

TEST(HtmlReport, PageNeedsNothingFromElsewhereAndEscapesEveryText) {
  std::string page = Page(HostileNames());
  EXPECT_TRUE(IsValidUtf8(page));
  EXPECT_EQ(page.find("://"), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(Occurrences(page, "<script"), 2u) << "the data block and the page's own script only";
  EXPECT_EQ(Occurrences(page, "</script"), 2u);
  EXPECT_NE(page.find("<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>quote&quot;back\\slash\\x1b[31m</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>bad\uFFFD\uFFFD utf8 \uFFFD(\uFFFD\uFFFD</td>"), std::string::npos);
  EXPECT_NE(page.find("1 thread, 4 calls, 1 error line, from 0 to 50 ms"), std::string::npos);
}

TEST(HtmlReport, StatisticsTableHasARowPerRoutineInTheModelsOrder) {
  CallModel model = DraftingRun();
  std::string page = Page(model);
  size_t at = 0;
  for (const RoutineStat& r : model.routines) {
    at = page.find("<tr><td>" + r.name + "</td>", at);
    ASSERT_NE(at, std::string::npos) << r.name << " missing or out of order";
  }
  EXPECT_EQ(Occurrences(page, "<tr><td>"), model.routines.size());
  // calls, total (the recursion counted once), self, min, avg, max
  EXPECT_NE(page.find("<tr><td>CountChildren</td><td data-v=\"4\">4</td><td data-v=\"50\">50</td>"
                      "<td data-v=\"50\">50</td><td data-v=\"16\">16</td><td data-v=\"34.25\">34.2</td>"
                      "<td data-v=\"50\">50</td></tr>"),
            std::string::npos);
  EXPECT_NE(Page(CallModel{}).find("No routine calls were captured."), std::string::npos);
}

// The page's table and the text table round alike, and one call is "1 call".
TEST(HtmlReport, TheTablesAgreeWithTheTextTable) {
  TraceSummary summary(true);
  for (const char* ms : {"9", "10", "10", "10"}) {
    summary.Add(ParseTraceLine("RBDEBUG , BEG>>> , ........ , Work ,  , EOL "), ThreadKey{7, 8});
    summary.Add(ParseTraceLine(std::string("RBDEBUG , END<<< ,        ") + ms + " , Work ,  , EOL "), ThreadKey{7, 8});
  }
  std::ostringstream text;
  summary.Print(text);
  EXPECT_NE(text.str().find("Work          4         39        39        9       9.8       10\n"), std::string::npos)
      << text.str();
  const std::string page = Page(summary.Model());
  EXPECT_NE(page.find("<td data-v=\"9.75\">9.8</td>"), std::string::npos) << "the exact value sorts";
  EXPECT_EQ(page.find(">9.75<"), std::string::npos);

  TraceSummary one(true);
  one.Add(ParseTraceLine("RBDEBUG , BEG>>> , ........ , Once ,  , EOL "), ThreadKey{7, 8}, -1, "host");
  const std::string single = Page(one.Model());
  EXPECT_NE(single.find("1 thread, 1 call, 0 error lines"), std::string::npos);
  EXPECT_NE(single.find("thread 8 \xC2\xB7 1 call\""), std::string::npos);
  EXPECT_EQ(single.find("1 calls"), std::string::npos);
}

class HtmlReportInChromium : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Chromium().empty())
      GTEST_SKIP() << "chromium is not installed (Debian package chromium): the page is not drawn";
  }

  // The page's DOM once its scripts (and `script`, run after them) have run.
  std::string Dom(const CallModel& model, const std::string& script = "", const std::string& flag = "--dump-dom") {
    std::string page = Page(model);
    page.insert(page.rfind("</body>"), script);
    WriteFile(dir.File("page.html"), page);
    std::vector<std::string> argv = HeadlessChromium(dir.File("profile-dom"));
    argv.push_back(flag);
    argv.push_back("--dump-dom");
    argv.push_back("file://" + dir.File("page.html"));
    EXPECT_EQ(RunProgram(argv, dir.File("dom"), dir.File("dom.err")), 0) << ReadFile(dir.File("dom.err"));
    return ReadFile(dir.File("dom"));
  }

  TempDir dir;
};

TEST_F(HtmlReportInChromium, DrawsOneFramePerCallWithErrorsMarked) {
  CallModel model = DraftingRun();
  std::string dom = Dom(model);
  EXPECT_EQ(WithClass(dom, "frame"), Calls(model)) << dom;
  EXPECT_EQ(WithClass(dom, "crowd"), 0);
  EXPECT_EQ(WithClass(dom, "err"), ErrorCalls(model));
  EXPECT_EQ(WithClass(dom, "mark"), ErrorLines(model));
  EXPECT_EQ(WithClass(dom, "open"), 1);
  EXPECT_EQ(WithClass(dom, "track"), 3);
  EXPECT_GE(WithClass(dom, "tick"), 3) << "the time axis";
  EXPECT_NE(dom.find(">OpenDrawing<span class=\"ms\"> 104 ms</span></div>"), std::string::npos);
  EXPECT_NE(dom.find("plotter.exe \xC2\xB7 pid 5100 \xC2\xB7 thread not told"), std::string::npos);

  std::string shot = std::string(VXTRACE_PICTURES_DIR) + "/vxtrace-flamechart.png";
  std::vector<std::string> argv = HeadlessChromium(dir.File("profile-shot"));
  argv.insert(argv.end(), {"--hide-scrollbars", "--window-size=1280,900", "--screenshot=" + shot,
                           "file://" + dir.File("page.html")});
  std::remove(shot.c_str());
  ASSERT_EQ(RunProgram(argv, dir.File("shot.out"), dir.File("shot.err")), 0) << ReadFile(dir.File("shot.err"));
  if (FindProgram("python3").empty()) GTEST_SKIP() << "python3 is not installed: the screenshot is not read";
  ASSERT_EQ(RunProgram({"python3", VXTRACE_PICTURE_CHECK, "png", shot}, dir.File("png"), dir.File("png.err")), 0)
      << ReadFile(dir.File("png.err"));
  std::istringstream figures(ReadFile(dir.File("png")));
  long long width = 0, height = 0, colours = 0, red = 0;
  double commonest = 1;
  figures >> width >> height >> colours >> commonest >> red;
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 900);
  EXPECT_GT(colours, 20) << "a blank page has one or two colours";
  EXPECT_LT(commonest, 0.9);
  EXPECT_GT(red, 200) << "the error frames and marks are drawn red";
}

TEST_F(HtmlReportInChromium, HoverTellsTheCallAndTheControlsWork) {
  CallModel model = DraftingRun();
  std::string dom =
      Dom(model,
          "<script>var f = document.querySelector('.frame.err'), r = f.getBoundingClientRect();"
          "f.dispatchEvent(new MouseEvent('mousemove', {bubbles: true, clientX: r.left + 2, clientY: r.top + 2}));"
          "document.getElementById('zin').click();"
          "document.querySelectorAll('#stats th')[1].click();</script>",
          "--virtual-time-budget=3000");
  EXPECT_NE(dom.find(">ParseEntity\nnote: arc 7\n22 ms, from 36 to 58 ms, depth 3\n"
                     "An error line arrived during this call.</div>"),
            std::string::npos)
      << dom;
  EXPECT_NE(dom.find("45.5 \u2013 136.5 ms"), std::string::npos) << "zoomed in twice around the middle";
  EXPECT_LT(WithClass(dom, "frame"), Calls(model)) << "calls out of view are not drawn";
  size_t body = dom.find("<tbody>");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(dom.find("<tr><td>", body), dom.find("<tr><td>CountChildren</td>", body)) << "sorted by calls";
}

TEST_F(HtmlReportInChromium, NamesAreShownAsTextNeverAsMarkup) {
  std::string dom = Dom(HostileNames());
  EXPECT_EQ(Occurrences(dom, "<script"), 2u) << dom;
  EXPECT_EQ(dom.find("<img"), std::string::npos);
  EXPECT_EQ(dom.find("<b>"), std::string::npos);
  EXPECT_EQ(WithClass(dom, "frame"), 4);
  EXPECT_NE(dom.find(">&lt;script&gt;alert(1)&lt;/script&gt;<span"), std::string::npos);
  EXPECT_NE(dom.find(">quote\"back\\slash\\x1b[31m<"), std::string::npos) << "control characters shown";
  EXPECT_NE(dom.find("evil&lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;\"\\.exe"), std::string::npos);
}

TEST_F(HtmlReportInChromium, CallsNarrowerThanAPixelAreGatheredInABigTrace) {
  const int calls = 30000;
  std::string dom = Dom(ManyTinyCalls(calls));
  long long frames = WithClass(dom, "frame"), gathered = 0;
  static const std::regex kCount("data-n=\"([0-9]+)\"");
  for (std::sregex_iterator it(dom.begin(), dom.end(), kCount), end; it != end; ++it) gathered += std::stoll((*it)[1]);
  EXPECT_LT(frames, 100) << "the page holds few elements";
  EXPECT_GT(WithClass(dom, "crowd"), 0);
  EXPECT_EQ(frames + gathered, calls + 1) << "every call is drawn or counted in a crowd";
}

}  // namespace
}  // namespace vxtrace::testing
