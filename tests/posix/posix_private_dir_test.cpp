// The user's private folder: made for the user only whatever the umask, and refused (with one
// line on standard error saying why) when it is not a folder only the user can change.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "PosixSecondUser.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testing {
namespace {

std::string Own(const std::string& tmp) { return tmp + "/vx380-" + std::to_string(::geteuid()); }

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class PrivateDir : public ::testing::Test {
 protected:
  ScratchDir tmp;
  ScopedEnv runtime{"XDG_RUNTIME_DIR", std::nullopt};
  ScopedEnv tmpdir{"TMPDIR", tmp.path()};
  ScopedEnv socket{"VX380_DEBUG_SOCKET", std::nullopt};
  std::string dir, why;
};

TEST_F(PrivateDir, IsMadeForTheUserOnlyWhateverTheUmask) {
  const mode_t mask = ::umask(0);
  EXPECT_TRUE(posix::PrivateRuntimeDir(dir, why)) << why;
  ::umask(mask);
  EXPECT_EQ(dir, Own(tmp.path()));
  EXPECT_EQ(ModeOf(dir), 0700u);
  EXPECT_EQ(posix::DebugSocketPath(), dir + "/vx380-debug.sock");

  ::umask(0777);
  ASSERT_EQ(::rmdir(dir.c_str()), 0);
  EXPECT_TRUE(posix::PrivateRuntimeDir(dir, why)) << why;
  ::umask(mask);
  EXPECT_EQ(ModeOf(dir), 0700u) << "usable by its owner even under umask 777";

  ScopedEnv set("XDG_RUNTIME_DIR", tmp.path() + "/");
  EXPECT_TRUE(posix::PrivateRuntimeDir(dir, why)) << why;
  EXPECT_EQ(dir, tmp.path());
}

TEST_F(PrivateDir, AFolderOthersCouldChangeIsNotUsed) {
  const std::string own = Own(tmp.path());
  ASSERT_EQ(::symlink(tmp.path().c_str(), own.c_str()), 0);
  EXPECT_FALSE(posix::PrivateRuntimeDir(dir, why));
  EXPECT_EQ(why, "it is a symbolic link");
  EXPECT_EQ(posix::DebugSocketPath(), "") << "no socket path rather than an unsafe one";

  ASSERT_EQ(::unlink(own.c_str()), 0);
  ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(own.c_str(), 0770), 0);
  EXPECT_FALSE(posix::PrivateRuntimeDir(dir, why));
  EXPECT_EQ(why, "others can write to it");

  ASSERT_EQ(::rmdir(own.c_str()), 0);
  tmp.Write("vx380-" + std::to_string(::geteuid()), "");
  EXPECT_FALSE(posix::PrivateRuntimeDir(dir, why));
  EXPECT_EQ(why, "it is not a directory");
}

TEST_F(PrivateDir, AnotherUsersFolderInItsPlaceIsNotUsedAndStandardErrorSaysSoOnce) {
  if (!CanActAsAnotherUser()) GTEST_SKIP() << "needs root to act as a second user (setpriv)";
  ::chmod(tmp.path().c_str(), 0755);  // the shared folder is made in it
  SharedFolder shared;
  ScopedEnv sharedTmp("TMPDIR", shared.path());
  ASSERT_EQ(ShellAs(kOtherUid, "mkdir -m 700 '" + Own(shared.path()) + "'"), 0);
  EXPECT_FALSE(posix::PrivateRuntimeDir(dir, why));
  EXPECT_EQ(why, "it belongs to another user");

  // A fresh process (the line is said once per process), as this same user.
  HelperAs again(::geteuid(), "socketpath", "", {"TMPDIR=" + shared.path(), "XDG_RUNTIME_DIR", "VX380_DEBUG_SOCKET"});
  EXPECT_EQ(again.ReadLine(),
            "vx380: not using " + Own(shared.path()) + " as a private directory: it belongs to another user");
  EXPECT_EQ(again.ReadLine(), "path=");
  EXPECT_EQ(again.ReadLine(), "path=") << "said once";
  EXPECT_EQ(again.Wait(), 0);
}

}  // namespace
}  // namespace vx380::testing
