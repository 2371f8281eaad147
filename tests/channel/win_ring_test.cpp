// The trace ring under Windows: offered by a listener, written by the component's writer
// unless a debugger is attached (a real one: the rig's attach_debugger), and left when the
// listener goes, also when it dies; the lines a dead listener never read are counted.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "DebuggerAttached.h"
#include "RingTestSupport.h"
#include "platform/win32/TraceRingWin32.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

using vx380::CurrentPlatform;
using win32::TraceRingListener;
using win32::TryWriteRing;
using Clock = std::chrono::steady_clock;

bool WriteWithin(const std::string& line, std::chrono::milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  while (!TryWriteRing(line)) {
    if (Clock::now() > deadline) return false;
    ::Sleep(1);
  }
  return true;
}

void Drain(TraceRingListener& listener, Collector& sink, std::size_t expected) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (sink.lines.size() < expected && Clock::now() < deadline)
    if (listener.Poll(&Collector::Sink, &sink) == 0) listener.Wait(10);
}

class WinRing : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = "test-" + std::to_string(::GetCurrentProcessId());
    ::SetEnvironmentVariableA("VX380_TRACE_RING", name.c_str());
  }
  void TearDown() override { ::SetEnvironmentVariableA("VX380_TRACE_RING", nullptr); }
};

TEST_F(WinRing, AListenersRingTakesLinesWithProcessAndThreadAndIsLeftWhenItCloses) {
  EXPECT_FALSE(TryWriteRing("nobody\n"));
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  TraceRingListener second;
  EXPECT_FALSE(second.Open(error)) << "one listener offers the ring";
  ASSERT_TRUE(WriteWithin("hello\n", std::chrono::milliseconds(2000)));
  ErrorLog log;
  log.DebugTrace(u"a literal");  // the ring takes a host's literal as its line
  Collector sink;
  Drain(listener, sink, 2);
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[0].text, "hello\n");
  EXPECT_EQ(sink.lines[0].pid, ::GetCurrentProcessId());
  EXPECT_EQ(sink.lines[0].tid, ::GetCurrentThreadId());
  EXPECT_EQ(sink.lines[1].text, "a literal\n");
  listener.Close();
  EXPECT_FALSE(TryWriteRing("gone\n"));
}

TEST_F(WinRing, AProcessWithADebuggerKeepsWritingToTheDebugger) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  ASSERT_TRUE(WriteWithin("before\n", std::chrono::milliseconds(2000)));
  {
    DebuggerAttached debugger;
    ASSERT_TRUE(debugger.ok()) << debugger.error();
    EXPECT_FALSE(TryWriteRing("not into the ring\n"));
    CurrentPlatform().WriteDebugLine("to the debugger\n");
    ErrorLog().DebugTrace(u"a literal to the debugger");
    const std::string said = debugger.Detach();
    EXPECT_NE(said.find("debug: to the debugger\n"), std::string::npos) << said;
    EXPECT_NE(said.find("debug: a literal to the debugger\n"), std::string::npos) << said;
    EXPECT_EQ(said.find("not into the ring"), std::string::npos) << "the caller writes it, not the ring";
  }
  EXPECT_TRUE(TryWriteRing("after\n"));
  Collector sink;
  Drain(listener, sink, 2);
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[0].text, "before\n");
  EXPECT_EQ(sink.lines[1].text, "after\n");
}

TEST_F(WinRing, ThreadsKeepTheirOrder) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  ASSERT_TRUE(WriteWithin("start\n", std::chrono::milliseconds(2000)));
  constexpr int kThreads = 2, kLines = 20000;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int n = 0; n < kLines; ++n) TryWriteRing(std::to_string(t) + " " + std::to_string(n) + "\n");
    });
  Collector sink;
  Drain(listener, sink, 1 + kThreads * kLines);
  for (auto& w : writers) w.join();
  ASSERT_EQ(sink.lines.size(), std::size_t{1 + kThreads * kLines});
  EXPECT_EQ(listener.Dropped(), 0u);
  std::map<std::uint32_t, int> next;
  for (std::size_t i = 1; i < sink.lines.size(); ++i) {
    const Captured& line = sink.lines[i];
    const int n = next[line.tid]++;
    ASSERT_EQ(line.text.substr(line.text.find(' ') + 1), std::to_string(n) + "\n");
  }
}

// A listener in another process, started with its output on a pipe.
class ListenerProcess {
 public:
  explicit ListenerProcess(int count) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!::CreatePipe(&read_, &write, &inherit, 0)) return;
    ::SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    char program[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string line = std::string(program, n);
    line =
        "\"" + line.substr(0, line.find_last_of("\\/") + 1) + "vx380_win_ring_listener.exe\" " + std::to_string(count);
    PROCESS_INFORMATION pi{};
    if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
      process_ = pi.hProcess;
      ::CloseHandle(pi.hThread);
    }
    ::CloseHandle(write);
  }
  ~ListenerProcess() {
    Kill();
    if (process_) ::CloseHandle(process_);
    if (read_) ::CloseHandle(read_);
  }
  // The next line it said, without its line end (CR LF in text mode); "" once it said nothing more.
  std::string NextLine() {
    std::string line;
    char c = 0;
    DWORD n = 0;
    while (::ReadFile(read_, &c, 1, &n, nullptr) && n == 1 && c != '\n')
      if (c != '\r') line += c;
    return line;
  }
  void Kill() {
    if (!process_) return;
    ::TerminateProcess(process_, 9);
    ::WaitForSingleObject(process_, INFINITE);
  }

 private:
  HANDLE process_ = nullptr, read_ = nullptr;
};

// The listener takes 101 lines and then reads no more; 50 lines go into its ring after that,
// it is killed, and lines keep going into the ring until the writer sees it is gone. Every
// line that went into the ring after the listener's last read is counted as lost, no more.
TEST_F(WinRing, ADeadListenerIsNoticedAndTheLinesItNeverReadAreCounted) {
  ListenerProcess listener(101);
  ASSERT_EQ(listener.NextLine(), "ready");
  ASSERT_TRUE(WriteWithin("line 0\n", std::chrono::milliseconds(5000)));
  for (int n = 1; n < 101; ++n) ASSERT_TRUE(TryWriteRing("line " + std::to_string(n) + "\n"));
  ASSERT_EQ(listener.NextLine(), "read 101");
  for (int n = 0; n < 50; ++n) ASSERT_TRUE(TryWriteRing("unread " + std::to_string(n) + "\n"));

  const std::uint64_t lostBefore = win32::LinesLostToGoneListeners();
  listener.Kill();
  const auto killed = Clock::now();
  std::uint64_t intoTheDeadRing = 0;
  while (TryWriteRing("after\n") && Clock::now() - killed < std::chrono::seconds(30)) ++intoTheDeadRing;
  const auto noticedAfter = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed);

  EXPECT_EQ(win32::LinesLostToGoneListeners() - lostBefore, 50 + intoTheDeadRing);
  // The writer looks every 10 ms; a loaded machine may let a look come later.
  EXPECT_LT(noticedAfter.count(), 500) << intoTheDeadRing << " lines went into the dead ring";
  EXPECT_FALSE(TryWriteRing("later\n")) << "a dead listener's ring is not taken up again";
  std::printf("noticed after %lld ms, %llu lines into the dead ring\n", static_cast<long long>(noticedAfter.count()),
              static_cast<unsigned long long>(intoTheDeadRing));
}

}  // namespace
}  // namespace vx380::testing
