// What a thread keeps between calls: never trusted for a platform it was not learned from,
// released only where it came from, and still there for calls made as the thread ends.
#include <gtest/gtest.h>

#include <new>
#include <thread>

#include "CoreTest.h"
#include "vx380/ErrorLog.h"

namespace vx380 {
namespace {

const std::string kTimingKey = "SOFTWARE\\Meridox\\Applications\\Rebuilt.Application\\ErrorReporting\\Timing";

// A platform that numbers its settings from the same start each time it is made, as a
// platform rebuilt from scratch would, and whose code page may change ASCII.
class NumberedPlatform : public testing::FakePlatform {
 public:
  NumberedPlatform(const std::string& timing, bool upperCase) : upperCase_(upperCase) {
    SetRegistryString(kHKeyCurrentUser, kTimingKey, "", timing);
  }
  std::uint64_t SettingsGeneration(Long, const std::string&) override { return 7; }
  std::string ToAnsi(const String& text) override {
    std::string bytes = FakePlatform::ToAnsi(text);
    if (upperCase_)
      for (char& c : bytes)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return bytes;
  }

 private:
  bool upperCase_;
};

class ThreadContext : public testing::CoreTest {};

TEST_F(ThreadContext, APlatformRebuiltAtTheSameAddressIsAskedAfresh) {
  alignas(NumberedPlatform) unsigned char room[sizeof(NumberedPlatform)];
  auto* a = new (room) NumberedPlatform("True", false);
  SetPlatform(a);
  ErrorLog log;
  log.Initialize(u"Rebuilt", u"");
  log.RBDEBUGTIMESTAMP(u"first");
  log.DebugTrace(u"abc");
  EXPECT_EQ(a->debugLines.size(), 2u);
  EXPECT_EQ(a->debugLines.back(), "abc\n");
  SetPlatform(&fake);
  a->~NumberedPlatform();

  auto* b = new (room) NumberedPlatform("False", true);
  ASSERT_EQ(static_cast<void*>(b), static_cast<void*>(a));
  SetPlatform(b);
  log.RBDEBUGTIMESTAMP(u"second");  // switched off on B, read under the same generation as on A
  log.DebugTrace(u"abc");           // B's code page changes ASCII: the line is converted
  EXPECT_EQ(b->debugLines, std::vector<std::string>{"ABC\n"});
  SetPlatform(&fake);
  b->~NumberedPlatform();
}

TEST_F(ThreadContext, AResourceModuleIsReleasedOnlyThroughThePlatformThatLoadedIt) {
  fake.resourceFiles[u"C:\\res.dll"][1] = "text";
  auto log = std::make_unique<ErrorLog>();
  log->Initialize(u"App", u"C:\\res.dll");
  testing::FakePlatform other;
  Platform* previous = SetPlatform(&other);
  log.reset();
  SetPlatform(previous);
  EXPECT_TRUE(other.freedModules.empty());
  // Its own platform was replaced meanwhile, and a replaced platform may be gone: left loaded.
  EXPECT_TRUE(fake.freedModules.empty());

  log = std::make_unique<ErrorLog>();
  log->Initialize(u"App", u"C:\\res.dll");
  log.reset();
  EXPECT_EQ(fake.freedModules.size(), 1u);
}

// Objects a host keeps per thread and made before its first call: they end after the
// thread's context has, and still call in.
struct LateCaller {
  const char16_t* text;
  ~LateCaller() {
    ErrorLog log;
    log.RBDEBUGENTER(text);
    log.RBDEBUGEXIT();
    ErrorLog::Default().RBDEBUGLOG(text);
    Err().Clear();
  }
};
thread_local LateCaller t_first{u"first"};
thread_local LateCaller t_second{u"second"};
thread_local LateCaller t_third{u"third"};

TEST_F(ThreadContext, CallsFromObjectsEndingAfterTheThreadStillWork) {
  std::thread worker([] {
    (void)t_first.text;  // all three made, in their order, before the context
    ErrorLog log;
    log.Initialize(u"Worker", u"");
    log.RBDEBUGENTER(u"Body");
    ErrorLog::Default().RBDEBUGLOG(u"body");
  });
  worker.join();
  std::vector<String> expected = {u"RBDEBUG , BEG>>> , ........ , Body ,  , EOL ", u"RBDEBUG: body"};
  for (const String name : {u"third", u"second", u"first"}) {  // the last made ends first
    expected.push_back(u"RBDEBUG , BEG>>> , ........ , " + name + u" ,  , EOL ");
    expected.push_back(u"RBDEBUG , END<<< ,        0 , " + name + u" ,  , EOL ");
    expected.push_back(u"RBDEBUG: " + name);
  }
  EXPECT_EQ(fake.Lines(), expected);
}

}  // namespace
}  // namespace vx380
