// Where the error log goes by default on POSIX: the desktop folder where there is one, else
// the user's state folder; never the root folder, and a line on the debug channel when it
// cannot be started.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "PosixSecondUser.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
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

// The lines that reached a socket bound at `path` while `work` ran.
std::vector<std::string> LinesDuring(const std::string& path, const std::function<void()>& work) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ScopedEnv socket("VX380_DEBUG_SOCKET", path);
  work();
  std::vector<std::string> lines;
  char buffer[4096];
  pollfd p{fd, POLLIN, 0};
  for (ssize_t n; ::poll(&p, 1, 100) > 0 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
    lines.emplace_back(buffer, static_cast<std::size_t>(n) - 1);
  ::close(fd);
  ::unlink(path.c_str());
  return lines;
}

TEST(LogPlaces, AnErrorLogThatCannotStartIsNamedOnTheDebugChannelEachTime) {
  ScratchDir dir;
  const std::string log = dir.File("missing/app.log");
  ScopedEnv home("HOME", dir.path()), user("VX380_HKCU", dir.File("none.reg")),
      machine("VX380_HKLM", dir.File("none.reg"));
  const auto lines = LinesDuring(dir.File("debug.sock"), [&] {
    std::thread([&] {
      ErrorLog errors;
      errors.Initialize(u"App", u"");
      errors.LogFilename(FromUtf8(log));
      errors.ReportingLevel(mxReportingLevelLog);
      errors.LogError(u"A", u"one");
      errors.LogError(u"A", u"two");
      std::filesystem::create_directory(dir.File("missing"));
      errors.LogError(u"A", u"three");
    }).join();
  });
  const std::string why = "VX380ErrorLog: the error log \"" + log + "\" cannot be started: Path not found (76)";
  EXPECT_EQ(lines, (std::vector<std::string>{why, "ERROR: A - described as: one, Error Number is: 0", why,
                                             "ERROR: A - described as: two, Error Number is: 0",
                                             "ERROR: A - described as: three, Error Number is: 0"}));
  EXPECT_NE(ReadFile(log).find("ERROR: A - described as: three"), std::string::npos);
}

TEST(LogPlaces, WithoutAnyHomeNoLogIsWrittenAndTheDebugChannelSaysWhy) {
  if (!CanActAsAnotherUser()) GTEST_SKIP() << "needs root to act as a user without a home (setpriv)";
  ASSERT_EQ(::getpwuid(kUnknownUid), nullptr) << "the test needs a uid the password database does not know";
  HelperAs nobody(kUnknownUid, "errorlog", "NoHomeApp",
                  {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "VX380_HKCU=/nonexistent/user.reg",
                   "VX380_HKLM=/nonexistent/machine.reg"});
  EXPECT_EQ(nobody.ReadLine(), "\\NoHomeApp.log");
  EXPECT_EQ(nobody.ReadLine(),
            "VX380ErrorLog: the error log \"\\NoHomeApp.log\" cannot be started: Path not found (76)");
  EXPECT_EQ(nobody.ReadLine(), "ERROR: Helper - described as: Disk full, Error Number is: 61");
  EXPECT_EQ(nobody.Wait(), 0) << "4: LogError raised";
  EXPECT_FALSE(std::filesystem::exists("/NoHomeApp.log"));
}

}  // namespace
}  // namespace vx380::testing
