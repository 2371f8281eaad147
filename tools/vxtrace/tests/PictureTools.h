// Helpers of the picture writers' tests: private temporary folders, running a
// program with its output in a file, and the outside tools the tests use.
#pragma once

#include <string>
#include <vector>

namespace vxtrace::testing {

// A folder only this user can enter (mkdtemp), removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs argv (looked up on PATH) without a shell, under `timeout` seconds, with its
// standard output and error in the given files. Returns the exit status, -1 if it
// could not run or was killed.
int RunProgram(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
               int timeoutSeconds = 120);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// The full path of a program on PATH, "" when there is none.
std::string FindProgram(const std::string& name);

// Chromium's path ("" when not installed) and the flags of a quiet, offline,
// throw-away headless run with a profile folder of its own.
std::string Chromium();
std::vector<std::string> HeadlessChromium(const std::string& profileDir);

}  // namespace vxtrace::testing
