// A host of the real library for the ring tests: THREADS threads write through the
// platform's debug channel, which uses the listener's ring when one is offered.
//   ring_sender SOCKET THREADS numbered N   "RBDEBUG: <thread> <i>" for i < N, then ends
//   ring_sender SOCKET THREADS endless N    the same, prints "written" once every thread
//                                           wrote N lines, and goes on until killed
//   ring_sender SOCKET 1 wide N BYTES       N lines of BYTES bytes, "RBDEBUG: 0 <i> xxx..."
//   ring_sender SOCKET 1 held N BYTES       as wide, after one line "RBDEBUG: ready" and
//                                           "ready" printed, once SIGUSR1 came (POSIX)
//   ring_sender - THREADS debugger N        Windows: as numbered, with a debugger attached (the
//                                           rig's attach_debugger, named by VX380_DEBUGGER)
// Before writing, each thread prints "thread <t> <pid> <tid>". SOCKET is POSIX's; "-" on Windows.
#ifdef _WIN32
#include <windows.h>

#include <memory>

#include "DebuggerAttached.h"
#else
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vx380/Platform.h"

namespace {

std::mutex gPrint;
std::atomic<int> gDone{0};

#ifdef _WIN32
unsigned long ProcessId() { return GetCurrentProcessId(); }
unsigned long ThreadId() { return GetCurrentThreadId(); }
#else
unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }
unsigned long ThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }
#endif

void Say(const std::string& text) {
  std::lock_guard lock(gPrint);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string Line(int thread, long i, std::size_t bytes) {
  std::string line = "RBDEBUG: " + std::to_string(thread) + " " + std::to_string(i);
  if (bytes > line.size() + 2) {
    line += ' ';
    line.append(bytes - line.size() - 1, 'x');
  }
  return line + "\n";
}

void Write(int thread, const std::string& mode, long lines, std::size_t bytes) {
  Say("thread " + std::to_string(thread) + " " + std::to_string(ProcessId()) + " " + std::to_string(ThreadId()) + "\n");
  vx380::Platform& platform = vx380::CurrentPlatform();
  for (long i = 0; mode == "endless" || i < lines; ++i) {
    platform.WriteDebugLine(Line(thread, i, bytes));
    if (i + 1 == lines) ++gDone;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  const int threads = std::atoi(argv[2]);
  const std::string mode = argv[3];
#ifdef _WIN32
  // Such a process keeps writing to the debug output; the debugger lets each line on to DBWIN.
  std::unique_ptr<vx380::testing::DebuggerAttached> debugger;
  if (mode == "debugger") {
    debugger = std::make_unique<vx380::testing::DebuggerAttached>();
    if (!debugger->ok()) {
      std::fprintf(stderr, "%s\n", debugger->error().c_str());
      return 1;
    }
  }
#else
  setenv("VX380_DEBUG_SOCKET", argv[1], 1);
#endif
  const long lines = std::atol(argv[4]);
  const std::size_t bytes = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 0;
#ifndef _WIN32
  if (mode == "held") {  // the ring is ours before the test holds its listener up
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, nullptr);
    vx380::CurrentPlatform().WriteDebugLine("RBDEBUG: ready\n");
    Say("ready\n");
    int signal = 0;
    sigwait(&usr1, &signal);
  }
#endif
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t) running.emplace_back(Write, t, mode, lines, bytes);
  if (mode == "endless") {
    while (gDone < threads) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Say("written\n");
  }
  for (std::thread& t : running) t.join();
  return 0;
}
