// The per-thread record: sharing between objects, threads, Main, the end of an object, CutAtNull.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "CoreTest.h"
#include "core/KeptExports.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

using testing::kHKLM;

const std::string kAppKey = "SOFTWARE\\Meridox\\Applications\\";

void SetLevel(testing::FakePlatform& fake, const std::string& app, const std::string& level) {
  fake.SetRegistryString(kHKeyCurrentUser, kAppKey + app + ".Application\\ErrorReporting\\ReportingLevel", "", level);
}

class SharedState : public testing::CoreTest {};

TEST_F(SharedState, ObjectsOfOneThreadShareOneRecord) {
  SetLevel(fake, "Alpha", "Log");
  SetLevel(fake, "Beta", "Display");
  ErrorLog a;
  a.Initialize(u"Alpha", u"");
  const size_t readsAfterFirst = fake.registryReads.size();

  ErrorLog b;
  EXPECT_EQ(b.ApplicationName(), u"Alpha");
  EXPECT_EQ(b.ReportingLevel(), mxReportingLevelLog);
  EXPECT_EQ(ErrorLog::Default().ApplicationName(), u"Alpha");

  // A second Initialize only names the error object's source.
  b.Initialize(u"Beta", u"");
  EXPECT_EQ(Err().source, u"Beta");
  EXPECT_EQ(a.ApplicationName(), u"Alpha");
  EXPECT_EQ(a.ReportingLevel(), mxReportingLevelLog);
  EXPECT_EQ(fake.registryReads.size(), readsAfterFirst);

  // One module stack for all of them.
  a.RBDEBUGENTER(u"Outer");
  ErrorLog::Default().RBDEBUGEXIT();
  ASSERT_EQ(fake.Lines().size(), 2u);
  EXPECT_EQ(fake.Lines()[1], u"RBDEBUG , END<<< ,        0 , Outer ,  , EOL ");
  EXPECT_EQ(testing::StackDepth(b, fake), 0);
}

TEST_F(SharedState, SecondThreadStartsFromTheStartValues) {
  ErrorLog a;
  SetLevel(fake, "Alpha", "LogAndDisplay");
  a.Initialize(u"Alpha", u"");
  a.RBDEBUGENTER(u"Main thread routine");

  mxReportingLevelConstants level = mxReportingLevelLogAndDisplay;
  String name = u"unset", logFile = u"unset", defaultName;
  fake.debugLines.clear();
  // The main thread waits in join, so only one thread touches the fake at a time.
  std::thread other([&] {
    ErrorLog b;
    level = b.ReportingLevel();
    name = b.ApplicationName();
    logFile = b.LogFilename();
    b.RBDEBUGEXIT();                               // no names on its stack
    b.RBDEBUGLINE();                               // no levels either
    b.LogError(u"", u"e", u"", 0, 0, u"", 48, 5);  // not initialised: the defaults, no module
    defaultName = b.ApplicationName();
    b.Initialize(u"Other", u"");
  });
  other.join();

  EXPECT_EQ(level, mxReportingLevelOff);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(logFile, u"");
  EXPECT_EQ(defaultName, u"VeltrixPFD");
  EXPECT_EQ(fake.Lines(),
            (std::vector<String>{u"RBDEBUG Stack is empty", u"RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE",
                                 u"ERROR: VeltrixPFD - described as: e, Error Number is: 0"}));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"RBDEBUGLINE Subscript out of range");
  EXPECT_EQ(fake.stringLoads, (std::vector<std::pair<ModuleHandle, Long>>{{0, 5}}));
  EXPECT_EQ(fake.openCount, 0);

  // Neither the other thread's Initialize nor the end of its object reached this thread.
  EXPECT_EQ(a.ApplicationName(), u"Alpha");
  EXPECT_EQ(a.ReportingLevel(), mxReportingLevelLogAndDisplay);
  EXPECT_EQ(testing::StackDepth(a, fake), 1);
  a.LogError(u"", u"still initialised");
  EXPECT_EQ(a.ApplicationName(), u"Alpha");
}

TEST_F(SharedState, MainResetsTheReportingStateAndKeepsTheRest) {
  fake.resourceFiles[u"C:\\res.dll"][1] = "text";
  fake.SetRegistryString(kHKLM, "SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel", "", "1");
  fake.environment[u"TEMP"] = u"C:\\MainResetTemp";
  ErrorLog log;
  log.Initialize(u"App", u"C:\\res.dll");
  log.ReportingLevel(mxReportingLevelLogAndDisplay);
  log.LogFilename(u"C:\\logs\\app.log");
  log.LogError(u"S", u"D");
  log.LogError(u"S", u"D", u"", 0, 0, u"", 48, 1);
  log.LogMsg(u"hello");
  log.RBDEBUGENTER(u"A");
  log.RBDEBUGENTER(u"B");
  log.RBDEBUGLINE(7);
  const std::string banner =
      "==============================\r\n3/5/2021 - 2:07:09 PM\r\n==============================\r\n";
  ASSERT_EQ(fake.files[u"C:\\logs\\app.log"].rfind(banner, 0), 0u);
  ASSERT_EQ(fake.stringLoads.size(), 1u);
  const ModuleHandle module = fake.stringLoads[0].first;
  ASSERT_NE(module, 0);

  log.Main();

  EXPECT_EQ(log.ApplicationName(), u"");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelOff);
  // Kept: the log file's name, the module (still loaded), the names on the stack.
  EXPECT_EQ(log.LogFilename(), u"C:\\logs\\app.log");
  EXPECT_TRUE(fake.freedModules.empty());
  EXPECT_EQ(testing::StackDepth(log, fake), 0);
  fake.debugLines.clear();
  log.RBDEBUGLINE();  // depth 0, two names: the warning, then a marker under the top name
  EXPECT_EQ(fake.Lines(), (std::vector<String>{u"RBDEBUGLINE Called Without RBDEBUGENTER or RBDEBUGMODULE",
                                               u"RBDEBUG , L(5)   ,        0 ,     B "}));
  // Both logs start again with a banner.
  log.LogMsg(u"again");
  EXPECT_EQ(fake.files[u"C:\\MainResetTemp\\Corvane.Log"], banner + "hello\r\n" + banner + "again\r\n");
  { ErrorLog ending; }  // the end of an object releases the module Main kept
  EXPECT_EQ(fake.freedModules, (std::vector<ModuleHandle>{module}));
  log.LogError(u"S", u"puts in the defaults");
  log.ReportingLevel(mxReportingLevelLog);
  log.LogError(u"S", u"after Main");
  EXPECT_NE(fake.files[u"C:\\logs\\app.log"].find(banner, banner.size()), std::string::npos);
  log.Main();

  // Not initialised any more: the next Initialize reads the registry again.
  const size_t reads = fake.registryReads.size();
  SetLevel(fake, "Again", "Display");
  log.Initialize(u"Again", u"");
  EXPECT_GT(fake.registryReads.size(), reads);
  EXPECT_EQ(log.ApplicationName(), u"Again");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelDisplay);
}

