// LogMsg and DebugTrace: the machine-wide switch, the message log in TEMP, debugger lines.
#include <gtest/gtest.h>

#include <thread>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

using testing::kHKLM;

const std::string kSwitch = "SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel";
const std::string kBanner =
    "==============================\r\n3/5/2021 - 2:07:09 PM\r\n==============================\r\n";

class MessageLog : public testing::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    // The process remembers which message logs it has started, so every test takes a folder
    // of its own.
    static int folder = 0;
    temp = u"C:\\Temp" + FromUtf8(std::to_string(++folder));
    path = temp + u"\\Corvane.Log";
    fake.environment[u"TEMP"] = temp;
  }
  void SwitchOn() { fake.SetRegistryString(kHKLM, kSwitch, "", "1"); }
  std::string LogText() { return fake.files.count(path) ? fake.files[path] : std::string("<no file>"); }

  ErrorLog log;
  String temp;
  String path;
};

TEST_F(MessageLog, SwitchOffWritesNothingAndAsksAgainEachCall) {
  log.LogMsg(u"first");
  EXPECT_EQ(fake.openCount, 0);
  EXPECT_TRUE(fake.files.empty());

  // Switched on while the host runs: the next call starts the log.
  SwitchOn();
  log.LogMsg(u"second");
  EXPECT_EQ(LogText(), kBanner + "second\r\n");
}

TEST_F(MessageLog, OnlyTheExactTextOneSwitchesOn) {
  for (const char* text : {"0", " 1", "1 ", "01", "true"}) {
    fake.SetRegistryString(kHKLM, kSwitch, "", text);
    log.LogMsg(u"x");
  }
  fake.SetRegistryBytes(kHKLM, kSwitch, "", {1, 0, 0, 0});  // a double word of 1
  log.LogMsg(u"x");
  fake.SetRegistryString(kHKeyCurrentUser, kSwitch, "", "1");  // the user hive does not count
  fake.SetRegistryString(kHKLM, kSwitch, "", "2");
  log.LogMsg(u"x");
  EXPECT_EQ(fake.openCount, 0);
}

TEST_F(MessageLog, FirstCallStartsTheLogAndLaterCallsAppend) {
  SwitchOn();
  fake.files[path] = "left over from an earlier run\r\n";
  log.LogMsg(u"one");
  log.LogMsg(u"");
  log.LogMsg(u"two\r\nlines");
  EXPECT_EQ(LogText(), kBanner + "one\r\n" + "\r\n" + "two\r\nlines\r\n");
  EXPECT_EQ(fake.openFiles, 0);

  // Switched off again: this thread keeps logging.
  fake.ClearRegistry();
  log.LogMsg(u"three");
  EXPECT_EQ(LogText(), kBanner + "one\r\n\r\ntwo\r\nlines\r\nthree\r\n");
}

TEST_F(MessageLog, WithoutTempTheLogIsInTheRoot) {
  SwitchOn();
  fake.environment.clear();
  log.LogMsg(u"m");
  ASSERT_TRUE(fake.files.count(u"\\Corvane.Log"));
  EXPECT_NE(fake.files[u"\\Corvane.Log"].find("m\r\n"), std::string::npos);
}

TEST_F(MessageLog, SecondThreadAddsItsBannerInsteadOfEmptyingTheLog) {
  SwitchOn();
  log.LogMsg(u"from the first thread");
  // The main thread waits in join while the other uses the fake.
  std::thread other([] {
    ErrorLog second;
    second.LogMsg(u"from the second thread");
  });
  other.join();
  EXPECT_EQ(LogText(), kBanner + "from the first thread\r\n" + kBanner + "from the second thread\r\n");
}

TEST_F(MessageLog, MainStartsTheLogAgainWithABanner) {
  SwitchOn();
  log.LogMsg(u"before");
  log.Main();
  log.LogMsg(u"after");
  EXPECT_EQ(LogText(), kBanner + "before\r\n" + kBanner + "after\r\n");
}

TEST_F(MessageLog, FailureReachesTheCallerAndTheStartIsTriedAgain) {
  SwitchOn();
  fake.failingOpens[path] = rt::kPermissionDenied;
  try {
    log.LogMsg(u"lost");
    FAIL() << "expected the open failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), rt::kPermissionDenied);
  }

  // The switch was found on and is not asked again; the start is tried again.
  fake.failingOpens.clear();
  fake.ClearRegistry();
  log.LogMsg(u"kept");
  EXPECT_EQ(LogText(), kBanner + "kept\r\n");

  fake.failingWrites[path] = rt::kDiskFull;
  EXPECT_THROW(log.LogMsg(u"full"), AutomationError);
  EXPECT_EQ(fake.openFiles, 0);
}

TEST(DebugTrace, OneCallPerLineEndingInALineFeed) {
  testing::FreshThread();
  testing::ScopedFakePlatform platform;
  ErrorLog log;
  log.DebugTrace(u"");
  log.DebugTrace(u"two\r\nlines");
  log.DebugTrace(u"caf\u00e9 \u20ac");  // the euro sign is not in the fake's code page
  EXPECT_EQ(platform.fake.debugLines, (std::vector<std::string>{"\n", "two\r\nlines\n", "caf\xE9 ?\n"}));
  testing::FreshThread();
}

// A debugger channel that fails must not fail its caller.
class FailingDebugChannel : public testing::FakePlatform {
 public:
  void WriteDebugLine(const std::string&) override { throw std::runtime_error("channel gone"); }
};

TEST(DebugTrace, NeverFails) {
  testing::FreshThread();
  FailingDebugChannel failing;
  Platform* previous = SetPlatform(&failing);
  {
    ErrorLog log;
    EXPECT_NO_THROW(log.DebugTrace(u"lost"));
    EXPECT_NO_THROW(log.RBDEBUGLOG(u"lost"));
    EXPECT_NO_THROW(log.RBDEBUGWRITE(u"lost"));
  }
  SetPlatform(previous);
  EXPECT_TRUE(failing.boxes.empty());
  testing::FreshThread();
}

}  // namespace
}  // namespace vx380
