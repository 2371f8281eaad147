// The ring between processes: how the listener hands it out and writers trust it, a writer
// killed in a burst, and another process of the same user scribbling on the mapping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "PosixRingSupport.h"
#include "platform/posix/TraceRingPosix.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

TEST_F(PosixRing, AListenerOffersAPrivateRingThatWritersFindAndLeaveWhenItCloses) {
  EXPECT_FALSE(TryWriteRing("nobody\n")) << "no ring: the caller falls back to the socket";
  const mode_t oldMask = ::umask(0);
  TraceRingListener listener;
  std::string error;
  const bool opened = listener.Open(error);
  ::umask(oldMask);
  ASSERT_TRUE(opened) << error;
  EXPECT_EQ(listener.path(), dir.File("debug.sock.ring"));
  struct stat st {};
  ASSERT_EQ(::lstat(listener.path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode)) << "the ring itself has no name anyone could truncate";
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_TRUE(WriteWithin("hello\n", std::chrono::milliseconds(2000)));
  Collector sink;
  Drain(listener, sink, std::chrono::milliseconds(100));
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0].text, "hello\n");
  EXPECT_EQ(sink.lines[0].pid, static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(sink.lines[0].tid, static_cast<std::uint32_t>(::gettid()));

  // A host's literal reaches the ring as its line, whichever way the line is built.
  ErrorLog log;
  log.DebugTrace(u"a literal");
  log.DebugTrace(String(300, u'L').c_str());
  log.DebugTrace(u"caf\u00E9");
  Drain(listener, sink, std::chrono::milliseconds(100));
  ASSERT_EQ(sink.lines.size(), 4u);
  EXPECT_EQ(sink.lines[1].text, "a literal\n");
  EXPECT_EQ(sink.lines[2].text, std::string(300, 'L') + "\n");
  EXPECT_EQ(sink.lines[3].text, SystemPlatform().ToAnsi(u"caf\u00E9") + "\n");

  listener.Close();
  EXPECT_FALSE(TryWriteRing("gone\n"));
  EXPECT_NE(::access(dir.File("debug.sock.ring").c_str(), F_OK), 0) << "the ring's socket is removed";
}

TEST_F(PosixRing, WritersRefuseARingReachedThroughASymlink) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(dir.File("elsewhere.ring"), TraceRingListener::kDefaultBytes, error)) << error;
  ASSERT_EQ(::symlink(listener.path().c_str(), dir.File("debug.sock.ring").c_str()), 0);
  EXPECT_FALSE(WriteWithin("via link\n", std::chrono::milliseconds(50)));
  Collector sink;
  listener.Poll(&Collector::Sink, &sink);
  EXPECT_TRUE(sink.lines.empty());
}

TEST_F(PosixRing, WritersRefuseARingAnotherUserOwns) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving the ring file to another user needs root";
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  ASSERT_EQ(::chown(listener.path().c_str(), 65534, 65534), 0);
  EXPECT_FALSE(WriteWithin("to a stranger\n", std::chrono::milliseconds(50)));
  Collector sink;
  listener.Poll(&Collector::Sink, &sink);
  EXPECT_TRUE(sink.lines.empty());
}

TEST_F(PosixRing, WritersRefuseARingNobodyReads) {
  std::string path = dir.File("debug.sock.ring");
  {
    TraceRingListener listener;
    std::string error;
    ASSERT_TRUE(listener.Open(dir.File("stale.ring"), TraceRingListener::kDefaultBytes, error)) << error;
    ASSERT_EQ(::link(listener.path().c_str(), path.c_str()), 0);  // outlives its listener
  }
  ASSERT_EQ(::access(path.c_str(), F_OK), 0);
  EXPECT_FALSE(WriteWithin("stale\n", std::chrono::milliseconds(50)));
}

