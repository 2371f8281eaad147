// vxtrace as its users run it: `vxtrace --out FILE` (the tree view, and --raw, into a file)
// while 4 processes of the library write 2 threads x LINES lines each through the trace ring.
// Every round counts the lines in the recording and checks each thread's order; the figure
// is the median of the rounds' lines per second, from the writers' start to vxtrace's end,
// with the lowest and highest.
//   vxtrace_capture_bench VXTRACE_EXE [LINES_PER_THREAD [ROUNDS]]
// Exits 1 when a round lost a line or put one out of order.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BenchScratch.h"
#include "vx380/Platform.h"
#include "vx380/PosixPlatform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kProcesses = 4, kThreads = 2;

pid_t StartVxtrace(const char* exe, std::vector<std::string> args, const std::string& dir) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (dir + "/view.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (dir + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(exe)};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, exe, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// A host of the library: its threads trace as fast as they can.
pid_t StartWriter(const std::string& socket, long lines) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  setenv("VX380_DEBUG_SOCKET", socket.c_str(), 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, lines] {
      vx380::Platform& platform = vx380::CurrentPlatform();
      for (long i = 0; i < lines; ++i)
        platform.WriteDebugLine("RBDEBUG: " + std::to_string(t) + " " + std::to_string(i) + "\n");
    });
  for (std::thread& t : threads) t.join();
  _exit(0);
}

unsigned long long Field(const std::string& line, const char* name) {
  const std::size_t at = line.find(name);
  return at == std::string::npos ? 0 : std::strtoull(line.c_str() + at + std::strlen(name), nullptr, 10);
}

// Lines in the recording, or -1 when a thread's lines are not all there in order.
long CheckRecording(const std::string& path, long perThread) {
  std::map<std::pair<unsigned long long, unsigned long long>, long> next;
  std::ifstream in(path);
  std::string line;
  long total = 0;
  while (std::getline(in, line)) {
    if (line.rfind("{\"end\":", 0) == 0) continue;  // the recording's closing record
    const std::size_t text = line.find("\"text\":\"RBDEBUG: ");
    if (text == std::string::npos) return -1;
    const long i = std::strtol(line.c_str() + line.find(' ', text + 17) + 1, nullptr, 10);
    long& expected = next[{Field(line, "\"tid\":"), Field(line, "\"pid\":")}];
    if (i != expected) return -1;
    ++expected;
    ++total;
  }
  for (const auto& [writer, count] : next)
    if (count != perThread) return -1;
  return next.size() == kProcesses * kThreads ? total : -1;
}

double CpuSeconds(const rusage& usage) {
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Lines per second of one round, or 0 when it lost a line.
double Round(const char* exe, const std::string& dir, bool raw, long lines) {
  const std::string socket = dir + "/s.sock", recording = dir + "/rec.jsonl";
  const long total = long{kProcesses} * kThreads * lines;
  std::vector<std::string> args{"--socket",  socket, "--out", recording, "--count", std::to_string(total),
                                "--timeout", "600"};
  if (raw) args.push_back("--raw");
  const pid_t vxtrace = StartVxtrace(exe, args, dir);
  struct stat st;
  while (stat((socket + ".ring").c_str(), &st) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto start = Clock::now();
  std::vector<pid_t> writers;
  for (int p = 0; p < kProcesses; ++p) writers.push_back(StartWriter(socket, lines));
  int status = 0;
  rusage listener{}, writer{};
  wait4(vxtrace, &status, 0, &listener);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  double writersCpu = 0;
  for (pid_t w : writers) {
    wait4(w, nullptr, 0, &writer);
    writersCpu += CpuSeconds(writer);
  }
  std::printf("  CPU per line: vxtrace %.0f ns, writers %.0f ns\n", 1e9 * CpuSeconds(listener) / total,
              1e9 * writersCpu / total);
  const long kept = CheckRecording(recording, lines);
  if (kept != total || status != 0) {
    std::printf("  round LOST LINES: %ld of %ld kept in order, exit status %d (see %s)\n", kept, total, status,
                dir.c_str());
    return 0;
  }
  return total / seconds;
}

void Measure(const char* exe, const std::string& dir, bool raw, long lines, int rounds, bool& lossless) {
  std::vector<double> rates;
  double load[3] = {0, 0, 0};
  for (int r = 0; r < rounds; ++r) {
    const double rate = Round(exe, dir, raw, lines);
    lossless = lossless && rate > 0;
    rates.push_back(rate);
    getloadavg(load, 3);
    std::printf("  %s round %d: %.0f lines/s (load average %.2f)\n", raw ? "--raw" : "tree ", r + 1, rate, load[0]);
  }
  std::sort(rates.begin(), rates.end());
  std::printf(
      "vxtrace --out FILE%s, %d processes x %d threads x %ld lines: median %.0f lines/s, min %.0f, max %.0f "
      "over %d rounds%s\n",
      raw ? " --raw" : "", kProcesses, kThreads, lines, rates[rates.size() / 2], rates.front(), rates.back(), rounds,
      lossless ? ", every line kept in order" : ", LINES LOST");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vxtrace_capture_bench VXTRACE_EXE [LINES_PER_THREAD [ROUNDS]]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each round as it ends
  const long lines = argc > 2 ? std::atol(argv[2]) : 1000000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  const std::string pattern = vxtrace_bench::MakeScratchFolder("vxtrace_capture_bench");
  if (pattern.empty()) return 1;
  bool lossless = true;
  Measure(argv[1], pattern, false, lines, rounds, lossless);
  Measure(argv[1], pattern, true, lines, rounds, lossless);
  if (lossless) std::system(("rm -rf " + pattern).c_str());
  return lossless ? 0 : 1;
}
