// Initialize and the settings properties: registry layout, level mapping, default log name.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

using testing::kHKLM;

const std::string kSampleKey = "SOFTWARE\\Meridox\\Applications\\Sample.Application\\ErrorReporting\\";

class Settings : public testing::CoreTest {
 protected:
  void SetSetting(Long root, const std::string& name, const std::string& text) {
    fake.SetRegistryString(root, kSampleKey + name, "", text);
  }
  bool WasRead(Long root, const std::string& name) const {
    const std::string entry = std::to_string(static_cast<std::uint32_t>(root)) + "\\" + kSampleKey + name;
    return std::find(fake.registryReads.begin(), fake.registryReads.end(), entry) != fake.registryReads.end();
  }

  ErrorLog log;
};

TEST_F(Settings, FreshThreadWithoutRegistryKeys) {
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(Err().source, u"Sample");
  EXPECT_EQ(log.ApplicationName(), u"Sample");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelOff);
  EXPECT_EQ(log.LogFilename(), u"C:\\Users\\user\\Desktop\\Sample.log");
  EXPECT_TRUE(fake.boxes.empty());
  // No resource module: user texts are asked of module 0.
  log.LogError(u"S", u"d", u"", 0, 0, u"", 48, 3);
  EXPECT_EQ(fake.stringLoads, (std::vector<std::pair<ModuleHandle, Long>>{{0, 3}}));
}

TEST_F(Settings, EmptyApplicationNameOnlySetsTheSource) {
  SetSetting(kHKeyCurrentUser, "ReportingLevel", "Log");
  Err().source = u"previous";
  log.Initialize(u"", u"C:\\res.dll");
  EXPECT_EQ(Err().source, u"");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelOff);
  EXPECT_EQ(log.LogFilename(), u"");
  EXPECT_TRUE(fake.registryReads.empty());
  // Still not initialised: the next error puts in the defaults.
  log.LogError(u"S", u"d");
  EXPECT_EQ(log.ApplicationName(), u"VeltrixPFD");
}

struct LevelCase {
  std::optional<std::string> registryText;  // nullopt: no text in either hive
  mxReportingLevelConstants before;         // set through ReportingLevel before Initialize
  mxReportingLevelConstants after;
};

void PrintTo(const LevelCase& c, std::ostream* os) {
  *os << "text " << (c.registryText ? "\"" + *c.registryText + "\"" : "none") << ", before " << c.before;
}

class LevelMapping : public Settings, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LevelMapping, RegistryTextSetsOrKeepsTheFlags) {
  const LevelCase& c = GetParam();
  if (c.registryText) SetSetting(kHKeyCurrentUser, "ReportingLevel", *c.registryText);
  log.ReportingLevel(c.before);
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.ReportingLevel(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LevelMapping,
    ::testing::Values(LevelCase{"Log", mxReportingLevelOff, mxReportingLevelLog},
                      LevelCase{"Log", mxReportingLevelDisplay, mxReportingLevelLogAndDisplay},
                      LevelCase{"Display", mxReportingLevelOff, mxReportingLevelDisplay},
                      LevelCase{"Display", mxReportingLevelLog, mxReportingLevelLogAndDisplay},
                      LevelCase{"LogAndDisplay", mxReportingLevelOff, mxReportingLevelLogAndDisplay},
                      LevelCase{"Off", mxReportingLevelLogAndDisplay, mxReportingLevelOff},
                      // Anything else, case differences included, turns display on and keeps logging.
                      LevelCase{"log", mxReportingLevelLog, mxReportingLevelLogAndDisplay},
                      LevelCase{"LOG", mxReportingLevelOff, mxReportingLevelDisplay},
                      LevelCase{"", mxReportingLevelOff, mxReportingLevelDisplay},
                      LevelCase{std::nullopt, mxReportingLevelLogAndDisplay, mxReportingLevelOff}));

TEST_F(Settings, CurrentUserTextWinsEvenWhenMeaningless) {
  SetSetting(kHKeyCurrentUser, "ReportingLevel", "log");
  SetSetting(kHKLM, "ReportingLevel", "LogAndDisplay");
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelDisplay);
  EXPECT_FALSE(WasRead(kHKLM, "ReportingLevel"));
}

TEST_F(Settings, LocalMachineIsAskedWhenTheUserHasNoText) {
  SetSetting(kHKLM, "ReportingLevel", "LogAndDisplay");
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelLogAndDisplay);

  // A user key without a default value counts as no text.
  testing::FreshThread();
  fake.AddRegistryKey(kHKeyCurrentUser, kSampleKey + "ReportingLevel");
  SetSetting(kHKLM, "ReportingLevel", "Log");
  log.Initialize(u"Sample", u"");
  EXPECT_TRUE(WasRead(kHKeyCurrentUser, "ReportingLevel"));
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelLog);
}

TEST_F(Settings, LogFilenameComesFromTheRegistryAsIs) {
  SetSetting(kHKLM, "LogFilename", "D:\\logs\\machine.log");
  SetSetting(kHKeyCurrentUser, "ReportingLevel", "Log");  // looked up independently of the name
  log.LogFilename(u"C:\\set\\before.log");
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.LogFilename(), u"D:\\logs\\machine.log");
  EXPECT_EQ(log.ReportingLevel(), mxReportingLevelLog);

  testing::FreshThread();
  SetSetting(kHKeyCurrentUser, "LogFilename", "");
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.LogFilename(), u"");
}

