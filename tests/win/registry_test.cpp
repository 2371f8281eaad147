// Registry lookups against the real registry (stored by the registry fixture with reg.exe).
#include <gtest/gtest.h>

#include "../shared/RegistryCaseCheck.h"
#include "platform/win32/Win32Platform.h"
#include "vx380/ErrorLog.h"

namespace {

using vx380::testcases::RegistryCase;

class RegistryLookup : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryLookup, MatchesTheSharedTable) { vx380::testcases::ExpectLookUpMatches(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Shared, RegistryLookup, ::testing::ValuesIn(vx380::testcases::RegistryCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The seam itself: what the platform hands the core, byte for byte.
class Win32Registry : public ::testing::Test {
 protected:
  vx380::win32::Win32Platform platform;
  const std::string root = vx380::testcases::kTestRoot + "\\";

  std::vector<unsigned char> Query(vx380::Long hive, const std::string& key, const std::string& name,
                                   std::uint32_t capacity, bool* ok) {
    vx380::RegKeyHandle handle = 0;
    *ok = false;
    if (!platform.OpenSettingsKey(hive, key, handle)) return {};
    std::vector<unsigned char> data(capacity + 1, 0xEE);
    std::uint32_t size = capacity;
    *ok = platform.QuerySettingsValue(handle, name, data.data(), &size);
    platform.CloseSettingsKey(handle);
    EXPECT_EQ(data[capacity], 0xEE) << "wrote past the size given";
    if (*ok) data.resize(size);
    return data;
  }
};

TEST_F(Win32Registry, StringComesWithItsNul) {
  bool ok = false;
  auto data = Query(vx380::kHKeyCurrentUser, root + "Log", "", 255, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(data, (std::vector<unsigned char>{'L', 'o', 'g', 0}));
}

TEST_F(Win32Registry, DwordIsFourLittleEndianBytes) {
  bool ok = false;
  auto data = Query(vx380::kHKeyCurrentUser, root + "Dword", "", 255, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(data, (std::vector<unsigned char>{1, 0, 0, 0}));
}

TEST_F(Win32Registry, DataLargerThanTheBufferFail) {
  bool ok = true;
  Query(vx380::kHKeyCurrentUser, root + "Log", "", 3, &ok);
  EXPECT_FALSE(ok);
  Query(vx380::kHKeyCurrentUser, root + "Log", "", 4, &ok);
  EXPECT_TRUE(ok);
}

TEST_F(Win32Registry, LocalMachineRootSignExtends) {
  bool ok = false;
  auto data = Query(vx380::testcases::kLocalMachine, root + "Machine", "", 255, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("LogAndDisplay", 14));
}

TEST_F(Win32Registry, MissingKeyDoesNotOpen) {
  vx380::RegKeyHandle handle = 12345;
  EXPECT_FALSE(platform.OpenSettingsKey(vx380::kHKeyCurrentUser, root + "Missing", handle));
  EXPECT_EQ(handle, 12345);
}

// A null size is refused as on POSIX; a null buffer asks for the size.
TEST_F(Win32Registry, NullPointersFollowTheSeam) {
  vx380::RegKeyHandle handle = 0;
  ASSERT_TRUE(platform.OpenSettingsKey(vx380::kHKeyCurrentUser, root + "Log", handle));
  unsigned char data[16] = {};
  EXPECT_FALSE(platform.QuerySettingsValue(handle, "", data, nullptr));
  std::uint32_t size = 0;
  EXPECT_TRUE(platform.QuerySettingsValue(handle, "", nullptr, &size));
  EXPECT_EQ(size, 4u);
  platform.CloseSettingsKey(handle);
}

}  // namespace
