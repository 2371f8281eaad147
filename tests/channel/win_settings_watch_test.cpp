// The Windows platform's answer to "may this key have changed": it moves after a write under
// the key (or the key's creation) and stays put while nothing changes.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

constexpr Long kHKCU = static_cast<Long>(0x80000001u);

std::uint64_t MovedFrom(const std::string& key, std::uint64_t before) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::uint64_t now = before;
  while ((now = SystemPlatform().SettingsGeneration(kHKCU, key)) == before &&
         std::chrono::steady_clock::now() < deadline)
    ::Sleep(5);
  return now;
}

TEST(SettingsWatch, AKeysNumberMovesAfterAChangeAndOnlyThen) {
  const std::string parent = "Software\\vx380-watch-" + std::to_string(::GetCurrentProcessId());
  const std::string key = parent + "\\ErrorReporting\\Timing";
  ::RegDeleteTreeA(HKEY_CURRENT_USER, parent.c_str());
  HKEY made = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                              nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(made);

  const std::uint64_t first = SystemPlatform().SettingsGeneration(kHKCU, key);
  ASSERT_NE(first, 0u) << "the platform can watch the key (here: its nearest existing parent)";
  ::Sleep(100);
  EXPECT_EQ(SystemPlatform().SettingsGeneration(kHKCU, key), first);

  ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, "True", 5), ERROR_SUCCESS);
  const std::uint64_t second = MovedFrom(key, first);
  EXPECT_NE(second, first) << "creating the key and its value is a change";
  ::Sleep(200);
  const std::uint64_t settled = SystemPlatform().SettingsGeneration(kHKCU, key);
  ::Sleep(100);
  EXPECT_EQ(SystemPlatform().SettingsGeneration(kHKCU, key), settled);

  ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), nullptr, REG_SZ, "False", 6), ERROR_SUCCESS);
  EXPECT_NE(MovedFrom(key, settled), settled) << "a new value is a change";
  ::RegDeleteTreeA(HKEY_CURRENT_USER, parent.c_str());
}

}  // namespace
}  // namespace vx380::testing
