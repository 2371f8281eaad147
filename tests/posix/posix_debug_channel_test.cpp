// The POSIX debug output channel: one datagram per line to whoever listens on the socket,
// nothing and no waiting when nobody does.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "DatagramListener.h"
#include "PosixTestSupport.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testing {
namespace {

class DebugChannel : public ::testing::Test {
 protected:
  ScratchDir dir;
  Platform& platform = SystemPlatform();
};

TEST_F(DebugChannel, EachCallIsOneDatagram) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("debug.sock"));
  DatagramListener listener(dir.File("debug.sock"));
  ASSERT_TRUE(listener.bound());
  const std::vector<std::string> lines = {"RBDEBUG one\n", "\n", "two\r\nlines\n", std::string(5000, 'x') + "\n",
                                          std::string("\x80\xE9\0\n", 4)};
  for (const std::string& line : lines) platform.WriteDebugLine(line);
  EXPECT_EQ(listener.Received(), lines);
}

// Plain ASCII goes out as it is, many units at a time; a unit outside it anywhere in the line
// sends the whole line through the code page (U+0080 has no byte in Windows-1252).
TEST_F(DebugChannel, DebugTraceOfTextOutsideAsciiGoesThroughTheCodePage) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("debug.sock"));
  DatagramListener listener(dir.File("debug.sock"));
  ASSERT_TRUE(listener.bound());
  ErrorLog log;
  for (size_t at = 0; at < 40; ++at) {
    String text(40, u'a');
    text[at] = u'\u0080';
    log.DebugTrace(text);
    const std::string expected = platform.ToAnsi(text) + "\n";
    ASSERT_EQ(expected.find('\x80'), std::string::npos) << "the code page has no byte for U+0080";
    ASSERT_EQ(listener.Received(), std::vector<std::string>{expected}) << "at " << at;
  }
  log.DebugTrace(String(40, u'a'));
  EXPECT_EQ(listener.Received(), std::vector<std::string>{std::string(40, 'a') + "\n"});
}

// A literal and a String go to the system's channel as the same line: short ones straight from
// the stack, long ones through the thread's buffer, one with a unit outside ASCII anywhere
// through the code page; and a literal that ends where its page ends is read no further.
TEST_F(DebugChannel, ALiteralAndAStringGoOutAsTheSameLineWhateverTheirLengthAndUnits) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("debug.sock"));
  DatagramListener listener(dir.File("debug.sock"));
  ASSERT_TRUE(listener.bound());
  ErrorLog log;
  for (size_t length : {0, 1, 15, 16, 17, 255, 256, 257, 1000}) {
    String text(length, u'a');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u' ' + (i * 7) % 95);
    log.DebugTrace(text.c_str());
    log.DebugTrace(text);
    const std::string line = platform.ToAnsi(text) + "\n";
    ASSERT_EQ(listener.Received(), (std::vector<std::string>{line, line})) << "length " << length;
    for (size_t at : {size_t{0}, size_t{15}, size_t{255}, size_t{256}}) {
      if (at >= length) continue;
      String other = text;
      other[at] = u'\u00E9';
      log.DebugTrace(other.c_str());
      log.DebugTrace(other);
      const std::string expected = platform.ToAnsi(other) + "\n";
      ASSERT_EQ(listener.Received(), (std::vector<std::string>{expected, expected})) << "at " << at << " of " << length;
    }
  }
  const long page = ::sysconf(_SC_PAGESIZE);
  void* pages = ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(::mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);  // a touch beyond faults
  auto* end = reinterpret_cast<char16_t*>(static_cast<char*>(pages) + page);
  for (size_t length : {0, 7, 15, 16, 17, 40}) {
    char16_t* text = end - length - 1;
    for (size_t i = 0; i < length; ++i) text[i] = u'z';
    text[length] = u'\0';
    log.DebugTrace(text);
    EXPECT_EQ(listener.Received(), std::vector<std::string>{std::string(length, 'z') + "\n"});
  }
  ::munmap(pages, 2 * page);
}

TEST_F(DebugChannel, SocketPathComesFromTheEnvironment) {
  {
    ScopedEnv socket("VX380_DEBUG_SOCKET", "/somewhere/debug.sock");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(posix::DebugSocketPath(), "/somewhere/debug.sock");
  }
  ScopedEnv socket("VX380_DEBUG_SOCKET", std::nullopt);
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(posix::DebugSocketPath(), "/run/user/1000/vx380-debug.sock");
  }
  ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  ScopedEnv tmpdir("TMPDIR", dir.path());
  const std::string priv = dir.File("vx380-" + std::to_string(::geteuid()));
  EXPECT_EQ(posix::DebugSocketPath(), priv + "/vx380-debug.sock");
  struct stat st {};
  ASSERT_EQ(::lstat(priv.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(DebugChannel, FollowsTheEnvironmentAsItChanges) {
  DatagramListener first(dir.File("first.sock"));
  DatagramListener second(dir.File("second.sock"));
  {
    ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("first.sock"));
    platform.WriteDebugLine("to first\n");
  }
  {
    ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("second.sock"));
    platform.WriteDebugLine("to second\n");
  }
  {
    ScopedEnv socket("VX380_DEBUG_SOCKET", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    DatagramListener runtimeListener(dir.File("vx380-debug.sock"));
    platform.WriteDebugLine("to runtime dir\n");
    EXPECT_EQ(runtimeListener.Received(), std::vector<std::string>{"to runtime dir\n"});
  }
  EXPECT_EQ(first.Received(), std::vector<std::string>{"to first\n"});
  EXPECT_EQ(second.Received(), std::vector<std::string>{"to second\n"});
}

TEST_F(DebugChannel, ReachesAListenerThatTookOverThePath) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("restart.sock"));
  {
    DatagramListener first(dir.File("restart.sock"));
    platform.WriteDebugLine("to first\n");
    EXPECT_EQ(first.Received(), std::vector<std::string>{"to first\n"});
  }
  platform.WriteDebugLine("while nobody listens\n");
  DatagramListener second(dir.File("restart.sock"));
  // A missing listener is looked for again after a few milliseconds, not at every line.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  platform.WriteDebugLine("to second\n");
  EXPECT_EQ(second.Received(), std::vector<std::string>{"to second\n"});
}

