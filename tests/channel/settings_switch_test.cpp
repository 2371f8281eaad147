// Switches read on every call (the message log's, the time stamps') are read again only when
// the platform says their key may have changed, and a change still counts at the next call.
#include <gtest/gtest.h>

#include <algorithm>

#include "CoreTest.h"

namespace vx380::testing {
namespace {

const std::string kMessageSwitch = "SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel";
const std::string kTimingSwitch = "SOFTWARE\\Meridox\\Applications\\Watch.Application\\ErrorReporting\\Timing";

// A platform that tells when settings change: every Changed() gives a new number.
class WatchingPlatform : public FakePlatform {
 public:
  std::uint64_t SettingsGeneration(Long, const std::string&) override { return generation; }
  void Changed() { generation = ++last; }
  std::uint64_t generation = ++last;
  int Reads(const std::string& key) const {
    return static_cast<int>(std::count_if(registryReads.begin(), registryReads.end(), [&](const std::string& r) {
      return r.size() >= key.size() && r.compare(r.size() - key.size(), key.size(), key) == 0;
    }));
  }

 private:
  static inline std::uint64_t last = 0;  // numbers never repeat, whichever object gives them
};

class SettingsSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    FreshThread();
    previous = SetPlatform(&fake);
    fake.environment[u"TEMP"] = u"C:\\Watch" + FromUtf8(std::to_string(++folder));
  }
  void TearDown() override {
    SetPlatform(previous);
    FreshThread();
  }
  WatchingPlatform fake;
  Platform* previous = nullptr;
  ErrorLog log;
  static inline int folder = 0;
};

TEST_F(SettingsSwitch, AnUnchangedMessageLogSwitchIsNotReadAgainAndAChangeCountsAtTheNextCall) {
  fake.SetRegistryString(kHKLM, kMessageSwitch, "", "0");
  for (int i = 0; i < 5; ++i) log.LogMsg(u"off");
  EXPECT_EQ(fake.Reads(kMessageSwitch), 1);
  EXPECT_TRUE(fake.files.empty());

  fake.SetRegistryString(kHKLM, kMessageSwitch, "", "1");
  fake.Changed();
  log.LogMsg(u"on");
  EXPECT_EQ(fake.Reads(kMessageSwitch), 2);
  ASSERT_EQ(fake.files.size(), 1u);
  EXPECT_NE(fake.files.begin()->second.find("on\r\n"), std::string::npos);
  EXPECT_EQ(fake.files.begin()->second.find("off"), std::string::npos);
}

TEST_F(SettingsSwitch, TheTimeStampSwitchFollowsChangesAndCostsNoReadOtherwise) {
  log.Initialize(u"Watch", u"");
  fake.SetRegistryString(kHKeyCurrentUser, kTimingSwitch, "", "True");
  log.RBDEBUGTIMESTAMP(u"a");
  log.RBDEBUGTIMESTAMP(u"b");
  EXPECT_EQ(fake.Reads(kTimingSwitch), 1);
  EXPECT_EQ(fake.debugLines.size(), 2u);

  fake.SetRegistryString(kHKeyCurrentUser, kTimingSwitch, "", "False");
  fake.Changed();
  log.RBDEBUGTIMESTAMP(u"c");
  EXPECT_EQ(fake.debugLines.size(), 2u) << "switched off at the next call";
  EXPECT_EQ(fake.Reads(kTimingSwitch), 2);
}

TEST_F(SettingsSwitch, APlatformThatCannotTellIsAskedEveryTime) {
  FakePlatform plain;
  SetPlatform(&plain);
  plain.SetRegistryString(kHKLM, kMessageSwitch, "", "0");
  for (int i = 0; i < 3; ++i) log.LogMsg(u"off");
  EXPECT_EQ(plain.registryReads.size(), 3u);
  SetPlatform(&fake);
}

}  // namespace
}  // namespace vx380::testing
