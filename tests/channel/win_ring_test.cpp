// The trace ring under Windows: offered by a listener, written by the component's writer
// unless a debugger is attached, and left when the listener goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <map>
#include <thread>

#include "RingTestSupport.h"
#include "platform/win32/TraceRingWin32.h"

namespace vx380::testing {
namespace {

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
    win32::ForceDebuggerPresent(0);
  }
  void TearDown() override {
    win32::ForceDebuggerPresent(-1);
    ::SetEnvironmentVariableA("VX380_TRACE_RING", nullptr);
  }
};

TEST_F(WinRing, AListenersRingTakesLinesWithProcessAndThreadAndIsLeftWhenItCloses) {
  EXPECT_FALSE(TryWriteRing("nobody\n"));
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  TraceRingListener second;
  EXPECT_FALSE(second.Open(error)) << "one listener offers the ring";
  ASSERT_TRUE(WriteWithin("hello\n", std::chrono::milliseconds(2000)));
  Collector sink;
  Drain(listener, sink, 1);
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0].text, "hello\n");
  EXPECT_EQ(sink.lines[0].pid, ::GetCurrentProcessId());
  EXPECT_EQ(sink.lines[0].tid, ::GetCurrentThreadId());
  listener.Close();
  EXPECT_FALSE(TryWriteRing("gone\n"));
}

TEST_F(WinRing, AProcessWithADebuggerKeepsWritingToTheDebugger) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  ASSERT_TRUE(WriteWithin("before\n", std::chrono::milliseconds(2000)));
  win32::ForceDebuggerPresent(1);
  EXPECT_FALSE(TryWriteRing("to the debugger\n"));
  win32::ForceDebuggerPresent(0);
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

}  // namespace
}  // namespace vx380::testing
