// vxtrace's costs, each as a ratio against a baseline measured in the same run:
//   capture: 4 writer processes, every line kept, through vxtrace (tree view to
//            /dev/null) against a bare receiver that only drains the socket;
//   read:    rendering a recording (plain text and JSON Lines) against reading its bytes;
//   host:    a tracing host (the library's entry/exit pair) with vxtrace listening
//            against nobody listening, and against a bare receiver.
//   vxtrace_bench VXTRACE_EXE [LINES_PER_WRITER [OTHER_VXTRACE_EXE]]
// An other vxtrace (an earlier build, say) is measured on the same capture for comparison.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchScratch.h"
#include "vx380/ErrorLog.h"
#include "vx380/PosixPlatform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
std::string gDir;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

sockaddr_un Address(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

pid_t StartVxtrace(const char* exe, std::vector<std::string> args, const std::string& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(exe)};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, exe, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// A receiver that does nothing but drain the socket: the channel's own limit.
class BareReceiver {
 public:
  explicit BareReceiver(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = Address(path);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int size = 4 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // Drains the way vxtrace does: wake once, then read until nothing is left.
    reader_ = std::thread([this] {
      char buffer[65536];
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        while (recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) ++received_;
      }
    });
  }
  ~BareReceiver() {
    stop_ = true;
    reader_.join();
    close(fd_);
    unlink(path_.c_str());
  }
  long long received() const { return received_; }

 private:
  std::string path_;
  int fd_;
  std::atomic<bool> stop_{false};
  std::atomic<long long> received_{0};
  std::thread reader_;
};

