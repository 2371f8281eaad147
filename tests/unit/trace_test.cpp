// Debug tracing: free text, the module stack, line markers, time stamps and the debug prompt.
#include <gtest/gtest.h>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

using testing::kHKLM;

class Trace : public testing::CoreTest {
 protected:
  std::vector<String> Lines() const { return fake.Lines(); }

  int Depth() { return testing::StackDepth(log, fake); }

  ErrorLog log;
};

// ---- Free text --------------------------------------------------------------------------

// A platform whose code page may or may not keep ASCII as it is.
class CodePagePlatform : public testing::FakePlatform {
 public:
  explicit CodePagePlatform(bool upper) : upper_(upper) {}
  std::string ToAnsi(const String& text) override {
    std::string bytes = FakePlatform::ToAnsi(text);
    if (upper_)
      for (char& c : bytes) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return bytes;
  }

 private:
  bool upper_;
};

// What a thread learned of one platform is not taken for another installed at the same address.
TEST(DebugTraceCodePage, APlatformMadeAgainAtTheSameAddressIsAskedAfresh) {
  alignas(CodePagePlatform) unsigned char storage[sizeof(CodePagePlatform)];
  ErrorLog log;
  auto* first = new (storage) CodePagePlatform(false);
  Platform* previous = SetPlatform(first);
  log.DebugTrace(u"abc");
  EXPECT_EQ(first->debugLines, std::vector<std::string>{"abc\n"});
  SetPlatform(previous);
  first->~CodePagePlatform();
  auto* second = new (storage) CodePagePlatform(true);
  SetPlatform(second);
  log.DebugTrace(u"abc");
  EXPECT_EQ(second->debugLines, std::vector<std::string>{"ABC\n"});
  SetPlatform(previous);
  second->~CodePagePlatform();
}

TEST_F(Trace, LogAndWriteLines) {
  log.RBDEBUGLOG(u"hello");
  log.RBDEBUGLOG(u"");
  log.RBDEBUGWRITE(u"as is");
  log.RBDEBUGWRITE(u"");
  log.RBDEBUGENTER(u"Quiet", u"", kTrue);  // suppression does not apply to free text
  log.RBDEBUGLOG(u"still");
  log.RBDEBUGWRITE(u"still");
  EXPECT_EQ(fake.debugLines, (std::vector<std::string>{"RBDEBUG: hello\n", "RBDEBUG: \n", "as is\n", "\n",
                                                       "RBDEBUG: still\n", "still\n"}));
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_TRUE(fake.files.empty());
}

// A DebugTrace that fails, to reach the callers' own error handling.
class BrokenChannel : public ErrorLog {
 public:
  void DebugTrace(String) override { throw AutomationError(1002, u"Channel", u"Channel is gone"); }
};

TEST_F(Trace, WriteTrapsAChannelFailureAndLogPassesItOn) {
  BrokenChannel broken;
  EXPECT_NO_THROW(broken.RBDEBUGWRITE(u"x"));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"RBDEBUGLOG Channel is gone");
  EXPECT_EQ(fake.boxes[0].style, 48);
  EXPECT_EQ(fake.boxes[0].title, u"Channel");

  try {
    broken.RBDEBUGLOG(u"x");
    FAIL() << "expected the channel failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.error(), (ErrObject{1002, u"Channel", u"Channel is gone", u"", 0}));
  }

  // The module stack traps it and says how far it got.
  broken.RBDEBUGENTER(u"A");
  ASSERT_EQ(fake.boxes.size(), 2u);
  EXPECT_EQ(fake.boxes[1].prompt, u"RBDEBUGMODULE Channel is gone\r\nProgress was: Processing entry to module");
  EXPECT_EQ(Depth(), 0);  // stopped before the push
}

// ---- Module stack and line markers ------------------------------------------------------

