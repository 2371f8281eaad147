// A platform that can tell nobody hears the debug channel spares the core the line; one that
// cannot is always written to. Which kind is installed is looked at again at every installation.
#include <gtest/gtest.h>

#include <new>

#include "CoreTest.h"
#include "FakePlatform.h"
#include "ForwardingPlatform.h"
#include "vx380/ErrorLog.h"

namespace vx380::testing {
namespace {

// The fake, told whether anybody listens.
class AwareFake : public testcases::ForwardingPlatform<ListenerAwarePlatform> {
 public:
  AwareFake() : ForwardingPlatform(inner) {}  // inner is only used once built
  bool heard = true;
  int asked = 0;
  FakePlatform inner;
  bool DebugOutputHeard() override {
    ++asked;
    return heard;
  }
};

TEST(ListenerAware, NobodyHearingSparesTheLinesAndAPlatformThatCannotTellIsAlwaysWritten) {
  ErrorLog log;
  AwareFake aware;
  Platform* previous = SetPlatform(&aware);
  aware.heard = false;
  log.DebugTrace(u"unheard");
  log.RBDEBUGENTER(u"Routine");
  log.RBDEBUGEXIT();
  EXPECT_TRUE(aware.inner.debugLines.empty());
  EXPECT_GE(aware.asked, 3);
  aware.heard = true;
  log.DebugTrace(u"heard");
  EXPECT_EQ(aware.inner.debugLines, std::vector<std::string>{"heard\n"});
  SetPlatform(previous);
}

// Nobody hearing the channel says nothing of a host's own DebugTrace: it gets every line.
TEST(ListenerAware, AnOverrideOfDebugTraceGetsItsLinesWhenNobodyHears) {
  struct RecordingLog : ErrorLog {
    void DebugTrace(String line) override { got.push_back(line); }
    std::vector<String> got;
  } recording;
  AwareFake aware;
  aware.heard = false;
  Platform* previous = SetPlatform(&aware);
  ErrorLog& base = recording;
  base.DebugTrace(u"literal");
  base.DebugTrace(String(u"string"));
  SetPlatform(previous);
  EXPECT_EQ(recording.got, (std::vector<String>{u"literal", u"string"}));
  EXPECT_TRUE(aware.inner.debugLines.empty());
}

TEST(ListenerAware, APlainPlatformMadeWhereAnAwareOneLivedIsWrittenTo) {
  ErrorLog log;
  alignas(AwareFake) alignas(FakePlatform) unsigned char storage[sizeof(AwareFake) + sizeof(FakePlatform)];
  auto* aware = new (storage) AwareFake;
  aware->heard = false;
  Platform* previous = SetPlatform(aware);
  log.DebugTrace(u"unheard");
  SetPlatform(previous);
  aware->~AwareFake();
  auto* plain = new (storage) FakePlatform;
  SetPlatform(plain);
  log.DebugTrace(u"written");
  EXPECT_EQ(plain->debugLines, std::vector<std::string>{"written\n"});
  SetPlatform(previous);
  plain->~FakePlatform();
}

}  // namespace
}  // namespace vx380::testing
