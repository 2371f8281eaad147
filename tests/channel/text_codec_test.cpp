// The channel's text encodings, shared by the library and the capture tool: what counts as
// UTF-8 (the tool shows such a line as it is), and Windows-1252 both ways.
#include <gtest/gtest.h>

#include <string>

#include "channel/TextCodec.h"
#include "core/KeptExports.h"
#include "vx380/Automation.h"

namespace vx380::channel {
namespace {

TEST(TextCodec, Utf8ValidityAgreesWithTheLibrarysStrictDecoder) {
  const std::string cases[] = {
      "",
      "plain",
      "caf\xC3\xA9",
      "\xE2\x82\xAC",
      "\xF0\x9F\x98\x80",
      "\xF4\x8F\xBF\xBF",
      "\xC0\xAF",          // overlong "/"
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xF0\x80\x80\xAF",  // overlong, four bytes
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
      "\xC3",              // cut short
      "ab\xE2\x82",        // cut short at the end
      "\x80",
      "\xFF",
      "caf\xE9",  // Windows-1252, not UTF-8
  };
  for (const std::string& bytes : cases)
    EXPECT_EQ(IsValidUtf8(bytes), FromUtf8Strict(bytes).has_value()) << "bytes: " << bytes;
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("caf\xE9"));
}

TEST(TextCodec, Utf8EncodesEveryLengthAndRoundTrips) {
  std::string out;
  for (char32_t c : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'}) AppendUtf8(out, c);
  EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(ToUtf8(FromUtf8(out)), out);
}

TEST(TextCodec, Windows1252MapsBothWaysAndMarksItsUndefinedBytes) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    EXPECT_EQ(UnicodeToWindows1252(Windows1252ToUnicode(byte)), b == 0 ? 0 : b) << b;
  }
  EXPECT_EQ(Windows1252ToUnicode(0x80), u'\u20AC');
  EXPECT_EQ(UnicodeToWindows1252(u'\u2122'), 0x99);
  EXPECT_EQ(UnicodeToWindows1252(u'\u0100'), 0);
  EXPECT_EQ(UnicodeToWindows1252(u'\u0080'), 0) << "0x80 is the euro sign, not U+0080";
  int undefined = 0;
  for (int b = 0; b < 256; ++b) undefined += IsWindows1252Undefined(static_cast<unsigned char>(b));
  EXPECT_EQ(undefined, 5);
  EXPECT_TRUE(IsWindows1252Undefined(0x9D));
  EXPECT_FALSE(IsWindows1252Undefined(0x9C));
}

}  // namespace
}  // namespace vx380::channel