TEST_F(Trace, CallTreeWithLineMarkers) {
  fake.tick = 1000;
  log.RBDEBUGENTER(u"Startup", u"start");
  fake.tick = 1040;
  log.RBDEBUGLINE();
  fake.tick = 1045;
  log.RBDEBUGENTER(u"Load");
  fake.tick = 1054;
  log.RBDEBUGLINE(120, u"x");
  fake.tick = 1061;
  log.RBDEBUGEXIT();
  fake.tick = 1250;
  log.RBDEBUGEXIT(u"done");
  EXPECT_EQ(fake.debugLines, (std::vector<std::string>{
                                 "RBDEBUG , BEG>>> , ........ , Startup , start , EOL \n",
                                 "RBDEBUG , L(5)   ,       40 ,   Startup \n",
                                 "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL \n",
                                 "RBDEBUG , L(120) ,        9 ,     Load x\n",
                                 "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL \n",
                                 "RBDEBUG , END<<< ,      250 , Startup , done , EOL \n",
                             }));
  EXPECT_EQ(Depth(), 0);
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Trace, FirstEntrySizesTheStack) {
  log.RBDEBUGENTER(u"A");
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUG , BEG>>> , ........ , A ,  , EOL "}));
  EXPECT_EQ(Depth(), 1);
  // Level 1 is held: a marker counts in it. The exit removes the one name.
  log.RBDEBUGLINE();
  EXPECT_EQ(Lines().back(), u"RBDEBUG , L(5)   ,        0 ,   A ");
  log.RBDEBUGEXIT();
  log.RBDEBUGEXIT();
  EXPECT_EQ(Lines().back(), u"RBDEBUG Stack is empty");
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Trace, IndentationAndTheNameOnExit) {
  log.RBDEBUGENTER(u"A");
  log.RBDEBUGENTER(u"B");
  fake.tick = 5;
  log.RBDEBUGMODULE(u"C", kTrue, u"in");
  // An exit pops the top whatever name it is given.
  log.RBDEBUGMODULE(u"NotC", kFalse, u"out");
  EXPECT_EQ(Lines()[2], u"RBDEBUG , BEG>>> , ........ , ....C , in , EOL ");
  EXPECT_EQ(Lines()[3], u"RBDEBUG , END<<< ,        0 , ....C , out , EOL ");
  EXPECT_EQ(Depth(), 2);
  log.RBDEBUGEXIT();
  EXPECT_EQ(Lines().back(), u"RBDEBUG , END<<< ,        5 , ..B ,  , EOL ");
}

TEST_F(Trace, SuppressedLevelsArePushedAndPoppedSilently) {
  fake.tick = 100;
  log.RBDEBUGENTER(u"Outer");
  log.RBDEBUGENTER(u"Quiet", u"note", kTrue);
  log.RBDEBUGLINE();
  log.RBDEBUGLINE();
  log.RBDEBUGENTER(u"Inner");  // traced again, indented under both
  log.RBDEBUGEXIT();
  log.RBDEBUGEXIT();  // passes False, but the flag stored at entry decides
  EXPECT_EQ(Depth(), 1);
  log.RBDEBUGLINE();
  log.RBDEBUGEXIT();
  EXPECT_EQ(Lines(), (std::vector<String>{
                         u"RBDEBUG , BEG>>> , ........ , Outer ,  , EOL ",
                         u"RBDEBUG , BEG>>> , ........ , ....Inner ,  , EOL ",
                         u"RBDEBUG , END<<< ,        0 , ....Inner ,  , EOL ",
                         u"RBDEBUG , L(5)   ,        0 ,   Outer ",
                         u"RBDEBUG , END<<< ,        0 , Outer ,  , EOL ",
                     }));
}

