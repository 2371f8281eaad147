// Capture throughput through the trace ring: 4 writer processes x 2 threads, every line read
// by the ring's reader and checked to arrive once, in its thread's order.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "platform/posix/TraceRingPosix.h"

namespace vx380::bench {

namespace {

constexpr int kProcesses = 4;
constexpr int kThreads = 2;

[[noreturn]] void Writer(int process, long lines) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([=] {
      const std::string prefix = "capture p" + std::to_string(process) + " t" + std::to_string(t) + " ";
      std::string line;
      for (long n = 0; n < lines; ++n) {
        line = prefix + std::to_string(n) + "\n";
        while (!posix::TryWriteRing(line)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  for (auto& t : threads) t.join();
  std::_Exit(0);
}

struct Tally {
  std::map<std::pair<std::uint32_t, std::uint32_t>, long> next;  // (pid, tid) -> next line number
  long lines = 0;
  long outOfOrder = 0;  // a line older than one already seen from its thread
  long gaps = 0;        // lines missing before one seen
  // Kept cheap, as a live view's reader would be: no allocation per line.
  static void Sink(void* context, const channel::RingRecord& r) {
    auto* tally = static_cast<Tally*>(context);
    ++tally->lines;
    long n = 0;
    std::size_t i = r.text.rfind(' ') + 1;
    for (; i < r.text.size() && r.text[i] >= '0' && r.text[i] <= '9'; ++i) n = n * 10 + (r.text[i] - '0');
    const std::pair<std::uint32_t, std::uint32_t> who{r.pid, r.tid};
    if (!tally->last || tally->lastWho != who) {
      tally->last = &tally->next[who];
      tally->lastWho = who;
    }
    long& expected = *tally->last;
    if (n < expected) {
      ++tally->outOfOrder;
      return;
    }
    if (n > expected) tally->gaps += n - expected;
    expected = n + 1;
  }
  long* last = nullptr;
  std::pair<std::uint32_t, std::uint32_t> lastWho;
};

bool AllExited(std::vector<pid_t>& children) {
  for (pid_t& child : children)
    if (child > 0 && ::waitpid(child, nullptr, WNOHANG) == child) child = 0;
  for (pid_t child : children)
    if (child > 0) return false;
  return true;
}

}  // namespace

int RunCapture(long linesPerThread) {
  ::setenv("VX380_DEBUG_SOCKET", (ScratchDirectory() + "/capture.sock").c_str(), 1);
  posix::TraceRingListener ring;
  std::string error;
  // 64 MiB: a few hundred milliseconds of lines at this rate, should the reader be held up.
  if (!ring.Open(posix::TraceRingPath(), channel::kRingHeaderBytes + (std::size_t{64} << 20), error)) {
    std::fprintf(stderr, "capture: %s\n", error.c_str());
    return 1;
  }
  std::vector<pid_t> children;
  const auto start = std::chrono::steady_clock::now();
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    if (child == 0) Writer(p, linesPerThread);
    children.push_back(child);
  }
  Tally tally;
  const long expected = static_cast<long>(kProcesses) * kThreads * linesPerThread;
  auto lastLine = start;
  while (tally.lines < expected) {
    if (ring.Poll(&Tally::Sink, &tally) > 0) {
      lastLine = std::chrono::steady_clock::now();
    } else if (AllExited(children) && std::chrono::steady_clock::now() - lastLine > std::chrono::seconds(2)) {
      break;
    } else {
      ring.Wait(10);
    }
  }
  const double seconds = std::chrono::duration<double>(lastLine - start).count();
  AllExited(children);
  for (pid_t child : children)
    if (child > 0) ::kill(child, SIGKILL), ::waitpid(child, nullptr, 0);
  long threadsComplete = 0;
  for (const auto& [who, next] : tally.next) threadsComplete += next == linesPerThread;
  std::printf(
      "capture: %d processes x %d threads x %ld lines through the ring: %ld of %ld captured in %.3f s"
      " = %.0f lines/s; out of order %ld, missing %ld, threads complete %ld of %d, dropped %llu, holes %llu"
      " (goal >= 2000000 lines/s, every line in order)\n",
      kProcesses, kThreads, linesPerThread, tally.lines, expected, seconds, tally.lines / seconds, tally.outOfOrder,
      tally.gaps, threadsComplete, kProcesses * kThreads, static_cast<unsigned long long>(ring.Dropped()),
      static_cast<unsigned long long>(ring.Holes()));
  std::fflush(stdout);
  return tally.lines == expected && tally.outOfOrder == 0 ? 0 : 1;
}

}  // namespace vx380::bench