TEST_F(SharedState, EndOfAnyObjectReturnsTheThreadToNotInitialised) {
  ErrorLog survivor;
  auto ending = std::make_unique<ErrorLog>();
  ending->Initialize(u"App", u"");
  survivor.ReportingLevel(mxReportingLevelDisplay);
  Err().Clear();

  ending.reset();
  EXPECT_EQ(Err().source, u"App");
  // Only the flag changes; the settings stay until something assigns them anew.
  EXPECT_EQ(survivor.ApplicationName(), u"App");
  EXPECT_EQ(survivor.ReportingLevel(), mxReportingLevelDisplay);

  // The survivor's next LogError puts in the defaults: no box, default name.
  survivor.LogError(u"", u"lost settings");
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(survivor.ApplicationName(), u"VeltrixPFD");
  EXPECT_EQ(survivor.ReportingLevel(), mxReportingLevelOff);
  ASSERT_EQ(fake.Lines().size(), 1u);
  EXPECT_EQ(fake.Lines()[0], u"ERROR: VeltrixPFD - described as: lost settings, Error Number is: 0");
}

TEST_F(SharedState, ReleasedResourceModuleIsNeverUsedAgain) {
  fake.resourceFiles[u"C:\\res.dll"][7] = "Please save your work";
  auto first = std::make_unique<ErrorLog>();
  first->Initialize(u"App", u"C:\\res.dll");
  first->LogError(u"S", u"d", u"", 0, 0, u"", 48, 7);  // level off: nothing shown
  ASSERT_EQ(fake.stringLoads.size(), 1u);
  const ModuleHandle module = fake.stringLoads[0].first;
  ASSERT_GT(module, 0);

  first.reset();
  EXPECT_EQ(fake.freedModules, (std::vector<ModuleHandle>{module}));

  // A later Initialize without a resource path does not assign the handle.
  auto second = std::make_unique<ErrorLog>();
  second->Initialize(u"App", u"");
  second->ReportingLevel(mxReportingLevelDisplay);
  second->LogError(u"S", u"Description", u"", 0, 0, u"", 48, 7);
  ASSERT_FALSE(fake.stringLoads.empty());
  EXPECT_NE(fake.stringLoads.back().first, module);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"Description");

  second.reset();
  EXPECT_EQ(fake.freedModules.size(), 1u);
}

// A platform whose module release fails, to reach the trap at the end of an object.
class FailingReleasePlatform : public testing::FakePlatform {
 public:
  void FreeResourceModule(ModuleHandle) override { throw AutomationError(70, u"Loader", u"Module is busy"); }
};

TEST_F(SharedState, FailureAtTheEndOfAnObjectIsShownNotThrown) {
  FailingReleasePlatform failing;
  failing.resourceFiles[u"C:\\res.dll"][1] = "x";
  Platform* previous = SetPlatform(&failing);
  {
    ErrorLog log;
    log.Initialize(u"App", u"C:\\res.dll");
  }
  SetPlatform(previous);
  ASSERT_EQ(failing.boxes.size(), 1u);
  EXPECT_EQ(failing.boxes[0].prompt, u"Module is busy");
  EXPECT_EQ(failing.boxes[0].style, 48);
  EXPECT_EQ(failing.boxes[0].title, u"Loader");
  ErrorLog after;  // the flag went down before the failure: the next error puts in the defaults
  after.LogError(u"", u"x");
  EXPECT_EQ(after.ApplicationName(), u"VeltrixPFD");
}

TEST(CutAtNull, ReturnsTheTextBeforeTheFirstNul) {
  EXPECT_EQ(CutAtNull(u"abc"), u"abc");
  EXPECT_EQ(CutAtNull(String(u"abc\0def", 7)), u"abc");
  EXPECT_EQ(CutAtNull(String(u"\0abc", 4)), u"");
  EXPECT_EQ(CutAtNull(u""), u"");
}

TEST(CutAtNull, NulBeyondIntegerRangeIsAnOverflow) {
  String longText(40000, u'a');
  EXPECT_EQ(CutAtNull(longText), longText);  // no NUL, no position to hold
  longText += u'\0';
  try {
    CutAtNull(longText);
    FAIL() << "expected an overflow";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), rt::kOverflow);
  }
}

}  // namespace
}  // namespace vx380