TEST_F(Trace, ExitOnAnEmptyStack) {
  log.RBDEBUGEXIT();
  log.RBDEBUGEXIT(u"again");
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUG Stack is empty", u"RBDEBUG Stack is empty"}));
  EXPECT_EQ(Depth(), 0);
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Trace, ExitAfterMainWithItemsLeftPopsNothing) {
  log.RBDEBUGENTER(u"A");
  log.RBDEBUGENTER(u"B");
  log.Main();
  fake.debugLines.clear();
  log.RBDEBUGEXIT();
  EXPECT_TRUE(fake.debugLines.empty());
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].style, 48);
  EXPECT_EQ(fake.boxes[0].prompt.rfind(u"RBDEBUGMODULE ", 0), 0u);
  const String progress = u"\r\nProgress was: Processing exit from module lLastInStack = 2";
  ASSERT_GE(fake.boxes[0].prompt.size(), progress.size());
  EXPECT_EQ(fake.boxes[0].prompt.substr(fake.boxes[0].prompt.size() - progress.size()), progress);
  EXPECT_EQ(Depth(), 0);

  // Later entries stack up above the old items: a marker is indented for three names.
  log.RBDEBUGENTER(u"C");
  log.RBDEBUGLINE();
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUG , BEG>>> , ........ , C ,  , EOL ",
                                          u"RBDEBUG , L(5)   ,        0 ,       C "}));
  // Leaving C pops it; the old items stay and the next exit fails on them again.
  log.RBDEBUGEXIT();
  log.RBDEBUGEXIT();
  ASSERT_EQ(fake.boxes.size(), 2u);
  EXPECT_EQ(fake.boxes[1].prompt.substr(fake.boxes[1].prompt.size() - progress.size()), progress);
}

TEST_F(Trace, StackHolds16384Levels) {
  for (int i = 0; i < 16384; ++i) log.RBDEBUGENTER(u"M", u"", kTrue);  // suppressed: no huge lines
  EXPECT_TRUE(fake.boxes.empty());

  log.RBDEBUGENTER(u"OneTooMany");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"RBDEBUGMODULE Overflow\r\nProgress was: Processing entry to module");
  EXPECT_EQ(fake.boxes[0].style, 48);
  EXPECT_TRUE(fake.debugLines.empty());

  // The refused entry left the stack as it was: one exit brings it to 16383.
  log.RBDEBUGEXIT();
  EXPECT_EQ(Depth(), 16383);
  EXPECT_EQ(fake.boxes.size(), 1u);
}

TEST_F(Trace, ElapsedTimeAcrossTheSignedLimitOfTheCounter) {
  fake.tick = 2147483640;
  log.RBDEBUGENTER(u"Long");
  fake.tick = -2147483646;  // 10 ms later, past 2147483647
  log.RBDEBUGLINE();
  log.RBDEBUGEXIT();
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(Lines(), (std::vector<String>{
                         u"RBDEBUG , BEG>>> , ........ , Long ,  , EOL ",
                         u"RBDEBUG , L(5)   ,       10 ,   Long ",
                         u"RBDEBUG , END<<< ,       10 , Long ,  , EOL ",
                     }));
  EXPECT_EQ(Depth(), 0);
}

TEST_F(Trace, ElapsedTimeAcrossTheUnsignedWrapOfTheCounter) {
  fake.tick = -5;  // 4294967291
  log.RBDEBUGENTER(u"Wrap");
  fake.tick = 5;
  log.RBDEBUGLINE();
  log.RBDEBUGEXIT();
  EXPECT_EQ(Lines()[1], u"RBDEBUG , L(5)   ,       10 ,   Wrap ");
  EXPECT_EQ(Lines()[2], u"RBDEBUG , END<<< ,       10 , Wrap ,  , EOL ");
}

TEST_F(Trace, LineNumbersStepByFiveAndBelongToTheCurrentLevel) {
  log.RBDEBUGENTER(u"Outer");
  log.RBDEBUGLINE();
  log.RBDEBUGLINE(0);
  log.RBDEBUGLINE(-3);
  log.RBDEBUGLINE(120);
  log.RBDEBUGLINE();
  log.RBDEBUGENTER(u"Inner");
  log.RBDEBUGLINE(7, u"inner note");
  log.RBDEBUGEXIT();
  log.RBDEBUGLINE();
  const std::vector<String> lines = Lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[1], u"RBDEBUG , L(5)   ,        0 ,   Outer ");
  EXPECT_EQ(lines[2], u"RBDEBUG , L(10)  ,        0 ,   Outer ");
  EXPECT_EQ(lines[3], u"RBDEBUG , L(15)  ,        0 ,   Outer ");
  EXPECT_EQ(lines[4], u"RBDEBUG , L(120) ,        0 ,   Outer ");
  EXPECT_EQ(lines[5], u"RBDEBUG , L(125) ,        0 ,   Outer ");
  EXPECT_EQ(lines[7], u"RBDEBUG , L(7)   ,        0 ,     Inner inner note");
  EXPECT_EQ(lines[9], u"RBDEBUG , L(130) ,        0 ,   Outer ");
}

