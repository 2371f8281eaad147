// The live capture fixture: the real vxtrace binary on a socket of its own, and
// senders that write the way the component does.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

namespace vxtrace_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Descriptors a started vxtrace takes as its standard input or output instead of files; open
// them close-on-exec (pipe2 with O_CLOEXEC) so the child keeps only its own copies.
struct Streams {
  int in = -1;
  int out = -1;
};

// Reads a descriptor on a thread of its own until its end, as slowly as asked: a slow
// terminal or pipe at the other end of a capture.
class SlowReader {
 public:
  SlowReader(int fd, std::chrono::microseconds pause) : fd_(fd) {
    thread_ = std::thread([this, pause] {
      char buffer[16384];
      for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        text_.append(buffer, static_cast<size_t>(n));
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
      }
    });
  }
  ~SlowReader() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  int fd_;
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

inline long CountLines(const std::string& text, const std::string& start) {
  long n = 0;
  for (size_t at = 0; (at = text.find(start, at)) != std::string::npos; at += start.size())
    if (at == 0 || text[at - 1] == '\n') ++n;
  return n;
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vxtrace-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    socket_ = dir_ / "debug.sock";
  }
  void TearDown() override {
    for (pid_t pid : running_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  // Starts vxtrace with its output going to files named after tag.
  pid_t Start(std::vector<std::string> args, const std::string& tag = "run", const std::string& stdinFile = "",
              Streams streams = {}) {
    pid_t pid = fork();
    if (pid == 0) {
      int out =
          streams.out >= 0 ? streams.out : open((dir_ / (tag + ".out")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open((dir_ / (tag + ".err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = streams.in >= 0 ? streams.in : open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
      dup2(out, 1);
      dup2(err, 2);
      dup2(in, 0);
      // $VXTRACE_UNDER_TEST runs the suite against another build (an earlier one, say).
      const char* other = std::getenv("VXTRACE_UNDER_TEST");
      const char* exe = other && *other ? other : VXTRACE_EXE;
      std::vector<char*> argv{const_cast<char*>(exe)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(exe, argv.data());
      _exit(127);
    }
    running_.push_back(pid);
    return pid;
  }

  // Waits for a state a run reaches by itself: the bound only keeps a broken run from hanging
  // the suite, so it is generous for a machine busy with other builds.
  static constexpr auto kPatience = 300s;

  // Exit status, or -1 when it does not end in time (it is killed then).
  int Finish(pid_t pid, std::chrono::milliseconds limit = kPatience) {
    auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) return -1;
      std::this_thread::sleep_for(10ms);
    }
    running_.erase(std::find(running_.begin(), running_.end(), pid));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // True once done() holds, false when it still does not after kPatience.
  template <class Done>
  static bool Eventually(Done done) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  bool AppearsSoon(const fs::path& p) {
    return Eventually([&] { return fs::exists(p); });
  }

  bool OutputHolds(const std::string& tag, const std::string& text) {
    return Eventually([&] { return Slurp(dir_ / (tag + ".out")).find(text) != std::string::npos; });
  }

  bool ErrorHolds(const std::string& tag, const std::string& text) {
    return Eventually([&] { return Slurp(dir_ / (tag + ".err")).find(text) != std::string::npos; });
  }

  // Starts a program with its output going to files named after tag.
  pid_t Spawn(std::vector<std::string> argv, const std::string& tag) {
    pid_t pid = fork();
    if (pid == 0) {
      int out = open((dir_ / (tag + ".out")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open((dir_ / (tag + ".err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> args;
      for (std::string& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    running_.push_back(pid);
    return pid;
  }

  // Sends like the component: one datagram per line, line feed included.
  void Send(const std::string& text, const fs::path& to) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, to.c_str());
    ASSERT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr),
              static_cast<ssize_t>(text.size()))
        << std::strerror(errno);
    close(fd);
  }
  void Send(const std::string& text) { Send(text, socket_); }

  std::string Out(const std::string& tag = "run") { return Slurp(dir_ / (tag + ".out")); }
  std::string Err(const std::string& tag = "run") { return Slurp(dir_ / (tag + ".err")); }

  fs::path dir_;
  fs::path socket_;
  std::vector<pid_t> running_;
};

}  // namespace vxtrace_test