TEST_F(PosixRing, WritersGoBackToTheSocketSoonAfterTheListenerIsKilled) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    TraceRingListener listener;
    std::string error;
    const char ok = listener.Open(error) ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ASSERT_GT(child, 0);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  ASSERT_TRUE(WriteWithin("heard\n", std::chrono::milliseconds(2000)));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  bool backToSocket = false;
  while (!backToSocket && Clock::now() < deadline) {
    backToSocket = !TryWriteRing("anyone?\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(backToSocket) << "a ring nobody reads any more is left";
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(PosixRingPlace, TheRingLivesInTheUsersPrivateRuntimeFolderAndNowhereUnsound) {
  ScratchDir dir;
  ScopedEnv socket("VX380_DEBUG_SOCKET", std::nullopt);
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    EXPECT_EQ(posix::TraceRingPath(), dir.File("vx380-trace.ring"));
  }
  ScopedEnv runtime("XDG_RUNTIME_DIR", "");  // empty counts as unset
  ScopedEnv tmp("TMPDIR", dir.path());
  const std::string own = dir.File("vx380-" + std::to_string(::geteuid()));
  EXPECT_EQ(posix::TraceRingPath(false), "") << "a writer never creates the folder";
  EXPECT_EQ(posix::TraceRingPath(), own + "/vx380-trace.ring");
  struct stat st {};
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ::chmod(own.c_str(), 0777);  // open to others: not private any more
  EXPECT_EQ(posix::TraceRingPath(), "");
  ::rmdir(own.c_str());
  ASSERT_EQ(::symlink(dir.path().c_str(), own.c_str()), 0);  // planted by someone
  EXPECT_EQ(posix::TraceRingPath(), "");
  TraceRingListener listener;
  std::string error;
  EXPECT_FALSE(listener.Open(error));
  EXPECT_FALSE(error.empty());
}

struct SharedCounter {
  std::atomic<long> committed{0};
};

TEST_F(PosixRing, AWriterKilledInABurstLosesNoneOfTheLinesItCommitted) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  listener.reader().holeTimeoutMs = 100;
  void* shared = ::mmap(nullptr, sizeof(SharedCounter), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  auto* counter = new (shared) SharedCounter;
  const pid_t child = ::fork();
  if (child == 0) {
    for (long n = 0;; ++n) {
      while (!TryWriteRing("burst " + std::to_string(n) + "\n")) ::usleep(1000);
      counter->committed.store(n + 1);
    }
  }
  ASSERT_GT(child, 0);
  Collector sink;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (counter->committed.load() < 20000 && Clock::now() < deadline)
    if (listener.Poll(&Collector::Sink, &sink) == 0) listener.Wait(5);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  const long committed = counter->committed.load();
  Drain(listener, sink, std::chrono::milliseconds(400));
  ASSERT_GE(committed, 20000);
  long expected = 0;
  for (const Captured& line : sink.lines)
    if (line.pid == static_cast<std::uint32_t>(child)) {
      ASSERT_EQ(line.text, "burst " + std::to_string(expected) + "\n");
      ++expected;
    }
  EXPECT_GE(expected, committed);
  EXPECT_LE(listener.Holes(), 1u) << "at most the one record it was writing when killed";
  ::munmap(shared, sizeof(SharedCounter));
}

// A fresh process whose threads all start writing at once: while one maps the ring, the others
// wait for it instead of passing it by (their lines would reach the socket out of turn).
TEST_F(PosixRing, ThreadsThatStartTogetherAllFindTheRingFromTheirFirstLine) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  const pid_t child = ::fork();
  if (child == 0) {
    std::atomic<int> ready{0};
    std::atomic<long> passedBy{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < 4) {
        }
        for (int i = 0; i < 2000; ++i)
          if (!TryWriteRing(std::to_string(t) + " " + std::to_string(i) + "\n")) passedBy.fetch_add(1);
      });
    for (std::thread& thread : threads) thread.join();
    ::_exit(passedBy.load() == 0 ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  Collector sink;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0)
    if (listener.Poll(&Collector::Sink, &sink) == 0) listener.Wait(5);
  Drain(listener, sink, std::chrono::milliseconds(200));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "some lines passed the ring by";
  EXPECT_EQ(sink.lines.size(), 8000u);
}

TEST_F(PosixRing, AnotherProcessScribblingOnTheRingNeverCrashesAWriterOrTheReader) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  listener.reader().holeTimeoutMs = 5;
  ASSERT_TRUE(WriteWithin("first\n", std::chrono::milliseconds(2000)));
  const pid_t child = ::fork();
  if (child == 0) {
    unsigned char* base = MapReceivedRing(listener.path());
    if (!base) ::_exit(2);
    std::mt19937_64 random(777);
    const auto until = Clock::now() + std::chrono::milliseconds(700);
    while (Clock::now() < until) {
      // Mostly the header and the first records, where writers and the reader are busy.
      const std::size_t span = random() % 2 ? 4096 : TraceRingListener::kDefaultBytes;
      const std::size_t offset = random() % span;
      base[offset] = static_cast<unsigned char>(random());
    }
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t)
    writers.emplace_back([] {
      const auto until = Clock::now() + std::chrono::milliseconds(900);
      for (int n = 0; Clock::now() < until; ++n) TryWriteRing("scribbled " + std::to_string(n) + "\n");
    });
  Collector sink;
  const auto until = Clock::now() + std::chrono::milliseconds(1000);
  while (Clock::now() < until) {
    sink.lines.clear();
    if (listener.Poll(&Collector::Sink, &sink) == 0) listener.Wait(2);
  }
  for (auto& w : writers) w.join();
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vx380::testing