TEST_F(Trace, LineBeforeAnyEntryWarnsThenFails) {
  log.RBDEBUGLINE();
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE"}));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"RBDEBUGLINE Subscript out of range");
  EXPECT_EQ(fake.boxes[0].style, 48);

  // After routines were entered and left: still one warning and one box, no marker.
  log.RBDEBUGENTER(u"A");
  log.RBDEBUGEXIT();
  fake.debugLines.clear();
  fake.boxes.clear();
  log.RBDEBUGLINE();
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE"}));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt.rfind(u"RBDEBUGLINE ", 0), 0u);

  // Level 0 kept that count: with a name left on the stack after Main the next marker shows it.
  log.RBDEBUGENTER(u"B");
  log.Main();
  fake.debugLines.clear();
  log.RBDEBUGLINE();
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE",
                                          u"RBDEBUG , L(10)  ,        0 ,   B "}));
}

TEST_F(Trace, LineNumberOverflowIsReportedWithoutAMarker) {
  log.RBDEBUGENTER(u"A");
  testing::SetLineCounter(1, 2147483645);
  log.RBDEBUGLINE();
  EXPECT_EQ(Lines().size(), 1u);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"RBDEBUGLINE Overflow");
}

// ---- Time stamps ------------------------------------------------------------------------

class TimeStamp : public Trace {
 protected:
  void SetUp() override {
    Trace::SetUp();
    log.Initialize(u"App", u"");
    fake.tick = 123456;
  }
  void SetTiming(Long root, const std::string& app, const std::string& text) {
    fake.SetRegistryString(root, "SOFTWARE\\Meridox\\Applications\\" + app + ".Application\\ErrorReporting\\Timing", "",
                           text);
  }
};

TEST_F(TimeStamp, WrittenWhileTheSwitchSaysTrue) {
  SetTiming(kHKeyCurrentUser, "App", " True ");
  log.RBDEBUGTIMESTAMP(u"note");
  log.RBDEBUGTIMESTAMP();
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUGTIMING , timestamp , note , 2:07:09 PM , 123456",
                                          u"RBDEBUGTIMING , timestamp ,  , 2:07:09 PM , 123456"}));

  // Also inside a suppressed level.
  log.RBDEBUGENTER(u"Quiet", u"", kTrue);
  log.RBDEBUGTIMESTAMP();
  EXPECT_EQ(Lines().size(), 3u);
}

TEST_F(TimeStamp, NothingWhileTheSwitchIsOff) {
  log.RBDEBUGTIMESTAMP(u"no key");
  SetTiming(kHKLM, "App", "true");  // the machine hive is not asked
  log.RBDEBUGTIMESTAMP(u"machine only");
  for (const char* text : {"yes", "false", "1", "truee"}) {
    SetTiming(kHKeyCurrentUser, "App", text);
    log.RBDEBUGTIMESTAMP(u"other text");
  }
  EXPECT_TRUE(fake.debugLines.empty());
}

TEST_F(TimeStamp, NoApplicationNameLooksUnderTheBareKey) {
  testing::FreshThread();
  SetTiming(kHKeyCurrentUser, "", "TRUE");
  log.RBDEBUGTIMESTAMP(u"bare");
  EXPECT_EQ(Lines(), (std::vector<String>{u"RBDEBUGTIMING , timestamp , bare , 2:07:09 PM , 123456"}));
}

// ---- Debug prompt -----------------------------------------------------------------------

