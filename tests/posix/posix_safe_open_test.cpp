// Logs in folders other users can write: another user's symlink, file or FIFO at a log's path
// never costs the user a file or a hang, and what the component makes there is the user's only.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "PosixSecondUser.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

constexpr int kWatchdogMs = 3000;  // a hang fails the test rather than stopping the suite

Long OpenAndWrite(const std::string& path, bool truncate, const std::string& bytes = "line\r\n") {
  return WriteLogThroughPlatform(path, bytes, truncate);
}

// The open's result from a child under the watchdog; -1 when it hung.
int OpenWithin(const std::string& path, bool truncate) {
  return InChildWithin(kWatchdogMs, [&] { return static_cast<int>(OpenAndWrite(path, truncate)); });
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(SafeOpen, APlantedSymlinkIsNeverFollowedInASharedFolder) {
  SharedFolder folder;
  const std::string victim = folder.Private("precious.txt");
  std::ofstream(victim) << "precious";
  const std::string log = folder.File("Corvane.Log");
  const std::string plant = "ln -s '" + victim + "' '" + log + "'";
  if (CanActAsAnotherUser()) ASSERT_EQ(ShellAs(kOtherUid, plant), 0);
  else ASSERT_EQ(std::system(plant.c_str()), 0);  // the rule holds whoever planted it

  EXPECT_EQ(OpenWithin(log, true), rt::kPermissionDenied);
  EXPECT_EQ(OpenWithin(log, false), rt::kPermissionDenied);
  EXPECT_EQ(ReadFile(victim), "precious");

  // Outside shared folders a link of the user's own still leads to the log.
  const std::string own = folder.Private("own-link.log");
  ASSERT_EQ(::symlink(victim.c_str(), own.c_str()), 0);
  EXPECT_EQ(OpenAndWrite(own, false, "+more"), 0);
  EXPECT_EQ(ReadFile(victim), "precious+more");
}

TEST(SafeOpen, AnotherUsersFileOrFifoIsAPermissionErrorAtOnce) {
  if (!CanActAsAnotherUser()) GTEST_SKIP() << "needs root to act as a second user (setpriv)";
  SharedFolder folder;
  const std::string file = folder.File("Corvane.Log"), fifo = folder.File("app.log");
  ASSERT_EQ(ShellAs(kOtherUid, "umask 0; printf theirs > '" + file + "'; mkfifo -m 666 '" + fifo + "'"), 0);

  EXPECT_EQ(OpenWithin(file, true), rt::kPermissionDenied);
  EXPECT_EQ(OpenWithin(file, false), rt::kPermissionDenied);
  EXPECT_EQ(ReadFile(file), "theirs") << "neither emptied nor written";
  EXPECT_EQ(OpenWithin(fifo, false), rt::kPermissionDenied) << "-1 means the open hung";
  EXPECT_EQ(OpenWithin(fifo, true), rt::kPermissionDenied);

  // The message log raises the error to LogMsg's caller, as any failure to open it.
  const std::string machine = folder.Private("machine.reg");
  std::ofstream(machine)
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel]\r\n@=\"1\"\r\n";
  ScopedEnv hklm("VX380_HKLM", machine);
  ScopedEnv temp("TEMP", folder.path());
  const int result = InChildWithin(kWatchdogMs, [] {
    try {
      ErrorLog log;
      log.Main();
      log.LogMsg(u"hello");
    } catch (const AutomationError& e) {
      return static_cast<int>(e.number());
    }
    return 0;
  });
  EXPECT_EQ(result, rt::kPermissionDenied);
  EXPECT_EQ(ReadFile(file), "theirs");
}

TEST(SafeOpen, NothingButFilesAndDevicesIsOpenedAndNoOpenWaits) {
  ScratchDir dir;
  const std::string fifo = dir.File("fifo.log");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(OpenWithin(fifo, false), rt::kPathFileAccessError) << "-1 means the open hung";
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(OpenWithin(fifo, false), rt::kPathFileAccessError) << "a FIFO even with a reader";
  ::close(reader);

  const std::string socketPath = dir.File("socket.log");
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(OpenWithin(socketPath, false), rt::kPathFileAccessError);
  ::close(fd);

  // A character device is written as before, waiting for room as any write does.
  EXPECT_EQ(OpenAndWrite("/dev/null", true), 0);
}

TEST(SafeOpen, WhatIsMadeInASharedFolderIsTheUsersOnly) {
  SharedFolder folder;
  const std::string log = folder.File("new.log");
  ASSERT_EQ(OpenAndWrite(log, true, "one\r\n"), 0);
  EXPECT_EQ(ModeOf(log), 0600u);
  ASSERT_EQ(OpenAndWrite(log, false, "two\r\n"), 0);
  EXPECT_EQ(ReadFile(log), "one\r\ntwo\r\n");
  ASSERT_EQ(OpenAndWrite(log, true, "again\r\n"), 0);
  EXPECT_EQ(ReadFile(log), "again\r\n") << "the user's own file there is started afresh";

  const mode_t mask = ::umask(022);
  const std::string own = folder.Private("own.log");
  EXPECT_EQ(OpenAndWrite(own, false), 0);
  ::umask(mask);
  EXPECT_EQ(ModeOf(own), 0644u) << "elsewhere the umask decides, as before";
}

TEST(SafeOpen, NoLogIsMadeInTheRootFolder) {
  // What a log path becomes without a folder ("\" and the name) when there is no home.
  const std::string name = "vx380-unit-" + std::to_string(::getpid()) + ".log";
  FileHandle file = -1;
  EXPECT_EQ(SystemPlatform().OpenTextFile(FromUtf8("\\" + name), true, file), rt::kPathNotFound);
  EXPECT_NE(::access(("/" + name).c_str(), F_OK), 0) << "a file was made in /";
  ::unlink(("/" + name).c_str());
}

}  // namespace
}  // namespace vx380::testing
