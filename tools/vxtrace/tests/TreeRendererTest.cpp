// Tree view: what a developer sees for a traced run.
#include <gtest/gtest.h>

#include "ExampleTrace.h"

#include <sstream>

#include "TraceParser.h"
#include "TreeRenderer.h"

namespace vxtrace {
namespace {

using vxtrace_test::kExample;

std::string Render(std::initializer_list<std::string> lines, RenderStyle style = {}, unsigned long source = 0) {
  std::ostringstream out;
  TreeRenderer tree(out, style);
  for (const std::string& line : lines) tree.Add(ParseTraceLine(line), source);
  return out.str();
}

std::string RenderExample(RenderStyle style) {
  std::ostringstream out;
  TreeRenderer tree(out, style);
  for (const char* line : kExample) tree.Add(ParseTraceLine(line));
  return out.str();
}

TEST(TreeRenderer, DrawsTheExampleAsANestedTree) {
  EXPECT_EQ(RenderExample({}),
            "┌ Startup  [start]\n"
            "│ · L5  +40 ms\n"
            "│ ┌ Load\n"
            "│ │ · L120  +9 ms  [x]\n"
            "│ └ Load  16 ms\n"
            "└ Startup  250 ms  [done]\n");
  EXPECT_EQ(RenderExample({.ascii = true}),
            "/ Startup  [start]\n"
            "| . L5  +40 ms\n"
            "| / Load\n"
            "| | . L120  +9 ms  [x]\n"
            "| \\ Load  16 ms\n"
            "\\ Startup  250 ms  [done]\n");
}

TEST(TreeRenderer, PutsFreeLinesUnderTheRoutineThatIsRunning) {
  EXPECT_EQ(Render({"RBDEBUG , BEG>>> , ........ , Save , , EOL ",  // not an entry: no note field
                    "RBDEBUG , BEG>>> , ........ , Save ,  , EOL ", "RBDEBUG: writing",
                    "ERROR: App1 - Save described as: Disk full, Error Number is: 61",
                    "RBDEBUGTIMING , timestamp , t1 , 2:07:09 PM , 77", "RBDEBUG , END<<< ,        3 , Save ,  , EOL ",
                    "RBDEBUG Stack is empty", "plain text from elsewhere"},
                   {.ascii = true}),
            "RBDEBUG , BEG>>> , ........ , Save , , EOL \n"
            "/ Save\n"
            "| > writing\n"
            "| ! ERROR: App1 - Save described as: Disk full, Error Number is: 61\n"
            "| @ 2:07:09 PM  tick 77  [t1]\n"
            "\\ Save  3 ms\n"
            "! RBDEBUG Stack is empty\n"
            "plain text from elsewhere\n");
}

TEST(TreeRenderer, ShowsAHierarchyDumpAsABlock) {
  EXPECT_EQ(Render({"RBDEBUGHIERARCHY ====Begin====", "3/5/2021 2:07:09 PM", "RBDEBUGHIERARCHY Group : G1",
                    "RBDEBUGHIERARCHY   Line : L1", "RBDEBUGHIERARCHY =====End=====", "3/5/2021 2:07:10 PM"},
                   {.ascii = true}),
            "# hierarchy\n"
            "# 3/5/2021 2:07:09 PM\n"
            "# Group : G1\n"
            "#   Line : L1\n"
            "# end of hierarchy\n"
            "3/5/2021 2:07:10 PM\n");
}

TEST(TreeRenderer, ColoursOnlyWhenAsked) {
  const std::string error = "ERROR: X - described as: Y, Error Number is: 0";
  std::string plain = Render({error});
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  std::string coloured = Render({error}, {.color = true});
  EXPECT_EQ(coloured, "\x1b[1;31m! " + error + "\x1b[0m\n");
  EXPECT_EQ(RenderExample({}).find('\x1b'), std::string::npos);
  EXPECT_NE(RenderExample({.color = true}).find("\x1b[33m250 ms\x1b[0m"), std::string::npos);
}

TEST(TreeRenderer, TagsLinesOnceASecondProcessWrites) {
  std::ostringstream out;
  TreeRenderer tree(out, {.ascii = true});
  tree.Add(ParseTraceLine("RBDEBUG , BEG>>> , ........ , A ,  , EOL "), 100);
  tree.Add(ParseTraceLine("RBDEBUG , BEG>>> , ........ , B ,  , EOL "), 200);
  tree.Add(ParseTraceLine("RBDEBUG: in A"), 100);
  tree.Add(ParseTraceLine("RBDEBUG: in B"), 200);
  EXPECT_EQ(out.str(),
            "/ A\n"
            "[200] / B\n"
            "[100] | > in A\n"
            "[200] | > in B\n");
}

TEST(TreeRenderer, ShowsForeignBytesSafely) {
  // Windows-1252 text from the component, and control characters from anywhere.
  EXPECT_EQ(Render({"RBDEBUG: caf\xe9 \x80 5\xb0"}, {.ascii = true}), "> café € 5°\n");
  EXPECT_EQ(Render({"RBDEBUG: caf\xc3\xa9"}, {.ascii = true}), "> café\n");
  EXPECT_EQ(Render({"evil \x1b[2J\x07 bell"}), "evil \\x1b[2J\\x07 bell\n");
  EXPECT_EQ(Render({std::string("nul\0byte\x81", 9)}), "nul\\x00byte\\x81\n");
}

}  // namespace
}  // namespace vxtrace
