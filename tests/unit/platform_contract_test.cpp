// The recording fake keeps what every platform keeps, so the core's suites test it against
// a platform that behaves as the real ones do.
#include "CoreTest.h"
#include "FakePlatform.h"
#include "PlatformContract.h"

namespace vx380::testcases {
namespace {

using namespace vx380::testing;

struct FakePlace {
  static constexpr bool kThreadSafe = false;
  FakePlatform fake;
  Platform& Under() { return fake; }
  String ScratchFile() { return u"C:\\scratch\\contract.txt"; }
  void StoreString(const std::string& key, const std::string& name, const std::string& text) {
    fake.SetRegistryString(kHKeyCurrentUser, key, name, text);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, PlatformContract, ::testing::Types<FakePlace>);

}  // namespace
}  // namespace vx380::testcases

namespace vx380::testing {
namespace {

// The core's side of the seam: whatever a host passes, each debug line is one whole line.
class CoreSideOfTheSeam : public CoreTest {};

TEST_F(CoreSideOfTheSeam, EveryDebugLineEndsInALineFeed) {
  ErrorLog log;
  const String texts[] = {u"", u"plain", u"two\r\nlines", u"ends in a feed\n", String(u"nul\0inside", 10)};
  for (const String& text : texts) {
    log.DebugTrace(text);
    log.RBDEBUGLOG(text);
    log.RBDEBUGWRITE(text);
    log.RBDEBUGENTER(text.empty() ? u"Routine" : text, text);
    log.RBDEBUGLINE(7, text);
    log.RBDEBUGTIMESTAMP(text);
    log.RBDEBUGEXIT(text);
    log.RBDEBUGMODULE(u"Other", kTrue, text);
    log.RBDEBUGMODULE(u"Other", kFalse, text);
  }
  ASSERT_GE(fake.debugLines.size(), 40u) << "every member wrote";
  for (const std::string& line : fake.debugLines) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n') << line;
  }
}

}  // namespace
}  // namespace vx380::testing
