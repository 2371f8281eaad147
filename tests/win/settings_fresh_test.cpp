// The switches read at every call (time stamps in HKCU, the message log in HKLM) act on the
// registry as it is when the call starts: a change that returned before the call counts,
// whether this thread, another thread or another process made it, by a value set, a key
// deleted or re-created, or a value of another type.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ForwardingPlatform.h"
#include "SettingsWriters.h"
#include "WinTestSupport.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380::wintest {
namespace {

constexpr int kAlternations = 2000;

// The system's platform, counting debug lines and text files opened; files are not written.
class CountingPlatform final : public testcases::ForwardingPlatform<> {
 public:
  std::atomic<int> debugLines{0}, filesOpened{0};
  void WriteDebugLine(const std::string&) override { ++debugLines; }
  Long ShowMessageBox(const String&, Long, const String&, const String&, Long) override { return 1; }
  Long OpenTextFile(const String&, bool, FileHandle& file) override {
    ++filesOpened;
    file = 1;
    return 0;
  }
  Long WriteTextFile(FileHandle, const std::string&) override { return 0; }
  void CloseTextFile(FileHandle) override {}
};

struct Step {
  RegChange change;
  bool on;
};

RegChange Set(DWORD type, const std::string& bytes) { return {false, type, bytes}; }
std::string Z(const char* text) { return std::string(text) + '\0'; }  // the bytes of a REG_SZ

// One switch: where it lives and how a call shows whether it is on.
struct Switch {
  HKEY hive;
  std::string key;
  std::string on, off;  // texts that turn it on and off
  bool (*probe)(ErrorLog& log, CountingPlatform& platform);
};

bool TimingProbe(ErrorLog& log, CountingPlatform& platform) {
  const int before = platform.debugLines;
  log.RBDEBUGTIMESTAMP(u"probe");
  return platform.debugLines > before;
}

// The message log is checked until it is found on; Main starts the checking afresh.
bool MessageLogProbe(ErrorLog& log, CountingPlatform& platform) {
  log.Main();
  const int before = platform.filesOpened;
  log.LogMsg(u"probe");
  return platform.filesOpened > before;
}

std::vector<Step> Values(const Switch& s) {
  return {{Set(REG_SZ, Z(s.on.c_str())), true}, {Set(REG_SZ, Z(s.off.c_str())), false}};
}

std::vector<Step> DeleteAndRecreate(const Switch& s) {
  return {{Set(REG_SZ, Z(s.on.c_str())), true},
          {RegChange{true, REG_SZ, {}}, false},
          {Set(REG_SZ, Z(s.off.c_str())), false}};
}

// Any type is read as its bytes, less the last one.
std::vector<Step> Types(const Switch& s) {
  return {{Set(REG_EXPAND_SZ, Z(s.on.c_str())), true}, {Set(REG_DWORD, std::string("\1\0\0\0", 4)), false},
          {Set(REG_BINARY, Z(s.on.c_str())), true},    {Set(REG_BINARY, s.on), false},
          {Set(REG_MULTI_SZ, Z(s.on.c_str())), true},  {Set(REG_MULTI_SZ, Z(s.on.c_str()) + '\0'), false}};
}

class SettingsFresh : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetPlatform(&platform_);
    log_.Initialize(app_, u"");
  }
  void TearDown() override {
    log_.Main();
    SetPlatform(previous_);
    RegDeleteTreeA(HKEY_CURRENT_USER, ("SOFTWARE\\Meridox\\Applications\\" + appAnsi_ + ".Application").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMessageLogKey);
  }
  Switch Timing() {
    return {HKEY_CURRENT_USER, "SOFTWARE\\Meridox\\Applications\\" + appAnsi_ + ".Application\\ErrorReporting\\Timing",
            "True", "False", TimingProbe};
  }
  Switch MessageLog() { return {HKEY_LOCAL_MACHINE, kMessageLogKey, "1", "0", MessageLogProbe}; }

  // Applies the steps in turn, kAlternations times, probing after each: how many probes saw
  // anything but the change just made.
  int Stale(RegWriter& writer, const Switch& s, const std::vector<Step>& steps) {
    int stale = 0, failed = 0;
    for (int i = 0; i < kAlternations; ++i) {
      const Step& step = steps[i % steps.size()];
      const LONG rc = writer.Apply(s.hive, s.key, step.change);
      if (rc != ERROR_SUCCESS && !(step.change.remove && rc == ERROR_FILE_NOT_FOUND)) ++failed;
      if (s.probe(log_, platform_) != step.on) ++stale;
    }
    EXPECT_EQ(0, failed) << "registry changes that failed";
    return stale;
  }

  static constexpr const char* kMessageLogKey = "SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel";
  const std::string appAnsi_ = "Fresh" + std::to_string(GetCurrentProcessId());
  const String app_ = String(appAnsi_.begin(), appAnsi_.end());
  CountingPlatform platform_;
  Platform* previous_ = nullptr;
  ErrorLog log_;
};

TEST_F(SettingsFresh, ChangesOnThisThreadAreSeenByTheNextCall) {
  SameThreadWriter writer;
  for (const Switch& s : {Timing(), MessageLog()}) {
    SCOPED_TRACE(s.key);
    EXPECT_EQ(0, Stale(writer, s, Values(s))) << "values set";
    EXPECT_EQ(0, Stale(writer, s, DeleteAndRecreate(s))) << "key deleted and re-created";
    EXPECT_EQ(0, Stale(writer, s, Types(s))) << "values of other types";
  }
}

TEST_F(SettingsFresh, ChangesOnAnotherThreadAreSeenByTheNextCall) {
  OtherThreadWriter writer;
  for (const Switch& s : {Timing(), MessageLog()}) {
    SCOPED_TRACE(s.key);
    EXPECT_EQ(0, Stale(writer, s, Values(s))) << "values set";
    EXPECT_EQ(0, Stale(writer, s, DeleteAndRecreate(s))) << "key deleted and re-created";
  }
}

TEST_F(SettingsFresh, ChangesByAnotherProcessAreSeenByTheNextCall) {
  OtherProcessWriter writer;
  ASSERT_TRUE(writer.started()) << "cannot start vx380_win_reg_writer.exe";
  for (const Switch& s : {Timing(), MessageLog()}) {
    SCOPED_TRACE(s.key);
    EXPECT_EQ(0, Stale(writer, s, Values(s))) << "values set";
    EXPECT_EQ(0, Stale(writer, s, DeleteAndRecreate(s))) << "key deleted and re-created";
    EXPECT_EQ(0, Stale(writer, s, Types(s))) << "values of other types";
  }
}

TEST_F(SettingsFresh, ManyApplicationsCostNoHandlesOrThreads) {
  auto readAs = [&](int n) {
    log_.Main();
    const std::string name = appAnsi_ + "-" + std::to_string(n);
    log_.Initialize(String(name.begin(), name.end()), u"");
    log_.RBDEBUGTIMESTAMP(u"probe");
    log_.LogMsg(u"probe");
  };
  for (int n = 0; n < 10; ++n) readAs(n);
  const unsigned long handles = HandleCount();
  const unsigned long threads = ThreadCount();
  for (int n = 10; n < 510; ++n) readAs(n);
  ASSERT_GT(handles, 0ul) << "the system counts our handles";
  EXPECT_LE(HandleCount(), handles + 10) << "from " << handles;
  EXPECT_LE(ThreadCount(), threads + 1) << "from " << threads;  // one the system may start meanwhile
}

}  // namespace
}  // namespace vx380::wintest
