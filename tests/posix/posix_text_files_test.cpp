// Text files on the POSIX platform: append and truncate, "\" paths, and failures as the
// runtime error numbers the core raises.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <thread>
#include <vector>

#include "PosixTestSupport.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

class TextFiles : public ::testing::Test {
 protected:
  ScratchDir dir;
  Platform& platform = SystemPlatform();

  Long Open(const std::string& path, bool truncate = false) {
    FileHandle file = -1;
    const Long error = platform.OpenTextFile(FromUtf8(path), truncate, file);
    if (error == 0) platform.CloseTextFile(file);
    return error;
  }

  Long Write(const std::string& path, const std::string& bytes, bool truncate = false) {
    return WriteLogThroughPlatform(path, bytes, truncate);
  }
};

TEST_F(TextFiles, AppendsOrStartsAfresh) {
  const std::string log = dir.File("error.log");
  ASSERT_EQ(Write(log, "first\r\n"), 0);
  ASSERT_EQ(Write(log, "second\r\n"), 0);
  EXPECT_EQ(ReadFile(log), "first\r\nsecond\r\n");
  ASSERT_EQ(Write(log, "banner\r\n", true), 0);
  EXPECT_EQ(ReadFile(log), "banner\r\n");
  ASSERT_EQ(Write(log, ""), 0);
  EXPECT_EQ(ReadFile(log), "banner\r\n");

  // A "\" separates directories, as in the paths hosts pass.
  ASSERT_EQ(Write(dir.path() + "\\Corvane.Log", "x"), 0);
  EXPECT_EQ(ReadFile(dir.File("Corvane.Log")), "x");
  const std::string bytes("\x80\xFF\0end", 6);
  ASSERT_EQ(Write(dir.File("bytes"), bytes), 0);
  EXPECT_EQ(ReadFile(dir.File("bytes")), bytes) << "written as given, byte for byte";
}

TEST_F(TextFiles, OpenFailuresAreRuntimeErrorNumbers) {
  EXPECT_EQ(Open(dir.File("missing/error.log")), rt::kPathNotFound);
  EXPECT_EQ(Open(dir.Write("plain", "") + "/error.log"), rt::kPathNotFound);
  EXPECT_EQ(Open(dir.path()), rt::kPathFileAccessError);
  EXPECT_EQ(Open(""), rt::kBadFileName);
  EXPECT_EQ(Open(dir.File(std::string(300, 'n'))), rt::kBadFileName);
  FileHandle file = -1;
  EXPECT_EQ(platform.OpenTextFile(String(u"a\0b", 3), false, file), rt::kBadFileName);

  if (::geteuid() != 0) {
    const std::string locked = dir.File("locked");
    ASSERT_EQ(::mkdir(locked.c_str(), 0500), 0);
    EXPECT_EQ(Open(locked + "/error.log"), rt::kPermissionDenied);
  } else if (::access("/sys/kernel/notes", F_OK) == 0) {
    EXPECT_EQ(Open("/sys/kernel/notes"), rt::kPermissionDenied);  // read-only even for root
  }
}

TEST_F(TextFiles, AFullDiskIsError61) {
  FileHandle file = -1;
  ASSERT_EQ(platform.OpenTextFile(u"/dev/full", false, file), 0);
  EXPECT_EQ(platform.WriteTextFile(file, "line\r\n"), rt::kDiskFull);
  platform.CloseTextFile(file);
}

TEST_F(TextFiles, OnlyHandlesItOpenedAreWritten) {
  EXPECT_EQ(platform.WriteTextFile(STDOUT_FILENO, "must not reach stdout\n"), rt::kBadFileName);
  EXPECT_EQ(platform.WriteTextFile(987654, "x"), rt::kBadFileName);
  platform.CloseTextFile(STDERR_FILENO);  // ignored: not ours
  EXPECT_NE(::fcntl(STDERR_FILENO, F_GETFD), -1);

  FileHandle file = -1;
  ASSERT_EQ(platform.OpenTextFile(FromUtf8(dir.File("a.log")), false, file), 0);
  platform.CloseTextFile(file);
  EXPECT_EQ(platform.WriteTextFile(file, "x"), rt::kBadFileName);
}

TEST_F(TextFiles, ConcurrentAppendersNeverTearLines) {
  const std::string log = dir.File("shared.log");
  constexpr int kThreads = 4, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i)
        Write(log,
              "thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(200, 'a' + t) + "\r\n");
    });
  }
  for (auto& thread : threads) thread.join();

  const std::string text = ReadFile(log);
  std::set<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(at, end - at);
    const int t = line[7] - '0';
    EXPECT_EQ(line.substr(line.size() - 200), std::string(200, 'a' + t)) << line;
    lines.insert(line.substr(0, line.size() - 200));
    at = end + 2;
  }
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
}

}  // namespace
}  // namespace vx380::testing