TEST_F(Trace, PromptPassesTheCallersArgumentsThrough) {
  fake.boxAnswers = {6};
  EXPECT_EQ(log.RBDEBUGMESSAGE(u"Continue?", 4 + 32, u"Check", u"dev.hlp", 12), 6);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"Continue?");
  EXPECT_EQ(fake.boxes[0].style, 36);
  EXPECT_EQ(fake.boxes[0].title, u"Check");
  EXPECT_EQ(fake.boxes[0].helpFile, u"dev.hlp");
  EXPECT_EQ(fake.boxes[0].helpContext, 12);

  EXPECT_EQ(log.RBDEBUGMESSAGE(u"Defaults"), 1);
  EXPECT_EQ(fake.boxes[1].style, 0);
  EXPECT_EQ(fake.boxes[1].title, u"");
  EXPECT_TRUE(fake.debugLines.empty());
}

TEST_F(Trace, PromptInASuppressedLevelShowsTheNotice) {
  log.RBDEBUGENTER(u"Quiet", u"", kTrue);
  EXPECT_EQ(log.RBDEBUGMESSAGE(u"Continue?", 4, u"Check", u"dev.hlp", 12), 1);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"RBDEBUGMESSAGE Called, expecting a response, but with debug currently suppressed");
  EXPECT_EQ(fake.boxes[0].style, 0);
  EXPECT_EQ(fake.boxes[0].title, u"ErrorLogging");
  EXPECT_EQ(fake.boxes[0].helpFile, u"");
  EXPECT_EQ(fake.boxes[0].helpContext, 0);

  // Only the current level counts: a traced routine inside it gets the caller's box.
  log.RBDEBUGENTER(u"Traced");
  log.RBDEBUGMESSAGE(u"Asked", 4);
  EXPECT_EQ(fake.boxes[1].prompt, u"Asked");

  // With the stack empty again, stale flags above depth 0 are not consulted.
  log.RBDEBUGEXIT();
  log.RBDEBUGEXIT();
  log.RBDEBUGMESSAGE(u"Empty stack");
  EXPECT_EQ(fake.boxes[2].prompt, u"Empty stack");
}

// ---- Members call each other through the object's own interface ------------------------

class RecordingLog : public ErrorLog {
 public:
  void DebugTrace(String strMsg) override {
    traced.push_back(strMsg);
    ErrorLog::DebugTrace(u"seen: " + strMsg);
  }
  void RBDEBUGMODULE(String strModuleName, const Boolean& bEntry, const String& strNote,
                     const Boolean& bSuppressDebug) override {
    modules.push_back(strModuleName + (bEntry ? u"+" : u"-") + strNote + (bSuppressDebug ? u"!" : u""));
    ErrorLog::RBDEBUGMODULE(strModuleName, bEntry, strNote, bSuppressDebug);
  }
  std::vector<String> traced;
  std::vector<String> modules;
};

TEST_F(Trace, DerivedObjectSeesTheInnerCalls) {
  RecordingLog recording;
  recording.LogError(u"S", u"D");
  recording.RBDEBUGLOG(u"text");
  recording.RBDEBUGENTER(u"A", u"n", kTrue);
  recording.RBDEBUGENTER(u"B");
  recording.RBDEBUGLINE();
  recording.RBDEBUGEXIT(u"bye");
  recording.RBDEBUGEXIT();
  EXPECT_EQ(recording.traced, (std::vector<String>{
                                  u"ERROR: S - described as: D, Error Number is: 0",
                                  u"RBDEBUG: text",
                                  u"RBDEBUG , BEG>>> , ........ , ..B ,  , EOL ",
                                  u"RBDEBUG , L(5)   ,        0 ,     B ",
                                  u"RBDEBUG , END<<< ,        0 , ..B , bye , EOL ",
                              }));
  EXPECT_EQ(recording.modules, (std::vector<String>{u"A+n!", u"B+", u"-bye", u"-"}));
  EXPECT_EQ(Lines()[0], u"seen: ERROR: S - described as: D, Error Number is: 0");
}

}  // namespace
}  // namespace vx380
