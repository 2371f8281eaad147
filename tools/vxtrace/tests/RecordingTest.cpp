// Recordings: a message goes out as one JSON line and comes back byte for byte.
#include <gtest/gtest.h>

#include "Recording.h"

namespace vxtrace {
namespace {

Message RoundTrip(const Message& m) {
  const std::string line = ToJsonLine(m);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line per message: " << line;
  Message back;
  EXPECT_TRUE(FromJsonLine(line, back)) << line;
  return back;
}

TEST(Recording, KeepsEveryFieldAndTheBytesOfTheText) {
  static const char kControls[] = "nul\0 esc\x1b[31m del\x7f c1\xc2\x9b";
  Message m;
  m.time = 1765152267.123456;
  m.pid = 4242;
  m.tid = 4243;
  m.process = "host \"one\"";
  for (std::string text : {std::string("RBDEBUG: matrix\r\n| 1 , 0 |\r\n\n"),  // several lines stay one message
                           std::string("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 tab\there"),  // UTF-8
                           std::string("caf\xe9 \x80 \x81 \x9b \x8d\x8f\x90\x9d"),  // Windows-1252, undefined bytes
                           std::string(kControls, sizeof kControls - 1), std::string()}) {
    m.text = text;
    Message back = RoundTrip(m);
    EXPECT_EQ(back.text, text);
    EXPECT_DOUBLE_EQ(back.time, m.time);
    EXPECT_EQ(back.pid, 4242u);
    EXPECT_EQ(back.tid, 4243u);
    EXPECT_EQ(back.process, "host \"one\"");
  }
}

TEST(Recording, IsSafeToShowAndPlainJson) {
  Message m;
  m.text =
      "\x1b[2J\xc2\x9b"
      "1m\n";
  const std::string line = ToJsonLine(m);
  EXPECT_EQ(line, "{\"time\":0.000000,\"pid\":0,\"tid\":0,\"process\":\"\",\"text\":\"\\u001b[2J\\u009b1m\\n\"}\n");
}

TEST(Recording, AnythingElseIsNotARecordingLine) {
  Message m;
  m.text = "kept";
  for (const char* line :
       {"", "RBDEBUG: {\"text\":\"x\"}", "{\"text\":\"open", "{\"text\":\"x\"} trailing", "{\"pid\":1}",
        "{\"text\":\"\\uZZZZ\"}", "{\"text\":\"\\ud800\\u0041\"}", "{\"text\":\"\\u4e00\",\"cp\":1252}", "{\"text\":1}",
        "{\"pid\":1e30,\"text\":\"\"}", "{\"time\":1e999,\"text\":\"\"}", "{\"pid\":-1,\"text\":\"\"}"}) {
    EXPECT_FALSE(FromJsonLine(line, m)) << line;
    EXPECT_EQ(m.text, "kept") << "untouched on failure";
  }
  // Lines of other tools that happen to be JSON with a text are read, line end or not.
  ASSERT_TRUE(FromJsonLine("{ \"text\" : \"a\\/b\", \"other\": 3, \"level\": \"info\" }\r\n", m));
  EXPECT_EQ(m.text, "a/b");
  EXPECT_EQ(m.pid, 0u);
}

}  // namespace
}  // namespace vxtrace
