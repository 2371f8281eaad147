// Windows-1252 conversion copies runs of ASCII straight: the units around a run's end must
// still convert one by one, wherever the first non-ASCII unit falls.
#include <gtest/gtest.h>

#include "platform/posix/Ansi1252.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

TEST(Ansi1252Runs, NonAsciiAtEveryPositionOfALine) {
  Platform& platform = SystemPlatform();
  for (size_t at = 0; at < 40; ++at) {
    for (const auto& [unit, byte] :
         {std::pair<char16_t, char>{0x7F, '\x7F'}, {0x80, '?'}, {0x20AC, '\x80'}, {0x00E9, '\xE9'}, {0xD800, '?'}}) {
      String text(40, u'a');
      text[at] = unit;
      std::string expected(40, 'a');
      expected[at] = byte;
      EXPECT_EQ(platform.ToAnsi(text), expected) << "unit " << int(unit) << " at " << at;
    }
    // A surrogate pair right at the end of the run is one "?".
    String pair = String(at, u'b') + u"\U0001F600" + u"c";
    EXPECT_EQ(platform.ToAnsi(pair), std::string(at, 'b') + "?c");
  }
}

TEST(Ansi1252Runs, AppendKeepsWhatTheBufferHeld) {
  std::string out = "head:";
  posix::AppendAnsi1252(u"x\u00E9y", out);
  posix::AppendAnsi1252(u"", out);
  posix::AppendAnsi1252(u"\u4E2Dz", out);
  EXPECT_EQ(out, "head:x\xE9y?z");
}

}  // namespace
}  // namespace vx380::testing
