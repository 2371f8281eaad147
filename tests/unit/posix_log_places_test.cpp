// Where the error log goes by default on POSIX: the desktop folder where there is one, else
// the user's state folder; never the root folder, and a line on the debug channel when it
// cannot be started.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>

#include "PosixSecondUser.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? st.st_mode & 07777 : 0;
}

String Folder() {
  String folder;
  EXPECT_TRUE(SystemPlatform().DesktopFolder(folder));
  return folder;
}

TEST(LogPlaces, WithoutADesktopTheErrorLogGoesToTheStateFolder) {
  ScratchDir dir;
  const std::string home = dir.File("home");
  std::filesystem::create_directory(home);
  ScopedEnv config("XDG_CONFIG_HOME", dir.File("config"));
  ScopedEnv homeVar("HOME", home);
  {
    ScopedEnv state("XDG_STATE_HOME", std::nullopt);
    EXPECT_EQ(Folder(), FromUtf8(home + "/.local/state/vx380"));
    for (const char* made : {"/.local", "/.local/state", "/.local/state/vx380"})
      EXPECT_EQ(ModeOf(home + made), 0700u) << made;
  }
  {
    ScopedEnv state("XDG_STATE_HOME", dir.File("state"));
    EXPECT_EQ(Folder(), FromUtf8(dir.File("state/vx380")));
    EXPECT_EQ(ModeOf(dir.File("state/vx380")), 0700u);
  }
  {
    ScopedEnv state("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(Folder(), FromUtf8(home + "/.local/state/vx380")) << "a relative XDG_STATE_HOME is ignored";
  }
  // A desktop that the user-dirs file names but that does not exist counts as none.
  std::filesystem::create_directory(dir.File("config"));
  dir.Write("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  EXPECT_EQ(Folder(), FromUtf8(home + "/.local/state/vx380"));
  std::filesystem::create_directory(home + "/Bureau");
  EXPECT_EQ(Folder(), FromUtf8(home + "/Bureau"));

  // A home that does not exist is never made.
  ScopedEnv missing("HOME", dir.File("missing"));
  ScopedEnv state("XDG_STATE_HOME", std::nullopt);
  EXPECT_EQ(Folder(), FromUtf8(dir.File("missing/.local/state/vx380")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST(LogPlaces, WithoutAnyHomeNoLogIsWrittenAndTheDebugChannelSaysWhy) {
  if (!CanActAsAnotherUser()) GTEST_SKIP() << "needs root to act as a user without a home (setpriv)";
  ASSERT_EQ(::getpwuid(kUnknownUid), nullptr) << "the test needs a uid the password database does not know";
  HelperAs nobody(kUnknownUid, "errorlog", "NoHomeApp",
                  {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "VX380_HKCU=/nonexistent/user.reg",
                   "VX380_HKLM=/nonexistent/machine.reg"});
  EXPECT_EQ(nobody.ReadLine(), "\\NoHomeApp.log");
  EXPECT_EQ(nobody.ReadLine(), "VX380ErrorLog: the error log \"\\NoHomeApp.log\" cannot be started: Path not found (76)");
  EXPECT_EQ(nobody.ReadLine(), "ERROR: Helper - described as: Disk full, Error Number is: 61");
  EXPECT_EQ(nobody.Wait(), 0) << "4: LogError raised";
  EXPECT_FALSE(std::filesystem::exists("/NoHomeApp.log"));
}

}  // namespace
}  // namespace vx380::testing
