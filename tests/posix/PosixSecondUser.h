// Helpers for tests that play a second local user of the machine, and for work that must run
// in a child process under a watchdog (a hang then fails the test instead of hanging it).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "PosixTestSupport.h"

namespace vx380::testing {

// The unprivileged user the tests act as, and one the password database does not know.
constexpr unsigned kOtherUid = 65534;
constexpr unsigned kUnknownUid = 4242;

// True when the process can act as another user (it runs as root).
bool CanActAsAnotherUser();

// Runs a shell command as `uid` (setpriv, no groups); its exit status.
int ShellAs(unsigned uid, const std::string& command);

// This test binary started as `uid` in a helper mode (listed in PosixSecondUser.cpp), talked
// to through its standard input and output.
class HelperAs {
 public:
  // `environment`: NAME=VALUE pairs to set, NAME alone to unset.
  HelperAs(unsigned uid, const std::string& mode, const std::string& argument,
           const std::vector<std::string>& environment = {});
  ~HelperAs();
  // Writes one line to the helper's standard input.
  void Say(const std::string& line);
  // One line from the helper's standard output ("" at its end or after waitMs).
  std::string ReadLine(int waitMs = 5000);
  // The helper's exit status after it ends (killed after waitMs).
  int Wait(int waitMs = 5000);

 private:
  int pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// Runs `work` in a forked child; its result, or -1 when it took longer than `waitMs` (the
// child is then killed).
int InChildWithin(int waitMs, const std::function<int()>& work);
// The exit status of a child, or -1 when it did not end within `waitMs` (it is then killed).
int WaitWithin(pid_t pid, int waitMs);

// A folder every user can write, with the sticky bit, as /tmp is; inside a scratch folder
// that others may enter.
class SharedFolder {
 public:
  SharedFolder();
  const std::string& path() const { return shared_; }
  std::string File(const std::string& name) const { return shared_ + "/" + name; }
  // A folder of the test's own user next to it.
  std::string Private(const std::string& name) const { return scratch_.File(name); }

 private:
  ScratchDir scratch_;
  std::string shared_;
};

}  // namespace vx380::testing
