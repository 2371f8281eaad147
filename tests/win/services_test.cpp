// The smaller Win32 services: code page, environment, clock, shell folder, date and time
// texts, string resources.
#include <gtest/gtest.h>

#include "WinTestSupport.h"

namespace {

using vx380::String;

class Win32Services : public ::testing::Test {
 protected:
  vx380::win32::Win32Platform platform;
};

// The test prefix runs with the Western European code page, like the hosts the component serves.
TEST_F(Win32Services, AnsiConversionUsesTheSystemCodePage) {
  ASSERT_EQ(GetACP(), 1252u);
  EXPECT_EQ(platform.ToAnsi(u"Caf\u00e9 \u20ac"), "Caf\xE9 \x80");
  EXPECT_EQ(platform.FromAnsi("Caf\xE9 \x80"), u"Caf\u00e9 \u20ac");
  EXPECT_EQ(platform.ToAnsi(u"a\u4e2db"), "a?b");
  EXPECT_EQ(platform.ToAnsi(String(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(platform.FromAnsi(std::string("a\0b", 3)), String(u"a\0b", 3));
  EXPECT_EQ(platform.ToAnsi(u""), "");
  EXPECT_EQ(platform.FromAnsi(""), u"");
}

TEST_F(Win32Services, EnvironmentVariables) {
  String value = u"before";
  SetEnvironmentVariableW(L"VX380_TEST_UNSET", nullptr);
  EXPECT_FALSE(platform.GetEnvironment(u"VX380_TEST_UNSET", value));

  SetEnvironmentVariableW(L"VX380_TEST_VAR", L"C:\\Temp\\x");
  ASSERT_TRUE(platform.GetEnvironment(u"VX380_TEST_VAR", value));
  EXPECT_EQ(value, u"C:\\Temp\\x");

  const std::wstring longText(3000, L'x');
  SetEnvironmentVariableW(L"VX380_TEST_VAR", longText.c_str());
  ASSERT_TRUE(platform.GetEnvironment(u"VX380_TEST_VAR", value));
  EXPECT_EQ(value, String(3000, u'x'));
}

TEST_F(Win32Services, TickCountIsMillisecondsSinceStart) {
  const vx380::Long first = platform.TickCount();
  Sleep(60);
  const vx380::Long second = platform.TickCount();
  const vx380::Long elapsed =
      static_cast<vx380::Long>(static_cast<std::uint32_t>(second) - static_cast<std::uint32_t>(first));
  EXPECT_GE(elapsed, 50);
  EXPECT_LT(elapsed, 2000);
  const auto drift = static_cast<std::int32_t>(static_cast<std::uint32_t>(platform.TickCount()) - GetTickCount());
  EXPECT_LT(std::abs(drift), 1000);
}

TEST_F(Win32Services, DesktopFolderIsAnExistingFolder) {
  String path;
  ASSERT_TRUE(platform.DesktopFolder(path));
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.back(), u'\\');
  const DWORD attributes = GetFileAttributesW(vx380::win32::Wide(path));
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Win32Services, DateAndTimeTextsJoinWithOneSpace) {
  String date, time, both;
  for (int attempt = 0; attempt < 5; ++attempt) {  // a second may tick between the reads
    date = platform.CurrentDateText();
    time = platform.CurrentTimeText();
    both = platform.CurrentDateTimeText();
    if (both == date + u" " + time) break;
  }
  EXPECT_EQ(both, date + u" " + time);
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::wstring year = std::to_wstring(now.wYear);
  EXPECT_NE(date.find(String(year.begin(), year.end())), String::npos) << "no year in the short date";
  EXPECT_NE(time.find(u':'), String::npos);
}

class Win32Resources : public Win32Services {
 protected:
  const String dll = vx380::wintest::ToString(vx380::wintest::ProgramFolder() + L"vx380_test_strings.dll");
};

TEST_F(Win32Resources, StringsOfADataFileModule) {
  const vx380::ModuleHandle module = platform.LoadResourceModule(dll);
  ASSERT_NE(module, 0);
  EXPECT_EQ(platform.LoadResourceString(module, 1, 512), "Disk is full, please free some space.");
  EXPECT_EQ(platform.LoadResourceString(module, 1000, 512), "An error in the thousands.");
  EXPECT_EQ(platform.LoadResourceString(module, 2, 512), "Caf\xE9 \x80");
  EXPECT_EQ(platform.LoadResourceString(module, 5, 512), "");
  platform.FreeResourceModule(module);
}

TEST_F(Win32Resources, BufferSizeCutsTheText) {
  const vx380::ModuleHandle module = platform.LoadResourceModule(dll);
  ASSERT_NE(module, 0);
  EXPECT_EQ(platform.LoadResourceString(module, 1, 5), "Disk");
  EXPECT_EQ(platform.LoadResourceString(module, 1, 1), "");
  platform.FreeResourceModule(module);
}

TEST_F(Win32Resources, ModuleZeroReadsTheHostProgram) {
  EXPECT_EQ(platform.LoadResourceString(0, 7, 512), "From the host program.");
}

TEST_F(Win32Resources, MissingFileGivesNoModule) {
  EXPECT_EQ(platform.LoadResourceModule(u"C:\\no\\such\\strings.dll"), 0);
  EXPECT_EQ(platform.LoadResourceModule(u""), 0);
}

}  // namespace
