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
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--count"}, {"--count", "0"}, {"--count", "3x"}, {"--count", "-1"},
           {"--timeout", "soon"}, {"--timeout", "0"}, {"--timeout", "nan"},
           {"--raw", "--tree"}, {"--read", "f", "--socket", "s"}, {"--color", "blue"},
           {"--summary=yes"}, {"--bogus"}}) {
    EXPECT_FALSE(Parse(bad, o, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vxtrace
