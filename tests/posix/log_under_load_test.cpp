// Many threads and processes appending to one error log: every line arrives exactly once and
// whole, with one banner per thread. Runs on the real platform.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "vx380/ErrorLog.h"

namespace {

constexpr int kThreads = 8;
constexpr int kProcesses = 4;
constexpr int kErrorsEach = 2000;

void ReportErrors(const std::string& path, const std::string& writer) {
  vx380::ErrorLog log;
  log.Main();
  log.Initialize(u"LoadTest", u"");  // before the level: a first LogError would reset it
  log.LogFilename(vx380::FromUtf8(path));
  log.ReportingLevel(vx380::mxReportingLevelLog);
  const vx380::String source = vx380::FromUtf8(writer);
  for (vx380::Long i = 0; i < kErrorsEach; ++i)
    log.LogError(source, u"Disk full while saving the drawing named in the title block", u"", 0, i, u"Save");
}

TEST(ErrorLogUnderLoad, ThreadsAndProcessesNeverTearOrLoseLines) {
  const auto dir = std::filesystem::temp_directory_path() / ("vx380-load-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "shared.log").string();
  ::setenv("VX380_DEBUG_SOCKET", (dir / "nobody-listens.sock").c_str(), 1);

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ReportErrors(path, "P" + std::to_string(p));
      ::_exit(0);
    }
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(ReportErrors, path, "T" + std::to_string(t));
  for (auto& thread : threads) thread.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");

  std::map<std::string, int> seen;
  int banners = 0, dateLines = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    if (line == "==============================") {
      ++banners;
    } else if (line.rfind("ERROR: ", 0) == 0) {
      ++seen[line];
    } else {
      ++dateLines;  // the banner's date and time
      EXPECT_NE(line.find(" - "), std::string::npos) << "torn line: " << line;
    }
  }
  const int writers = kThreads + kProcesses;
  EXPECT_EQ(banners, 2 * writers);
  EXPECT_EQ(dateLines, writers);
  ASSERT_EQ(seen.size(), static_cast<size_t>(writers * kErrorsEach));
  for (const auto& [line, count] : seen) ASSERT_EQ(count, 1) << line;
  for (int w = 0; w < writers; ++w) {
    const std::string writer = w < kThreads ? "T" + std::to_string(w) : "P" + std::to_string(w - kThreads);
    const std::string last = "ERROR: " + writer +
                             " - Save described as: Disk full while saving the drawing named "
                             "in the title block, Error Number is: " +
                             std::to_string(kErrorsEach - 1);
    EXPECT_EQ(seen.count(last), 1u) << last;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
