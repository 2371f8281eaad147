// Debug lines take a direct byte path when their text is plain ASCII; every line must come out
// exactly as the converted path makes it, whichever path it takes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

// A log whose DebugTrace is its own override: entry and exit lines then take the converted path.
class ConvertedLog : public ErrorLog {
 public:
  explicit ConvertedLog(testing::FakePlatform& fake) : fake_(fake) {}
  void DebugTrace(String line) override { fake_.debugLines.push_back(fake_.ToAnsi(line) + "\n"); }

 private:
  testing::FakePlatform& fake_;
};

class DebugLineBytes : public testing::CoreTest {
 protected:
  // The lines of one entry and exit made with `log`, the exit `elapsed` ms after the entry.
  std::vector<std::string> PairLines(ErrorLog& log, const String& name, const String& note, Long entryTick,
                                     Long exitTick) {
    fake.debugLines.clear();
    fake.tick = entryTick;
    log.RBDEBUGENTER(u"Outer");
    log.RBDEBUGENTER(name, note);
    fake.tick = exitTick;
    log.RBDEBUGEXIT(note);
    log.RBDEBUGEXIT();
    return fake.debugLines;
  }
};

TEST_F(DebugLineBytes, EntryAndExitLinesMatchTheConvertedPath) {
  const String nul(u"a\0b", 3);
  const String names[] = {u"Plain", u"", nul, u"Caf\u00E9", u"\u4E2D", u"x\U0001F600", String(300, u'N')};
  const Long ticks[][2] = {{0, 0}, {1000, 1250}, {0, 99999999}, {0, 123456789}, {5, 4}, {0, -2147483647 - 1}};
  for (const String& name : names) {
    for (const auto& t : ticks) {
      ErrorLog direct;
      ConvertedLog converted(fake);
      const auto expected = PairLines(converted, name, u"note " + name, t[0], t[1]);
      EXPECT_EQ(PairLines(direct, name, u"note " + name, t[0], t[1]), expected) << "ticks " << t[0] << " to " << t[1];
    }
  }
  // The lines themselves, for the widths that matter.
  ErrorLog log;
  EXPECT_EQ(PairLines(log, u"R", u"", 0, 123456789)[2], "RBDEBUG , END<<< , 123456789 , ..R ,  , EOL \n");
  EXPECT_EQ(PairLines(log, u"R", u"", 5, 4)[2], "RBDEBUG , END<<< ,       -1 , ..R ,  , EOL \n");
  EXPECT_EQ(PairLines(log, u"R", u"", 0, -2147483647 - 1)[2], "RBDEBUG , END<<< , -2147483648 , ..R ,  , EOL \n");
}

TEST_F(DebugLineBytes, DebugTraceOfAsciiAndOtherText) {
  ErrorLog log;
  log.DebugTrace(String(u"tab\tnul\0end\x7F", 12));
  log.DebugTrace(u"caf\u00E9");
  log.DebugTrace(u"");
  log.DebugTrace(String(1000, u'x') + u"\u0100");
  EXPECT_EQ(fake.debugLines, (std::vector<std::string>{std::string("tab\tnul\0end\x7F\n", 13), "caf\xE9\n", "\n",
                                                       std::string(1000, 'x') + "?\n"}));
}

// A literal goes out as the same line as its String, read up to its first NUL; a class that
// overrides DebugTrace(String) still receives it, called through the base class.
TEST_F(DebugLineBytes, ALiteralIsTheSameLineAndReachesAnOverride) {
  ErrorLog log;
  log.DebugTrace(u"plain");
  log.DebugTrace(String(u"plain"));
  log.DebugTrace(u"caf\u00E9");
  log.DebugTrace(nullptr);
  log.DebugTrace(u"cut\0here");
  EXPECT_EQ(fake.debugLines, (std::vector<std::string>{"plain\n", "plain\n", "caf\xE9\n", "\n", "cut\n"}));

  struct RecordingLog : ErrorLog {
    using ErrorLog::DebugTrace;
    void DebugTrace(String line) override { got.push_back(line); }
    std::vector<String> got;
  } recording;
  fake.debugLines.clear();
  ErrorLog& base = recording;
  base.DebugTrace(u"to the override");
  base.DebugTrace(nullptr);
  recording.DebugTrace(u"caf\u00E9");
  EXPECT_EQ(recording.got, (std::vector<String>{u"to the override", u"", u"caf\u00E9"}));
  EXPECT_TRUE(fake.debugLines.empty());
}

