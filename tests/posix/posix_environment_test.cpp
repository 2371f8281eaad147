// The POSIX platform's view of the user: environment, desktop folder, clock, dates, numbers.
#include <gtest/gtest.h>
#include <time.h>

#include <regex>
#include <thread>

#include "PosixTestSupport.h"
#include "platform/posix/DateTimeText.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

TEST(Environment, VariablesAndTheTemporaryFolder) {
  Platform& platform = SystemPlatform();
  String value;
  {
    ScopedEnv set("VX380_TEST_VARIABLE", "C:\\x \xC3\xA4");
    ASSERT_TRUE(platform.GetEnvironment(u"VX380_TEST_VARIABLE", value));
    EXPECT_EQ(value, u"C:\\x \u00E4");
  }
  EXPECT_FALSE(platform.GetEnvironment(u"VX380_TEST_VARIABLE", value));
  EXPECT_FALSE(platform.GetEnvironment(u"", value));

  ScopedEnv temp("TEMP", std::nullopt);
  {
    ScopedEnv tmpdir("TMPDIR", "/var/tmp/");
    ASSERT_TRUE(platform.GetEnvironment(u"TEMP", value));
    EXPECT_EQ(value, u"/var/tmp");
  }
  {
    ScopedEnv tmpdir("TMPDIR", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    ASSERT_TRUE(platform.GetEnvironment(u"TEMP", value));
    EXPECT_EQ(value, FromUtf8("/tmp/vx380-" + std::to_string(::geteuid()))) << "a folder of the user's own";
  }
  {
    ScopedEnv empty("TEMP", "");
    ScopedEnv tmpdir("TMPDIR", "/var/tmp");
    ASSERT_TRUE(platform.GetEnvironment(u"TEMP", value));
    EXPECT_EQ(value, u"/var/tmp") << "an empty TEMP counts as unset";
  }
  ScopedEnv own("TEMP", "/scratch");
  ASSERT_TRUE(platform.GetEnvironment(u"TEMP", value));
  EXPECT_EQ(value, u"/scratch");
}

TEST(Environment, DesktopFolderFollowsTheXdgUserDirectories) {
  ScratchDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path());
  ScopedEnv home("HOME", dir.File("home"));
  for (const char* made : {"home", "home/Desktop", "home/Schreibtisch", "desk top"})
    std::filesystem::create_directory(dir.File(made));
  Platform& platform = SystemPlatform();
  String desktop;

  ASSERT_TRUE(platform.DesktopFolder(desktop));
  EXPECT_EQ(desktop, FromUtf8(dir.File("home/Desktop")));

  dir.Write("user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
            "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  ASSERT_TRUE(platform.DesktopFolder(desktop));
  EXPECT_EQ(desktop, FromUtf8(dir.File("home/Schreibtisch")));

  dir.Write("user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + dir.File("desk top") + "/\"\n");
  ASSERT_TRUE(platform.DesktopFolder(desktop));
  EXPECT_EQ(desktop, FromUtf8(dir.File("desk top")));

  dir.Write("user-dirs.dirs", "XDG_DESKTOP_DIR=\"relative/not/allowed\"\n");
  ASSERT_TRUE(platform.DesktopFolder(desktop));
  EXPECT_EQ(desktop, FromUtf8(dir.File("home/Desktop")));
}

TEST(Clock, TickCountIsTheMonotonicClockInMilliseconds) {
  Platform& platform = SystemPlatform();
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto expected = static_cast<std::uint32_t>(now.tv_sec * 1000ull + now.tv_nsec / 1000000);
  const Long first = platform.TickCount();
  EXPECT_LE(static_cast<std::uint32_t>(first) - expected, 50u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const Long elapsed =
      static_cast<Long>(static_cast<std::uint32_t>(platform.TickCount()) - static_cast<std::uint32_t>(first));
  EXPECT_GE(elapsed, 30);
  EXPECT_LT(elapsed, 2000);
}

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return t;
}

TEST(DateTimeText, TheCLocaleReadsLikeUsEnglish) {
  locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
  for (locale_t locale : {static_cast<locale_t>(nullptr), c, utf8}) {
    EXPECT_EQ(posix::FormatDateText(At(2021, 3, 5, 14, 7, 9), locale), "3/5/2021");
    EXPECT_EQ(posix::FormatDateText(At(1999, 12, 31, 0, 0, 0), locale), "12/31/1999");
    EXPECT_EQ(posix::FormatTimeText(At(2021, 3, 5, 14, 7, 9), locale), "2:07:09 PM");
    EXPECT_EQ(posix::FormatTimeText(At(2021, 3, 5, 0, 0, 5), locale), "12:00:05 AM");
    EXPECT_EQ(posix::FormatTimeText(At(2021, 3, 5, 12, 30, 0), locale), "12:30:00 PM");
    EXPECT_EQ(posix::FormatTimeText(At(2021, 3, 5, 9, 59, 59), locale), "9:59:59 AM");
  }
  if (c) freelocale(c);
  if (utf8) freelocale(utf8);
}

TEST(DateTimeText, CurrentTextsUseTheUsersLocale) {
  ScopedEnv all("LC_ALL", "C");
  Platform& platform = SystemPlatform();
  const String date = platform.CurrentDateText();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(ToUtf8(date), posix::FormatDateText(local, nullptr));  // unless midnight passed just now
  const std::regex time("(1[0-2]|[1-9]):[0-5][0-9]:[0-5][0-9] (AM|PM)");
  EXPECT_TRUE(std::regex_match(ToUtf8(platform.CurrentTimeText()), time));
  const std::string both = ToUtf8(platform.CurrentDateTimeText());
  EXPECT_TRUE(
      std::regex_match(both, std::regex("1?[0-9]/[1-3]?[0-9]/[0-9]{4} (1[0-2]|[1-9]):[0-5][0-9]:[0-5][0-9] (AM|PM)")))
      << both;
  EXPECT_EQ(platform.DecimalSeparator(), u'.');
}

}  // namespace
}  // namespace vx380::testing
