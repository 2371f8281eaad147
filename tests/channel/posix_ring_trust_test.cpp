// The ring when something goes wrong around it: a process that tries to resize it, stray
// writes into its shared words, a forking host, a listener killed or restarted many times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "PosixRingSupport.h"

namespace vx380::testing {
namespace {

// Waits for a child with generous patience; -1 when it never ended (it is then killed).
int ExitStatusOf(pid_t child, std::chrono::seconds patience) {
  const auto deadline = Clock::now() + patience;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

// Writes `count` lines, each until a ring takes it, while a reader thread reads them back
// through `listener`, as vxtrace does.
std::size_t RoundTrip(TraceRingListener& listener, const std::string& tag, int count) {
  Collector sink;
  std::atomic<bool> written{false};
  std::thread reader([&] {
    while (!written) listener.Poll(&Collector::Sink, &sink) || (listener.Wait(2), true);
    Drain(listener, sink, std::chrono::milliseconds(200));
  });
  for (int n = 0; n < count; ++n) EXPECT_TRUE(WriteWithin(tag + std::to_string(n) + "\n", std::chrono::seconds(30)));
  written = true;
  reader.join();
  std::size_t found = 0;
  for (const Captured& line : sink.lines) found += line.text.rfind(tag, 0) == 0;
  return found;
}

TEST_F(PosixRing, NoProcessOfTheUserCanResizeTheRingUnderAWriterOrTheReader) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  ASSERT_TRUE(WriteWithin("before\n", std::chrono::seconds(10)));
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ReceiveRing(listener.path());
    if (fd < 0) ::_exit(2);
    const bool shrunk = ::ftruncate(fd, 4096) == 0, grown = ::ftruncate(fd, 1 << 30) == 0;
    ::_exit(shrunk || grown ? 1 : 0);
  }
  EXPECT_EQ(ExitStatusOf(child, std::chrono::seconds(60)), 0) << "the ring's size could be changed";
  // The writer and the reader live on: in a child, so that a fault would show as its status.
  const pid_t writer = ::fork();
  if (writer == 0) ::_exit(WriteWithin("after\n", std::chrono::seconds(10)) ? 0 : 3);
  EXPECT_EQ(ExitStatusOf(writer, std::chrono::seconds(60)), 0);
  Collector sink;
  Drain(listener, sink, std::chrono::milliseconds(200));
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[1].text, "after\n");
}

// A same-user process with a bug: one stray write into the ring's shared words.
struct StrayWrite {
  const char* what;
  std::size_t offset;  // from the ring's start
  std::uint64_t value;
};

TEST_F(PosixRing, AStrayWriteRetiresTheRingAndLaterLinesArriveInAFreshOne) {
  const StrayWrite strays[] = {
      {"reservation counter", channel::kLaneTableOffset + offsetof(channel::LaneHeader, reserve), 0x123456789ull},
      {"read position", channel::kLaneTableOffset + offsetof(channel::LaneHeader, readPos), 0xFFFFFFFF00ull},
      {"state", offsetof(channel::RingHeader, state), 7},
  };
  for (const StrayWrite& stray : strays) {
    SCOPED_TRACE(stray.what);
    TraceRingListener listener;
    std::string error;
    ASSERT_TRUE(listener.Open(error)) << error;
    EXPECT_EQ(RoundTrip(listener, "before ", 10), 10u);
    unsigned char* base = MapReceivedRing(listener.path());
    ASSERT_NE(base, nullptr);
    std::memcpy(base + stray.offset, &stray.value, stray.what[0] == 's' ? 4 : 8);
    EXPECT_EQ(RoundTrip(listener, "after ", 1000), 1000u) << "lines after the damage are kept";
    EXPECT_EQ(listener.Damages(), 1u) << listener.LastDamage();
    ::munmap(base, TraceRingListener::kDefaultBytes);
  }
}

TEST_F(PosixRing, ARecordThatLiesAboutItsLengthCostsOnlyItselfAndLinesAfterItArrive) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  unsigned char* base = MapReceivedRing(listener.path());
  ASSERT_NE(base, nullptr);
  ASSERT_TRUE(WriteWithin("first\n", std::chrono::seconds(10)));
  ASSERT_TRUE(WriteWithin("second\n", std::chrono::seconds(10)));
  ASSERT_TRUE(WriteWithin("third\n", std::chrono::seconds(10)));
  // The thread's first record opens its lane, whichever lane that is.
  const std::uint64_t capacity = channel::RingCapacityFor(TraceRingListener::kDefaultBytes);
  const std::uint64_t laneBytes = capacity / channel::LanesFor(capacity);
  channel::RecordHeader* first = nullptr;
  for (std::uint64_t at = 0; at < capacity && !first; at += laneBytes) {
    auto* record = reinterpret_cast<channel::RecordHeader*>(base + channel::kRingHeaderBytes + at);
    if (std::memcmp(record + 1, "first\n", 6) == 0) first = record;
  }
  ASSERT_NE(first, nullptr);
  first->textLength = 60000;  // the commit tag still matches; the record lies
  Collector sink;
  Drain(listener, sink, std::chrono::milliseconds(200));
  ASSERT_EQ(sink.lines.size(), 2u) << "what follows the lying record is still read";
  EXPECT_EQ(sink.lines[0].text, "second\n");
  EXPECT_EQ(listener.Damages(), 1u) << listener.LastDamage();
  EXPECT_EQ(listener.LostToDamage(), 1u);
  EXPECT_EQ(RoundTrip(listener, "later ", 100), 100u);
  ::munmap(base, TraceRingListener::kDefaultBytes);
}

