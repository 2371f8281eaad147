// The POSIX platform's ANSI code page, Windows-1252.
#include <gtest/gtest.h>

#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

TEST(Ansi1252, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  Platform& platform = SystemPlatform();
  const String text = platform.FromAnsi(all);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(platform.ToAnsi(text), all);
  EXPECT_EQ(text[0x80], u'\u20AC');
  EXPECT_EQ(text[0x8C], u'\u0152');
  EXPECT_EQ(text[0x99], u'\u2122');
  EXPECT_EQ(text[0x9F], u'\u0178');
  EXPECT_EQ(text[0x81], u'\u0081');  // undefined in the page, kept as the control of that value
  EXPECT_EQ(text[0xE9], u'\u00E9');
}

TEST(Ansi1252, CharactersOutsideThePageBecomeQuestionMarks) {
  Platform& platform = SystemPlatform();
  EXPECT_EQ(platform.ToAnsi(u"caf\u00E9 \u201Cquoted\u201D \u2013 \u20AC5"),
            "caf\xE9 \x93quoted\x94 \x96 \x80"
            "5");
  EXPECT_EQ(platform.ToAnsi(u"\u0100\u4E2D\u0080"), "???");
  EXPECT_EQ(platform.ToAnsi(u"a\U0001F600b"), "a?b") << "a surrogate pair is one character";
  EXPECT_EQ(platform.ToAnsi(String(u"\xD800x\xDC00", 3)), "?x?");
  EXPECT_EQ(platform.ToAnsi(String(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(platform.ToAnsi(u""), "");
}

}  // namespace
}  // namespace vx380::testing