TEST_F(Settings, DefaultLogNameReplacesOneSetBefore) {
  log.LogFilename(u"C:\\set\\before.log");
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.LogFilename(), u"C:\\Users\\user\\Desktop\\Sample.log");

  // A desktop path that already ends in a separator gets no second one.
  testing::FreshThread();
  fake.desktop = u"C:\\Desk\\";
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.LogFilename(), u"C:\\Desk\\Sample.log");
}

TEST_F(Settings, NoDesktopFolderGivesARootedName) {
  fake.desktopAvailable = false;
  log.Initialize(u"Sample", u"");
  EXPECT_EQ(log.LogFilename(), u"\\Sample.log");
}

TEST_F(Settings, ResourceModuleIsLoadedOrZero) {
  fake.resourceFiles[u"C:\\res.dll"][1] = "x";
  log.Initialize(u"Sample", u"C:\\res.dll");
  log.LogError(u"S", u"d", u"", 0, 0, u"", 48, 1);
  ASSERT_EQ(fake.stringLoads.size(), 1u);
  EXPECT_GT(fake.stringLoads[0].first, 0);

  testing::FreshThread();
  log.Initialize(u"Sample", u"C:\\missing.dll");
  log.LogError(u"S", u"d", u"", 0, 0, u"", 48, 1);
  ASSERT_EQ(fake.stringLoads.size(), 2u);
  EXPECT_EQ(fake.stringLoads[1].first, 0);
  EXPECT_TRUE(fake.boxes.empty());
  log.ReportingLevel(mxReportingLevelDisplay);
  log.LogError(u"S", u"still reported");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"still reported");
}

TEST_F(Settings, ALaterInitializeWithAnotherModuleReleasesTheFirst) {
  fake.resourceFiles[u"C:\\first.dll"][7] = "first text";
  fake.resourceFiles[u"C:\\second.dll"][7] = "second text";
  log.Initialize(u"Sample", u"C:\\first.dll");
  log.LogError(u"S", u"d", u"", 0, 0, u"", 48, 7);  // level off: nothing shown
  ASSERT_EQ(fake.stringLoads.size(), 1u);
  const ModuleHandle first = fake.stringLoads[0].first;
  log.Main();  // keeps the module loaded and the thread not initialised
  EXPECT_TRUE(fake.freedModules.empty());
  log.Initialize(u"Sample", u"C:\\second.dll");
  EXPECT_EQ(fake.freedModules, std::vector<ModuleHandle>{first});
  log.ReportingLevel(mxReportingLevelDisplay);
  log.LogError(u"S", u"d", u"", 0, 0, u"", 48, 7);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"second text");
}

TEST_F(Settings, ReportingLevelPropertyRoundTrips) {
  log.Initialize(u"Sample", u"");  // so that LogError below goes by the flags as set here
  for (auto level :
       {mxReportingLevelLog, mxReportingLevelDisplay, mxReportingLevelLogAndDisplay, mxReportingLevelOff}) {
    log.ReportingLevel(level);
    EXPECT_EQ(log.ReportingLevel(), level);
  }
  for (Long bad : {7, -1, 4}) {
    log.ReportingLevel(mxReportingLevelLogAndDisplay);
    log.ReportingLevel(static_cast<mxReportingLevelConstants>(bad));
    EXPECT_EQ(log.ReportingLevel(), mxReportingLevelOff) << bad;
  }
  // Off means neither flag: an error is neither shown nor logged.
  log.LogFilename(u"C:\\logs\\off.log");
  log.LogError(u"S", u"d");
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_TRUE(fake.files.empty());
}

TEST_F(Settings, AppendSlash) {
  EXPECT_EQ(log.AppendSlash(u"C:\\Temp"), u"C:\\Temp\\");
  EXPECT_EQ(log.AppendSlash(u"C:\\Temp\\"), u"C:\\Temp\\");
  EXPECT_EQ(log.AppendSlash(u""), u"\\");
}

// Initialize reaches the registry through the object's own interface; a failure there is
// shown in a box and Initialize returns normally.
class FailingLookup : public ErrorLog {
 public:
  Boolean LookUpValueForKey(const Long&, const String& szSubKey, String&, const Variant&) override {
    keys.push_back(szSubKey);
    throw AutomationError(1001, u"Store", u"Registry unavailable");
  }
  std::vector<String> keys;
};

TEST_F(Settings, FailureInsideInitializeIsShownWithTheCriticalIcon) {
  FailingLookup failing;
  EXPECT_NO_THROW(failing.Initialize(u"Sample", u""));
  ASSERT_EQ(failing.keys.size(), 1u);
  EXPECT_EQ(failing.keys[0], u"SOFTWARE\\Meridox\\Applications\\Sample.Application\\ErrorReporting\\ReportingLevel");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].prompt, u"Registry unavailable");
  EXPECT_EQ(fake.boxes[0].style, 16);
  EXPECT_EQ(fake.boxes[0].title, u"Store");
  // What was set before the failure stays set: the thread counts as initialised.
  EXPECT_EQ(failing.ApplicationName(), u"Sample");
  failing.LogError(u"S", u"d");
  EXPECT_EQ(failing.ApplicationName(), u"Sample");
}

}  // namespace
}  // namespace vx380