// Four processes, each sending lines on a blocking socket: none is dropped.
void RunWriters(const std::string& path, long lines) {
  std::vector<pid_t> writers;
  for (int w = 0; w < 4; ++w) {
    pid_t pid = fork();
    if (pid == 0) {
      int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
      sockaddr_un a = Address(path);
      connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      for (long i = 0; i < lines; ++i) {
        std::string line =
            "RBDEBUG , END<<< ,        1 , ..Load" + std::to_string(w) + " , " + std::to_string(i) + " , EOL \n";
        send(fd, line.data(), line.size(), 0);
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t w : writers) waitpid(w, nullptr, 0);
}

// Lines per second through vxtrace, or 0 when a line went missing.
double ThroughVxtrace(const char* exe, long lines) {
  const std::string path = gDir + "/capture.sock", out = gDir + "/capture.out";
  pid_t pid = StartVxtrace(
      exe, {"--socket", path, "--count", std::to_string(4 * lines), "--timeout", "120", "--summary", "--tree"}, out);
  while (!Exists(path)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto start = Clock::now();
  RunWriters(path, lines);
  waitpid(pid, nullptr, 0);
  const double seconds = Seconds(start);
  std::ifstream summary(out);
  std::string text((std::istreambuf_iterator<char>(summary)), std::istreambuf_iterator<char>());
  const bool lossless = text.find("\n" + std::to_string(4 * lines) + " lines,") != std::string::npos;
  return lossless ? 4 * lines / seconds : 0;
}

// The machine is shared: each figure is the best of kRounds, the contenders taking turns.
constexpr int kRounds = 3;

double BareThroughput(long lines) {
  const std::string path = gDir + "/capture.sock";
  BareReceiver receiver(path);
  const auto start = Clock::now();
  RunWriters(path, lines);
  while (receiver.received() < 4 * lines) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 4 * lines / Seconds(start);
}

void Capture(const char* exe, long lines, const char* other) {
  double bare = 0, viewed = 0, before = 0;
  bool lossless = true;
  for (int round = 0; round < kRounds; ++round) {
    bare = std::max(bare, BareThroughput(lines));
    const double v = ThroughVxtrace(exe, lines);
    lossless = lossless && v > 0;
    viewed = std::max(viewed, v);
    if (other) before = std::max(before, ThroughVxtrace(other, lines));
  }
  std::printf(
      "capture, 4 writers x %ld lines, tree and summary: bare receiver %.0f lines/s, vxtrace %.0f lines/s%s, "
      "ratio %.2f\n",
      lines, bare, viewed, lossless ? " (every line kept)" : " (LINES MISSING)", viewed / bare);
  if (other)
    std::printf("capture, the same through %s: %.0f lines/s; this vxtrace against it: %.2f\n", other, before,
                before > 0 ? viewed / before : 0);
}

double TimeRun(const char* exe, std::vector<std::string> args) {
  auto start = Clock::now();
  pid_t pid = StartVxtrace(exe, std::move(args), "/dev/null");
  waitpid(pid, nullptr, 0);
  return Seconds(start);
}

void WriteRun(const std::string& text, const std::string& jsonl, long lines) {
  std::ofstream plain(text), json(jsonl);
  for (long i = 0; i < lines / 4; ++i) {
    const std::string items[] = {"RBDEBUG , BEG>>> , ........ , ..Load , " + std::to_string(i) + " , EOL ",
                                 "RBDEBUG , L(120) ,        9 ,     Load x",
                                 "RBDEBUG: reading item " + std::to_string(i),
                                 "RBDEBUG , END<<< ,       16 , ..Load ,  , EOL "};
    for (const std::string& line : items) {
      plain << line << '\n';
      json << "{\"time\":1765152267." << 100000 + i % 900000
           << ",\"pid\":4242,\"tid\":4243,\"process\":\"host\",\"text\":\"" << line << "\\n\"}\n";
    }
  }
}

void Read(const char* exe, long lines) {
  const std::string text = gDir + "/run.txt", jsonl = gDir + "/run.jsonl";
  WriteRun(text, jsonl, lines);
  auto start = Clock::now();
  for (const std::string& f : {text, jsonl}) {
    std::ifstream in(f, std::ios::binary);
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    }
  }
  const double bytes = Seconds(start) / 2;
  const double plain = TimeRun(exe, {"--read", text, "--summary", "--tree"});
  const double json = TimeRun(exe, {"--read", jsonl, "--summary", "--tree"});
  std::printf(
      "read, %ld lines to a tree: plain text %.0f lines/s, JSON Lines %.0f lines/s; "
      "against reading the bytes: %.1fx and %.1fx\n",
      lines, lines / plain, lines / json, plain / bytes, json / bytes);
}

// The library's entry/exit pair, as a traced host calls it.
double HostSeconds(const std::string& socketPath, long pairs) {
  setenv("VX380_DEBUG_SOCKET", socketPath.c_str(), 1);
  vx380::ErrorLog log;
  log.Main();
  const vx380::String note = u"start", done = u"done";
  auto start = Clock::now();
  for (long i = 0; i < pairs; ++i) {
    log.RBDEBUGENTER(u"LoadDrawing", note);
    log.RBDEBUGEXIT(done);
  }
  return Seconds(start);
}

double HostWithVxtrace(const char* exe, const std::string& path, long pairs) {
  pid_t pid = StartVxtrace(exe, {"--socket", path, "--tree"}, "/dev/null");
  while (!Exists(path)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double seconds = HostSeconds(path, pairs);
  kill(pid, SIGINT);
  waitpid(pid, nullptr, 0);
  return seconds;
}

void Host(const char* exe, long pairs) {
  const std::string path = gDir + "/host.sock";
  HostSeconds(gDir + "/nobody.sock", pairs / 10);  // warm up
  double alone = 1e9, bare = 1e9, viewed = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    alone = std::min(alone, HostSeconds(gDir + "/nobody.sock", pairs));
    {
      BareReceiver receiver(path);
      bare = std::min(bare, HostSeconds(path, pairs));
    }
    viewed = std::min(viewed, HostWithVxtrace(exe, path, pairs));
  }
  std::printf(
      "host, %ld entry/exit pairs: %.2f us a pair alone, %.2f with a bare receiver, %.2f with vxtrace; "
      "slowdown with vxtrace %.2fx against nobody listening, %.2fx against a bare receiver\n",
      pairs, alone * 1e6 / pairs, bare * 1e6 / pairs, viewed * 1e6 / pairs, viewed / alone, viewed / bare);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vxtrace_bench VXTRACE_EXE [LINES_PER_WRITER]\n");
    return 2;
  }
  const long lines = argc > 2 ? std::atol(argv[2]) : 50000;
  gDir = vxtrace_bench::MakeScratchFolder("vxtrace_bench");
  if (gDir.empty()) return 1;
  signal(SIGPIPE, SIG_IGN);
  Capture(argv[1], lines, argc > 3 ? argv[3] : nullptr);
  Read(argv[1], 4 * lines);
  Host(argv[1], lines);
  std::system(("rm -rf " + gDir).c_str());
  return 0;
}