TEST_F(PosixRing, TwoSecondsOfRandomBytesDoNotSilenceTheRing) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  listener.reader().holeTimeoutMs = 50;
  ASSERT_TRUE(WriteWithin("first\n", std::chrono::seconds(10)));
  const pid_t child = ::fork();
  if (child == 0) {
    unsigned char* base = MapReceivedRing(listener.path());
    if (!base) ::_exit(2);
    std::uint64_t seed = 88172645463325252ull;
    for (const auto until = Clock::now() + std::chrono::seconds(2); Clock::now() < until;) {
      seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
      base[seed % (seed & 1 ? 4096 : TraceRingListener::kDefaultBytes)] = static_cast<unsigned char>(seed >> 32);
    }
    ::_exit(0);
  }
  Collector sink;
  for (int status = 0; ::waitpid(child, &status, WNOHANG) == 0;) {
    TryWriteRing("during\n");
    listener.Poll(&Collector::Sink, &sink);
  }
  // Rings retired while the bytes flew are behind us: later lines all arrive.
  EXPECT_EQ(RoundTrip(listener, "after ", 2000), 2000u);
}

TEST_F(PosixRing, AChildForkedWhileThreadsTraceTracesWithItsOwnPidAndEnds) {
  TraceRingListener listener;
  std::string error;
  ASSERT_TRUE(listener.Open(error)) << error;
  std::atomic<bool> stop{false};
  std::atomic<int> settled{0};
  std::vector<std::thread> tracers;
  for (int t = 0; t < 3; ++t)
    tracers.emplace_back([&] {
      while (!TryWriteRing("parent\n")) {
      }
      ++settled;
      while (!stop) TryWriteRing("parent\n");
    });
  // Nothing in the parent's threads allocates while it forks: a sanitizer's allocator lock is
  // not fork-safe, and a tracer allocates only until its slot and ring are set up.
  std::thread reader([&] {
    std::uint64_t lines = 0;
    const auto count = [](void* context, const channel::RingRecord&) { ++*static_cast<std::uint64_t*>(context); };
    while (!stop)
      if (listener.Poll(count, &lines) == 0) listener.Wait(2);
  });
  while (settled < 3) std::this_thread::yield();
  int hung = 0, failed = 0;
  for (int round = 0; round < 150; ++round) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(WriteWithin("child\n", std::chrono::seconds(60)) ? 0 : 1);
    const int status = ExitStatusOf(child, std::chrono::seconds(180));
    hung += status == -1;
    failed += status != 0;
  }
  stop = true;
  for (auto& t : tracers) t.join();
  reader.join();
  EXPECT_EQ(hung, 0) << "children that never ended";
  EXPECT_EQ(failed, 0);
}

std::size_t RingMappings() {
  std::ifstream maps("/proc/self/maps");
  std::size_t count = 0;
  for (std::string line; std::getline(maps, line);) count += line.find("vx380-trace-ring") != std::string::npos;
  return count;
}

TEST_F(PosixRing, RestartedListenersLeaveNoMappingsBehindInAWriter) {
  const std::size_t before = RingMappings();
  for (int round = 0; round < 40; ++round) {
    TraceRingListener listener;
    std::string error;
    ASSERT_TRUE(listener.Open(error)) << error;
    ASSERT_TRUE(WriteWithin("round\n", std::chrono::seconds(10)));
  }
  TryWriteRing("no ring now\n");  // the writer notices the last one is gone
  EXPECT_LE(RingMappings(), before + 1) << "retired rings are unmapped";
}

TEST_F(PosixRing, LinesLeftInTheRingOfAKilledListenerAreCountedByTheNextOne) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {  // a listener that never reads
    TraceRingListener listener;
    std::string error;
    const char ok = listener.Open(error) ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  ASSERT_TRUE(WriteWithin("unread 0\n", std::chrono::seconds(10)));
  std::uint64_t written = 1;
  for (int n = 1; n < 500; ++n) written += TryWriteRing("unread " + std::to_string(n) + "\n");
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  while (TryWriteRing("until noticed\n")) ++written;
  TraceRingListener next;
  std::string error;
  ASSERT_TRUE(next.Open(error)) << error;
  ASSERT_TRUE(WriteWithin("next\n", std::chrono::seconds(10)));
  EXPECT_EQ(next.LostEarlier(), written);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace vx380::testing
