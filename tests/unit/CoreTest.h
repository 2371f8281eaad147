// The base of the core's suites: a fresh recording platform, and this thread's record and
// error object as a fresh thread has them, before and after each test (suites share the
// test thread). Tests observe the record only through the public API and the fake; the
// reset is the one thing that reaches into the core, since only a new thread starts afresh.
#pragma once

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "core/ModuleState.h"
#include "vx380/ErrorLog.h"

namespace vx380::testing {

constexpr Long kHKLM = kHKeyLocalMachine;

// This thread's record and error object as a new thread has them.
inline void FreshThread() {
  ThisThreadState() = ModuleState{};
  Err().Clear();
}

// States no public call reaches in reasonable time, to arrange the tests of their failures.
inline void SetLineCounter(Integer level, Long value) { ThisThreadState().moduleStack.LineNumber(level) = value; }
inline void ClearApplicationName() { ThisThreadState().strAppName.clear(); }

// The depth of the thread's module stack as the next entry sees it: the dots of a probe entry,
// which is left again at once; its lines are taken off the fake. -1 when the probe cannot enter.
inline int StackDepth(ErrorLog& log, FakePlatform& fake) {
  const size_t lines = fake.debugLines.size();
  log.RBDEBUGENTER(u"?");
  const std::string entry = lines < fake.debugLines.size() ? fake.debugLines[lines] : "";
  log.RBDEBUGEXIT();
  fake.debugLines.resize(lines);
  const std::string head = "RBDEBUG , BEG>>> , ........ , ";
  if (entry.rfind(head, 0) != 0) return -1;
  return static_cast<int>(entry.find_first_not_of('.', head.size()) - head.size()) / 2;
}

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshThread(); }
  void TearDown() override { FreshThread(); }

  ScopedFakePlatform platform;
  FakePlatform& fake = platform.fake;
};

}  // namespace vx380::testing