// With nobody listening a line is not even built; a listener that starts is heard again
// within a tick of the coarse clock, and what it hears is whole.
TEST_F(DebugChannel, NobodyListeningIsKnownWithoutALookAndAListenerThatStartsIsHeardSoon) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("later.sock"));
  auto* aware = dynamic_cast<ListenerAwarePlatform*>(&platform);
  ASSERT_NE(aware, nullptr) << "the system's platform tells when nobody listens";
  EXPECT_TRUE(aware->DebugOutputHeard()) << "not known before a line looked";
  platform.WriteDebugLine("to nobody\n");
  EXPECT_FALSE(aware->DebugOutputHeard());
  {
    ScopedEnv elsewhere("VX380_DEBUG_SOCKET", dir.File("other.sock"));
    EXPECT_TRUE(aware->DebugOutputHeard()) << "another socket is another question";
  }
  DatagramListener listener(dir.File("later.sock"));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!aware->DebugOutputHeard() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  ErrorLog log;
  log.DebugTrace(u"heard");
  EXPECT_EQ(listener.Received(), std::vector<std::string>{"heard\n"});
}

int OpenDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST_F(DebugChannel, EndingThreadsGiveTheirSocketsBack) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("threads.sock"));
  DatagramListener listener(dir.File("threads.sock"));
  const int before = OpenDescriptors();
  for (int i = 0; i < 100; ++i) std::thread([&] { platform.WriteDebugLine("from a short thread\n"); }).join();
  EXPECT_LT(OpenDescriptors() - before, 5);
  EXPECT_FALSE(listener.Received().empty());
}

TEST_F(DebugChannel, NeverWaitsAndLeavesErrnoAlone) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("nobody.sock"));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20000; ++i) {
    errno = 1234;
    platform.WriteDebugLine("nobody listens\n");
    ASSERT_EQ(errno, 1234);
  }
  // A listener that never reads fills its queue; after one short wait for room, later lines
  // are dropped, not waited for. A new listener is looked for every few milliseconds.
  DatagramListener deaf(dir.File("nobody.sock"));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  for (int i = 0; i < 20000; ++i) platform.WriteDebugLine(std::string(1000, 'q') + "\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const auto got = deaf.Received();
  EXPECT_FALSE(got.empty());
  EXPECT_LT(got.size(), 20000u);

  // A socket file left behind by a listener that has gone.
  { DatagramListener gone(dir.File("gone.sock")); }
  ScopedEnv goneSocket("VX380_DEBUG_SOCKET", dir.File("gone.sock"));
  platform.WriteDebugLine("into the void\n");
}

TEST_F(DebugChannel, ABurstWaitsForASlowListenerInsteadOfLosingLines) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("slow.sock"));
  DatagramListener listener(dir.File("slow.sock"));
  constexpr int kLines = 500;
  std::thread sender([&] {
    for (int i = 0; i < kLines; ++i) platform.WriteDebugLine("line " + std::to_string(i) + "\n");
  });
  std::vector<std::string> got;
  for (int i = 0; i < 2000 && got.size() < kLines; ++i)
    for (std::string& line : listener.Received(5)) got.push_back(std::move(line));
  sender.join();
  ASSERT_EQ(got.size(), static_cast<size_t>(kLines));
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(got[i], "line " + std::to_string(i) + "\n");
}

TEST_F(DebugChannel, ThreadsSendWholeLines) {
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("threads.sock"));
  DatagramListener listener(dir.File("threads.sock"));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 8; ++i) {
        platform.WriteDebugLine(std::string(300, static_cast<char>('a' + t)) + "\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  // The kernel queues only a few datagrams per listener, so read while they come.
  std::vector<std::string> got;
  for (int i = 0; i < 50 && got.size() < 32; ++i)
    for (std::string& line : listener.Received(20)) got.push_back(std::move(line));
  for (auto& thread : threads) thread.join();
  for (std::string& line : listener.Received(20)) got.push_back(std::move(line));
  EXPECT_GE(got.size(), 8u);
  for (const std::string& line : got) EXPECT_EQ(line, std::string(300, line[0]) + "\n");
}

}  // namespace
}  // namespace vx380::testing
