// The base of the core's suites: a fresh recording platform, and this thread's record and
// error object as a fresh thread has them, before and after each test (suites share the
// test thread).
#pragma once

#include <gtest/gtest.h>

#include "FakePlatform.h"
#include "vx380/ModuleState.h"

namespace vx380::testing {

constexpr Long kHKCU = static_cast<Long>(0x80000001u);
constexpr Long kHKLM = static_cast<Long>(0x80000002u);

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshThread(); }
  void TearDown() override { FreshThread(); }
  static void FreshThread() {
    ThisThreadState() = ModuleState{};
    Err().Clear();
  }

  ScopedFakePlatform platform;
  FakePlatform& fake = platform.fake;
};

}  // namespace vx380::testing
