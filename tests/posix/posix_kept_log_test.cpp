// A thread keeps its last log open between lines: what changes at the log's path between two
// lines is seen at the second, as if the log were opened afresh for each.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "PosixSecondUser.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

int OpenDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(KeptLog, ALogRenamedRemovedOrReplacedBetweenLinesIsOpenedAfresh) {
  ScratchDir dir;
  const std::string log = dir.File("app.log");
  ASSERT_EQ(WriteLogThroughPlatform(log, "one\r\n", false), 0);
  ASSERT_EQ(::rename(log.c_str(), dir.File("app.log.1").c_str()), 0);  // rotated
  ASSERT_EQ(WriteLogThroughPlatform(log, "two\r\n", false), 0);
  ASSERT_EQ(::unlink(log.c_str()), 0);
  ASSERT_EQ(WriteLogThroughPlatform(log, "three\r\n", false), 0);
  std::ofstream(dir.File("other")) << "other\r\n";
  ASSERT_EQ(::rename(dir.File("other").c_str(), log.c_str()), 0);  // replaced
  ASSERT_EQ(WriteLogThroughPlatform(log, "four\r\n", false), 0);
  ASSERT_EQ(WriteLogThroughPlatform(log, "five\r\n", false), 0);
  EXPECT_EQ(ReadFile(dir.File("app.log.1")), "one\r\n");
  EXPECT_EQ(ReadFile(log), "other\r\nfour\r\nfive\r\n");
  ASSERT_EQ(WriteLogThroughPlatform(log, "afresh\r\n", true), 0);
  EXPECT_EQ(ReadFile(log), "afresh\r\n") << "a log to be emptied is emptied";
}

TEST(KeptLog, ASymlinkPlantedInASharedFolderBetweenLinesIsRefused) {
  SharedFolder folder;
  const std::string victim = folder.Private("precious.txt");
  std::ofstream(victim) << "precious";
  const std::string log = folder.File("Corvane.Log");
  ASSERT_EQ(WriteLogThroughPlatform(log, "mine\r\n", false), 0);
  ASSERT_EQ(::unlink(log.c_str()), 0);
  const std::string plant = "ln -s '" + victim + "' '" + log + "'";
  if (CanActAsAnotherUser()) ASSERT_EQ(ShellAs(kOtherUid, plant), 0);
  else ASSERT_EQ(std::system(plant.c_str()), 0);
  EXPECT_EQ(WriteLogThroughPlatform(log, "next\r\n", false), rt::kPermissionDenied);
  EXPECT_EQ(ReadFile(victim), "precious");
}

TEST(KeptLog, NothingStaysOpenForAnotherNameAThreadThatEndedOrAForkedChild) {
  ScratchDir dir;
  const int before = OpenDescriptors();
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(WriteLogThroughPlatform(dir.File("log" + std::to_string(i)), "x\r\n", false), 0);
  EXPECT_LE(OpenDescriptors(), before + 1) << "one log kept, for the last name";
  for (int i = 0; i < 50; ++i)
    std::thread([&] { WriteLogThroughPlatform(dir.File("threads.log"), "t\r\n", false); }).join();
  EXPECT_LE(OpenDescriptors(), before + 1) << "a thread's kept log closes when it ends";

  ASSERT_EQ(WriteLogThroughPlatform(dir.File("shared.log"), "parent\r\n", false), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const bool wrote = WriteLogThroughPlatform(dir.File("shared.log"), "child\r\n", false) == 0;
    ::_exit(wrote ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(WriteLogThroughPlatform(dir.File("shared.log"), "parent again\r\n", false), 0);
  EXPECT_EQ(ReadFile(dir.File("shared.log")), "parent\r\nchild\r\nparent again\r\n");
}

TEST(KeptLog, AHandleClosedOnAnotherThreadIsClosedThere) {
  ScratchDir dir;
  Platform& platform = SystemPlatform();
  FileHandle file = -1;
  ASSERT_EQ(platform.OpenTextFile(FromUtf8(dir.File("a.log")), false, file), 0);
  std::thread([&] { platform.CloseTextFile(file); }).join();
  EXPECT_EQ(platform.WriteTextFile(file, "stale\r\n"), rt::kBadFileName);
  // The number may now name another file of the process: the next line must not use it.
  ASSERT_EQ(WriteLogThroughPlatform(dir.File("b.log"), "b\r\n", false), 0);
  ASSERT_EQ(WriteLogThroughPlatform(dir.File("a.log"), "a\r\n", false), 0);
  EXPECT_EQ(ReadFile(dir.File("a.log")), "a\r\n");
  EXPECT_EQ(ReadFile(dir.File("b.log")), "b\r\n");
}

}  // namespace
}  // namespace vx380::testing