// A literal's end is found many units at a look: at every alignment and length the line is the
// text up to its NUL, and a text that ends where its page ends is read no further.
TEST_F(DebugLineBytes, ALiteralEndsAtItsNulWhereverItLies) {
  ErrorLog log;
  char16_t units[96];
  for (size_t start = 0; start < 16; ++start) {
    for (size_t length = 0; length + start < 95; length += 1 + length / 8) {
      for (size_t i = 0; i < 96; ++i) units[i] = i < start || i >= start + length ? u'\0' : u'a' + i % 26;
      fake.debugLines.clear();
      log.DebugTrace(units + start);
      ASSERT_EQ(fake.debugLines, std::vector<std::string>{fake.ToAnsi(String(units + start, length)) + "\n"})
          << "start " << start << ", length " << length;
    }
  }
#ifndef _WIN32
  const long page = ::sysconf(_SC_PAGESIZE);
  void* pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(::mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);  // a touch beyond faults
  auto* end = reinterpret_cast<char16_t*>(static_cast<char*>(pages) + page);
  for (size_t length : {0, 1, 6, 7, 8, 15, 16, 17, 31, 32, 33, 40, 300}) {
    char16_t* text = end - length - 1;
    for (size_t i = 0; i < length; ++i) text[i] = u'z';
    text[length] = u'\0';
    fake.debugLines.clear();
    log.DebugTrace(text);
    EXPECT_EQ(fake.debugLines, std::vector<std::string>{std::string(length, 'z') + "\n"});
  }
  ::munmap(pages, 2 * page);
#endif
}

// A literal longer than the piece it is narrowed in at a time comes out whole, and a unit
// outside ASCII on either side of a piece's end still sends it down the converted path.
TEST_F(DebugLineBytes, ALongLiteralIsWholeAndConvertedWhereverItsOtherUnitLies) {
  ErrorLog log;
  for (size_t length : {255, 256, 257, 511, 512, 513, 1000}) {
    String text(length, u'a');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u' ' + (i * 7) % 95);
    fake.debugLines.clear();
    log.DebugTrace(text.c_str());
    ASSERT_EQ(fake.debugLines, std::vector<std::string>{fake.ToAnsi(text) + "\n"}) << "length " << length;
    for (size_t at : {size_t{0}, size_t{254}, size_t{255}, size_t{256}, length - 1}) {
      if (at >= length) continue;
      String other = text;
      other[at] = u'\u00E9';
      fake.debugLines.clear();
      log.DebugTrace(other.c_str());
      ASSERT_EQ(fake.debugLines, std::vector<std::string>{fake.ToAnsi(other) + "\n"})
          << "at " << at << " of " << length;
    }
  }
}

// Text is looked at many units at once: a unit outside ASCII in any place of a block, or in
// the tail, sends the line down the converted path, as a String and as a literal.
TEST_F(DebugLineBytes, AnOtherUnitAnywhereIsConverted) {
  ErrorLog log;
  for (const char16_t other :
       {u'\u0080', u'\u009F', u'\u00E9', u'\u00FF', u'\u0100', u'\u20AC', u'\u7F80', u'\uFF41', u'\uFFFF'}) {
    for (size_t length = 1; length <= 50; ++length) {
      for (size_t at = 0; at < length; ++at) {
        String text(length, u'a');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u' ' + (i * 7) % 95);
        text[at] = other;
        fake.debugLines.clear();
        log.DebugTrace(text);
        log.DebugTrace(text.c_str());
        const std::string expected = fake.ToAnsi(text) + "\n";
        ASSERT_EQ(fake.debugLines, (std::vector<std::string>{expected, expected}))
            << "unit " << static_cast<int>(other) << " at " << at << " of " << length;
      }
    }
  }
}

// An error's line goes to the debugger and to the log as bytes when its texts are ASCII, and
// converted otherwise or for a class of the host's own: the same bytes either way.
TEST_F(DebugLineBytes, ErrorLinesMatchTheConvertedPathInTheDebuggerAndTheLog) {
  const String texts[] = {u"Disk full", u"", u"Caf\u00E9", u"\u4E2D\u6587", String(u"n\0l", 3), String(200, u'D')};
  const auto linesOf = [&](ErrorLog& log, const String& text) {
    fake.debugLines.clear();
    fake.files.clear();
    log.Initialize(u"App", u"");
    log.LogFilename(u"C:\\logs\\errors.log");
    log.ReportingLevel(mxReportingLevelLog);
    log.LogError(u"Src " + text, text, u"", 0, 61, u"Proc " + text);
    log.LogError(text, text, u"", 0, -1, text);
    std::vector<std::string> lines = fake.debugLines;
    for (const auto& [path, bytes] : fake.files) {
      const size_t banner = bytes.rfind("=====\r\n");  // written once per thread
      lines.push_back(bytes.substr(banner == std::string::npos ? 0 : banner + 7));
    }
    return lines;
  };
  for (const String& text : texts) {
    ErrorLog direct;
    ConvertedLog converted(fake);
    const std::vector<std::string> expected = linesOf(converted, text);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(linesOf(direct, text), expected) << fake.ToAnsi(text);
  }
  ErrorLog log;
  EXPECT_EQ(linesOf(log, u"x")[0], "ERROR: Src x - Proc x described as: x, Error Number is: 61\n");
}

}  // namespace
}  // namespace vx380
