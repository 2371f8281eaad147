// Live capture: the real vxtrace binary on a socket of its own, fed datagrams the
// way the component sends them.
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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kExample[] = {
    "RBDEBUG , BEG>>> , ........ , Startup , start , EOL ",
    "RBDEBUG , L(5)   ,       40 ,   Startup ",
    "RBDEBUG , BEG>>> , ........ , ..Load ,  , EOL ",
    "RBDEBUG , L(120) ,        9 ,     Load x",
    "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL ",
    "RBDEBUG , END<<< ,      250 , Startup , done , EOL ",
};

const char* const kExampleTree =
    "┌ Startup  [start]\n"
    "│ · L5  +40 ms\n"
    "│ ┌ Load\n"
    "│ │ · L120  +9 ms  [x]\n"
    "│ └ Load  16 ms\n"
    "└ Startup  250 ms  [done]\n";

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
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
  pid_t Start(std::vector<std::string> args, const std::string& tag = "run",
              const std::string& stdinFile = "") {
    pid_t pid = fork();
    if (pid == 0) {
      int out = open((dir_ / (tag + ".out")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open((dir_ / (tag + ".err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
      dup2(out, 1);
      dup2(err, 2);
      dup2(in, 0);
      std::vector<char*> argv{const_cast<char*>(VXTRACE_EXE)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(VXTRACE_EXE, argv.data());
      _exit(127);
    }
    running_.push_back(pid);
    return pid;
  }

  // Exit status, or -1 when it does not end in time (it is killed then).
  int Finish(pid_t pid, std::chrono::milliseconds limit = 10s) {
    auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) return -1;
      std::this_thread::sleep_for(10ms);
    }
    running_.erase(std::find(running_.begin(), running_.end(), pid));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  bool AppearsSoon(const fs::path& p) {
    for (int i = 0; i < 500; ++i) {
      if (fs::exists(p)) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  bool OutputHolds(const std::string& tag, const std::string& text) {
    for (int i = 0; i < 500; ++i) {
      if (Slurp(dir_ / (tag + ".out")).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  bool ErrorHolds(const std::string& tag, const std::string& text) {
    for (int i = 0; i < 500; ++i) {
      if (Slurp(dir_ / (tag + ".err")).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Sends like the component: one datagram per line, line feed included.
  void Send(const std::string& text, const fs::path& to) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, to.c_str());
    ASSERT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&addr),
                     sizeof addr),
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

TEST_F(Capture, DrawsTheTreeOfWhatArrivesAndRecordsIt) {
  pid_t pid = Start({"--socket", socket_, "--count", "6", "--timeout", "20", "--color=never",
                     "--out", dir_ / "record.txt"});
  ASSERT_TRUE(AppearsSoon(socket_));
  for (const char* line : kExample) Send(std::string(line) + "\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(), kExampleTree);
  // The recording replays as the same tree.
  EXPECT_EQ(Finish(Start({"--read", dir_ / "record.txt"}, "replay")), 0) << Err("replay");
  EXPECT_EQ(Out("replay"), kExampleTree);
  EXPECT_FALSE(fs::exists(socket_)) << "the socket path is given back at exit";
}

TEST_F(Capture, RawModeShowsEachLineAndTheSendingProcess) {
  pid_t pid = Start({"--socket", socket_, "--raw", "--pids", "--count", "2", "--timeout", "20"});
  ASSERT_TRUE(AppearsSoon(socket_));
  Send("RBDEBUG: one\nRBDEBUG: two\n");  // one call that holds two lines
  Send("\n");                            // an empty trace line
  EXPECT_EQ(Finish(pid), 0) << Err();
  std::string tag = "[" + std::to_string(getpid()) + "] ";
  EXPECT_EQ(Out(), tag + "RBDEBUG: one\n" + tag + "RBDEBUG: two\n" + tag + "\n");
}

TEST_F(Capture, FindsTheSocketThroughTheEnvironment) {
  setenv("VX380_DEBUG_SOCKET", socket_.c_str(), 1);
  pid_t pid = Start({"--count", "1", "--timeout", "20", "--summary"});
  unsetenv("VX380_DEBUG_SOCKET");
  ASSERT_TRUE(AppearsSoon(socket_));
  Send(std::string(kExample[5]) + "\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_NE(Out().find("Startup       1        250       250      250     250.0      250\n"), std::string::npos) << Out();
}

TEST_F(Capture, RefusesWhileAnotherListenerHoldsTheSocket) {
  pid_t first = Start({"--socket", socket_, "--count", "1", "--timeout", "20"}, "first");
  ASSERT_TRUE(AppearsSoon(socket_));
  pid_t second = Start({"--socket", socket_, "--timeout", "20"}, "second");
  EXPECT_EQ(Finish(second), 3);
  EXPECT_NE(Err("second").find("already holds"), std::string::npos) << Err("second");
  ASSERT_TRUE(fs::exists(socket_)) << "the refused one must not take the path away";
  Send("RBDEBUG: still mine\n");
  EXPECT_EQ(Finish(first), 0);
  EXPECT_EQ(Out("first"), "» still mine\n");
}

TEST_F(Capture, TakesOverASocketLeftByADeadListener) {
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socket_.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(fd);  // the file stays behind, as after a crash
  ASSERT_TRUE(fs::exists(socket_));

  pid_t pid = Start({"--socket", socket_, "--count", "1", "--timeout", "20", "--ascii"});
  ASSERT_TRUE(ErrorHolds("run", "listening on")) << Err();
  Send("RBDEBUG Stack is empty\n");
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(), "! RBDEBUG Stack is empty\n");
}

TEST_F(Capture, LeavesAFileThatIsNotASocketAlone) {
  std::ofstream(socket_) << "precious";
  pid_t pid = Start({"--socket", socket_, "--timeout", "5"});
  EXPECT_EQ(Finish(pid), 1);
  EXPECT_EQ(Slurp(socket_), "precious");
}

TEST_F(Capture, ReportsATimeoutBeforeTheCountCame) {
  pid_t pid = Start({"--socket", socket_, "--count", "2", "--timeout", "0.3"});
  ASSERT_TRUE(AppearsSoon(socket_));
  Send("RBDEBUG: only one\n");
  EXPECT_EQ(Finish(pid), 4);
  EXPECT_EQ(Out(), "» only one\n");
  EXPECT_FALSE(fs::exists(socket_));
}

TEST_F(Capture, CtrlCEndsCleanlyWithASummary) {
  pid_t pid = Start({"--socket", socket_, "--ascii"});
  ASSERT_TRUE(AppearsSoon(socket_));
  Send(std::string(kExample[0]) + "\n");
  Send(std::string(kExample[2]) + "\n");
  Send(std::string(kExample[4]) + "\n");
  ASSERT_TRUE(OutputHolds("run", "\\ Load  16 ms\n")) << Out();
  kill(pid, SIGINT);
  EXPECT_EQ(Finish(pid), 0) << Err();
  EXPECT_EQ(Out(),
            "/ Startup  [start]\n"
            "| / Load\n"
            "| \\ Load  16 ms\n"
            "\n"
            "routine   calls   total ms   self ms   min ms    avg ms   max ms\n"
            "Load          1         16        16       16      16.0       16\n"
            "Startup       1          -         -        -         -        -\n"
            "3 lines, 0 errors, 0 warnings, 0 unrecognised, 0 unbalanced\n"
            "still open: Startup\n");
  EXPECT_FALSE(fs::exists(socket_));
}

TEST_F(Capture, RendersACapturedFileWithWindowsLineEnds) {
  std::string crlf;
  for (const char* line : kExample) crlf += std::string(line) + "\r\n";
  std::ofstream(dir_ / "capture.txt", std::ios::binary) << crlf;
  EXPECT_EQ(Finish(Start({"--read", dir_ / "capture.txt"})), 0) << Err();
  EXPECT_EQ(Out(), kExampleTree);

  // From standard input, with the last line end missing.
  std::ofstream(dir_ / "stdin.txt", std::ios::binary) << "RBDEBUG: a\r\nRBDEBUG: b";
  EXPECT_EQ(Finish(Start({"--read", "-", "--ascii"}, "run", dir_ / "stdin.txt")), 0);
  EXPECT_EQ(Out(), "> a\n> b\n");

  EXPECT_EQ(Finish(Start({"--read", dir_ / "missing.txt"})), 1);
}

}  // namespace
