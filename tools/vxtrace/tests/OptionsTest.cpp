// Command line: the combinations a script relies on.
#include <gtest/gtest.h>

#include "Options.h"

namespace vxtrace {
namespace {

bool Parse(std::vector<std::string> args, Options& o, std::string& error) {
  o = Options{};
  return ParseOptions(args, o, error);
}

TEST(Options, SummaryAloneShowsNoLines) {
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--summary"}, o, error));
  EXPECT_EQ(o.view, LineView::None);
  ASSERT_TRUE(Parse({"--summary", "--raw"}, o, error));
  EXPECT_EQ(o.view, LineView::Raw);
  ASSERT_TRUE(Parse({}, o, error));
  EXPECT_EQ(o.view, LineView::Tree);
  EXPECT_FALSE(o.summary);
}

TEST(Options, TakesValuesEitherWay) {
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--count=3", "--timeout", "0.5", "--socket", "/x/s", "--out=f"}, o, error));
  EXPECT_EQ(o.count, 3);
  EXPECT_DOUBLE_EQ(o.timeoutSeconds, 0.5);
  EXPECT_EQ(o.socketPath, "/x/s");
  EXPECT_EQ(o.outFile, "f");
  ASSERT_TRUE(Parse({"--read", "-"}, o, error));
  EXPECT_EQ(o.readFile, "-");
}

TEST(Options, RejectsWhatCannotWork) {
  Options o;
  std::string error;
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{{"--count"},
                                                                            {"--count", "0"},
                                                                            {"--count", "3x"},
                                                                            {"--count", "-1"},
                                                                            {"--timeout", "soon"},
                                                                            {"--timeout", "0"},
                                                                            {"--timeout", "nan"},
                                                                            {"--raw", "--tree"},
                                                                            {"--read", "f", "--socket", "s"},
                                                                            {"--color", "blue"},
                                                                            {"--summary=yes"},
                                                                            {"--bogus"}}) {
    EXPECT_FALSE(Parse(bad, o, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vxtrace

#include <fstream>
#include <sstream>

namespace vxtrace {
namespace {

TEST(Options, EveryOptionIsDocumentedInTheHelpAndTheManPage) {
  std::ifstream page(MAN_PAGE);
  std::stringstream man;
  man << page.rdbuf();
  // roff spells a dash in an option name as "\-".
  auto roff = [](std::string name) {
    std::string out;
    for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
  };
  for (const char* name :
       {"--tree",   "--raw",      "--summary", "--by-thread", "--time",      "--pids",    "--ascii",
        "--color",  "--include",  "--exclude", "--errors",    "--highlight", "--pid",     "--process",
        "--socket", "--any-user", "--no-ring", "--fast",      "--count",     "--timeout", "--out",
        "--read",   "--follow",   "--chrome",  "--html",      "--help",      "--version"}) {
    EXPECT_NE(std::string(kUsage).find(std::string("  ") + name), std::string::npos) << name;
    EXPECT_NE(man.str().find(roff(name)), std::string::npos) << name;
    Options o;
    std::string error;
    std::vector<std::string> args{name};
    if (std::string(name) == "--follow") args = {"--read", "-", name};
    ParseOptions(args, o, error);
    EXPECT_EQ(error.find("unknown option"), std::string::npos) << name;
  }
}

TEST(Options, FiltersCollectAndRegexesAreChecked) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--include", "a", "--include=b", "--pid", "7", "--process", "host", "--errors"}, o, error));
  EXPECT_EQ(o.include, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(o.pids, (std::vector<unsigned long>{7}));
  EXPECT_EQ(o.processes, (std::vector<std::string>{"host"}));
  EXPECT_TRUE(o.errorsOnly);
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{{"--include", "("},
                                                                            {"--highlight", "[z-a]"},
                                                                            {"--pid", "x"},
                                                                            {"--pid", "0"},
                                                                            {"--follow"},
                                                                            {"--fast", "--no-ring"}}) {
    Options fresh;
    EXPECT_FALSE(ParseOptions(bad, fresh, error)) << bad[0];
  }
}

}  // namespace
}  // namespace vxtrace

namespace vxtrace {
namespace {

TEST(Options, ByThreadBringsTheSummaryWithIt) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--by-thread"}, o, error));
  EXPECT_TRUE(o.summary);
  EXPECT_EQ(o.view, LineView::None);
  Options tree;
  ASSERT_TRUE(ParseOptions({"--by-thread", "--tree"}, tree, error));
  EXPECT_TRUE(tree.summary);
  EXPECT_EQ(tree.view, LineView::Tree);
  EXPECT_EQ(std::string(kUsage).find("instead of for the whole run"), std::string::npos);
}

TEST(Options, TheManPageNamesItsEnvironmentAndFiles) {
  std::ifstream page(MAN_PAGE);
  std::stringstream man;
  man << page.rdbuf();
  const std::string text = man.str();
  const size_t environment = text.find("\n.SH ENVIRONMENT\n"), files = text.find("\n.SH FILES\n");
  ASSERT_NE(environment, std::string::npos);
  ASSERT_NE(files, std::string::npos);
  const std::string envSection = text.substr(environment, files - environment);
  for (const char* variable : {"VX380_DEBUG_SOCKET", "XDG_RUNTIME_DIR", "TMPDIR"})
    EXPECT_NE(envSection.find(std::string("\n.B ") + variable + "\n"), std::string::npos) << variable;
  const std::string filesSection = text.substr(files, text.find("\n.SH ", files + 1) - files);
  for (const char* file : {"vx380\\-debug.sock", ".ring", "vx380\\-trace.ring", "$TMPDIR", "/vx380\\-"})
    EXPECT_NE(filesSection.find(file), std::string::npos) << file;
}

}  // namespace
}  // namespace vxtrace
