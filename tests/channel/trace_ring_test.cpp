// The ring itself, in one process: order and bytes under concurrent writers, the bounded wait
// of a full ring, holes left by writers that never commit, and scribbled memory.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "RingTestSupport.h"
#include "platform/posix/TraceRingPosix.h"

namespace vx380::testing {
namespace {

using channel::RingReader;
using channel::RingWriter;
using channel::WriteResult;
using Clock = std::chrono::steady_clock;

// A ring in ordinary memory.
struct Region {
  explicit Region(std::size_t size, std::uint64_t ticksPerMs = 0)
      : bytes(size), base(std::aligned_alloc(4096, (size + 4095) / 4096 * 4096)) {
    channel::InitializeRing(base, bytes, ticksPerMs);
  }
  ~Region() { std::free(base); }
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  std::size_t bytes;
  void* base;
};

std::string LineOf(int thread, int n) {
  // Lengths vary so records of every size cross the end of the data area.
  return "T" + std::to_string(thread) + " " + std::to_string(n) + " " + std::string(n % 301, 'a' + n % 26) + "\n";
}

// Drains `reader` into `sink` until `expected` lines arrived or a generous deadline passed.
void DrainUntil(RingReader& reader, Collector& sink, std::size_t expected, std::chrono::seconds patience) {
  const auto deadline = Clock::now() + patience;
  while (sink.lines.size() < expected && Clock::now() < deadline)
    if (reader.Poll(&Collector::Sink, &sink) == 0) reader.Wait(20);
}

// A ring of one lane, and one of four: with four threads, a lane each.
constexpr std::size_t kFourLanes = channel::kRingHeaderBytes + 4 * channel::kMinLaneBytes;

// A ring with a writer and a reader attached to it.
struct AttachedRing {
  explicit AttachedRing(std::size_t bytes, channel::RingSystem& system = posix::PosixRingSystem()) : region(bytes) {
    EXPECT_TRUE(writer.Attach(region.base, region.bytes, system));
    EXPECT_TRUE(reader.Attach(region.base, region.bytes, system));
  }
  Region region;
  RingWriter writer;
  RingReader reader;
};

TEST(TraceRing, KeepsEachThreadsOrderAndEveryByteAcrossTheWrap) {
  for (const std::size_t bytes : {channel::kMinRingBytes, kFourLanes}) {
    Region region(bytes);
    SCOPED_TRACE(std::to_string(channel::LanesFor(channel::RingCapacityFor(bytes))) + " lanes");
    RingReader reader;
    ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
    constexpr int kThreads = 4, kLines = 30000;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
      writers.emplace_back([&, t] {
        RingWriter writer;
        ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
        writer.waitMs = 10000;  // order is the point here, not the bound
        for (int n = 0; n < kLines; ++n) ASSERT_EQ(writer.Write(LineOf(t, n), 100, t), WriteResult::kWritten);
      });
    Collector sink;
    DrainUntil(reader, sink, kThreads * kLines, std::chrono::seconds(120));
    EXPECT_FALSE(reader.Damaged()) << reader.DamageCause();
    for (auto& w : writers) w.join();
    ASSERT_EQ(sink.lines.size(), std::size_t{kThreads * kLines});
    std::map<std::uint32_t, int> next;
    for (const Captured& line : sink.lines) {
      const int n = next[line.tid]++;
      ASSERT_EQ(line.text, LineOf(static_cast<int>(line.tid), n));
      EXPECT_EQ(line.pid, 100u);
    }
    EXPECT_EQ(reader.Dropped(), 0u);
    EXPECT_EQ(reader.Holes(), 0u);
  }
}

// Two threads that take turns, each writing to its own lane: a line written after the other
// thread's line (because the thread waited for it) is read after it, as it would be in one lane.
TEST(TraceRing, LinesOfThreadsThatTakeTurnsArriveInTheirTurns) {
  AttachedRing ring(kFourLanes);
  RingWriter& writer = ring.writer;
  RingReader& reader = ring.reader;
  constexpr int kTurns = 3000;
  std::atomic<int> turn{0};
  std::vector<std::thread> players;
  for (int player = 0; player < 2; ++player)
    players.emplace_back([&, player] {
      for (int n = player; n < 2 * kTurns; n += 2) {
        while (turn.load(std::memory_order_acquire) != n) std::this_thread::yield();
        ASSERT_EQ(writer.Write("turn " + std::to_string(n) + "\n", 1, player + 1), WriteResult::kWritten);
        turn.store(n + 1, std::memory_order_release);
      }
    });
  Collector sink;
  DrainUntil(reader, sink, 2 * kTurns, std::chrono::seconds(120));
  for (auto& p : players) p.join();
  ASSERT_EQ(sink.lines.size(), std::size_t{2 * kTurns});
  for (int n = 0; n < 2 * kTurns; ++n) ASSERT_EQ(sink.lines[n].text, "turn " + std::to_string(n) + "\n");
}

// A clock the test sets, which runs a task the nth time it is read from now on.
struct SteppedSystem final : channel::RingSystem {
  std::uint64_t now = 1'000'000'000;
  int readsUntilTask = 0;
  std::function<void()> task;
  std::uint64_t NowNs() override {
    if (task && --readsUntilTask == 0) std::exchange(task, nullptr)();
    return now;
  }
  void Wake(std::atomic<std::uint32_t>& word) override { posix::PosixRingSystem().Wake(word); }
  void Sleep(std::atomic<std::uint32_t>& word, std::uint32_t seen, std::uint32_t ms) override {
    ++sleeps;
    posix::PosixRingSystem().Sleep(word, seen, ms);
  }
  void Pause() override { posix::PosixRingSystem().Pause(); }
  int sleeps = 0;
};

// A thread that runs what it is given, and so keeps writing to one lane.
struct LaneThread {
  std::thread thread;
  std::mutex lock;
  std::condition_variable wake;
  std::function<void()> job;
  bool stop = false;
  LaneThread() {
    thread = std::thread([this] {
      std::unique_lock<std::mutex> held(lock);
      for (;;) {
        wake.wait(held, [&] { return stop || job; });
        if (stop) return;
        job();
        job = nullptr;
        wake.notify_all();
      }
    });
  }
  ~LaneThread() {
    {
      std::lock_guard<std::mutex> held(lock);
      stop = true;
    }
    wake.notify_all();
    thread.join();
  }
  void Run(std::function<void()> work) {
    std::unique_lock<std::mutex> held(lock);
    job = std::move(work);
    wake.notify_all();
    wake.wait(held, [&] { return !job; });
  }
};

// The merge's one rule: a poll takes only what was stamped before it began. Here a line is
// stamped, then its lane is looked at before it is committed; meanwhile a second line is
// written to a lane looked at later, after the first one, as a thread that waited for it
// would. Taking the second now would show it before the first: it waits for the next poll.
TEST(TraceRing, APollTakesOnlyLinesStampedBeforeItBegan) {
  SteppedSystem clock;
  AttachedRing ring(kFourLanes, clock);
  RingWriter& writer = ring.writer;
  RingReader& reader = ring.reader;
  Region& region = ring.region;
  LaneThread other;
  // Which lane each thread writes to: the first, later, line goes to the lane looked at first.
  auto laneWritten = [&](std::function<void()> write) {
    std::uint64_t before[4];
    for (std::uint32_t i = 0; i < 4; ++i) before[i] = channel::LaneTable(region.base)[i].reserve.load();
    write();
    for (std::uint32_t i = 0; i < 4; ++i)
      if (channel::LaneTable(region.base)[i].reserve.load() != before[i]) return i;
    return 4u;
  };
  const std::uint32_t hereLane =
      laneWritten([&] { ASSERT_EQ(writer.Write("here\n", 1, 1, clock.now), WriteResult::kWritten); });
  const std::uint32_t thereLane = laneWritten(
      [&] { other.Run([&] { ASSERT_EQ(writer.Write("there\n", 1, 2, clock.now), WriteResult::kWritten); }); });
  ASSERT_LT(hereLane, 4u);
  ASSERT_LT(thereLane, 4u);
  ASSERT_NE(hereLane, thereLane);
  Collector sink;
  clock.now += 10'000;
  ASSERT_EQ(reader.Poll(&Collector::Sink, &sink), 2u);
  auto first = [&](std::function<void()> write) { hereLane < thereLane ? write() : other.Run(write); };
  auto second = [&](std::function<void()> write) { hereLane < thereLane ? other.Run(write) : write(); };

  clock.now += 10'000;
  first([&] { ASSERT_EQ(writer.Write("first\n", 1, 3, clock.now), WriteResult::kWritten); });
  const std::uint32_t firstLane = std::min(hereLane, thereLane);
  const std::uint64_t firstAt = (2 * channel::kRecordUnit) & (channel::kMinLaneBytes - 1);
  auto* commit = reinterpret_cast<std::atomic<std::uint32_t>*>(static_cast<unsigned char*>(region.base) +
                                                               channel::kRingHeaderBytes +
                                                               firstLane * channel::kMinLaneBytes + firstAt);
  const std::uint32_t tag = commit->exchange(0);  // stamped, not committed yet
  clock.now += 10'000;
  // The poll reads the clock as it begins, and again at the uncommitted line's lane.
  clock.readsUntilTask = 2;
  clock.task = [&] {
    commit->store(tag, std::memory_order_release);
    clock.now += 10'000;
    second([&] { ASSERT_EQ(writer.Write("second\n", 1, 4, clock.now), WriteResult::kWritten); });
  };
  EXPECT_EQ(reader.Poll(&Collector::Sink, &sink), 0u) << "the second line was stamped after the poll began";
  EXPECT_EQ(clock.task, nullptr) << "the poll looked at the first line's lane while it was being written";
  clock.now += 10'000;
  EXPECT_EQ(reader.Poll(&Collector::Sink, &sink), 2u);
  ASSERT_EQ(sink.lines.size(), 4u);
  EXPECT_EQ(sink.lines[2].text, "first\n");
  EXPECT_EQ(sink.lines[3].text, "second\n");
}

// A line stamped ahead of the reader's clock waits for its time, and the reader sleeps
// meanwhile rather than spin; one stamped further ahead than any writer's clock could be is
// taken at once rather than hold its lane back.
TEST(TraceRing, ALineStampedAheadWaitsForItsTimeAndOneWildlyAheadDoesNot) {
  SteppedSystem clock;
  AttachedRing ring(kFourLanes, clock);
  Collector sink;
  constexpr std::uint64_t kMs = 1'000'000;
  ASSERT_EQ(ring.writer.Write("ahead\n", 1, 1, clock.now + 500 * kMs), WriteResult::kWritten);
  EXPECT_EQ(ring.reader.Poll(&Collector::Sink, &sink), 0u);
  ring.reader.Wait(1);
  EXPECT_EQ(clock.sleeps, 1) << "a line not due yet is no reason to stay awake";
  clock.now += 600 * kMs;
  EXPECT_EQ(ring.reader.Poll(&Collector::Sink, &sink), 1u);
  ASSERT_EQ(ring.writer.Write("wild\n", 1, 1, clock.now + 5000 * kMs), WriteResult::kWritten);
  EXPECT_EQ(ring.reader.Poll(&Collector::Sink, &sink), 1u);
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[1].text, "wild\n");
}

// A writer that died between its reservation and its commit holds back its own lane until
// the hole times out, and no other lane.
TEST(TraceRing, AHoleInOneLaneHoldsBackNoOtherThreadsLines) {
  AttachedRing ring(kFourLanes);
  RingWriter& writer = ring.writer;
  RingReader& reader = ring.reader;
  Region& region = ring.region;
  reader.holeTimeoutMs = 3600 * 1000;
  ASSERT_EQ(writer.Write("mine\n", 1, 1), WriteResult::kWritten);
  channel::LaneHeader* mine = nullptr;
  for (std::uint32_t i = 0; i < 4; ++i)
    if (channel::LaneTable(region.base)[i].reserve.load() != 0) mine = channel::LaneTable(region.base) + i;
  ASSERT_NE(mine, nullptr);
  mine->reserve.fetch_add(2 * channel::kRecordUnit);  // a reservation never committed
  ASSERT_EQ(writer.Write("mine, after the hole\n", 1, 1), WriteResult::kWritten);
  std::thread other([&] {
    for (int n = 0; n < 100; ++n) ASSERT_EQ(writer.Write(LineOf(2, n), 1, 2), WriteResult::kWritten);
  });
  other.join();
  Collector sink;
  DrainUntil(reader, sink, 101, std::chrono::seconds(60));
  ASSERT_EQ(sink.lines.size(), 101u);
  EXPECT_EQ(sink.lines[0].text, "mine\n");
  for (int n = 0; n < 100; ++n) EXPECT_EQ(sink.lines[n + 1].text, LineOf(2, n));
  EXPECT_EQ(reader.Holes(), 0u) << "the hole has not timed out";
}

TEST(TraceRing, AFullRingWithAStalledReaderHoldsAWriterOnlyForTheBoundAndCountsTheDrop) {
  Region region(channel::kMinRingBytes);
  RingWriter writer;
  RingReader reader;
  ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  const std::string line(100, 'x');
  int written = 0;
  WriteResult result;
  auto start = Clock::now();
  while ((result = writer.Write(line, 1, 1)) == WriteResult::kWritten) ++written, start = Clock::now();
  const auto held = Clock::now() - start;
  EXPECT_EQ(result, WriteResult::kDropped);
  EXPECT_GE(held, std::chrono::milliseconds(150)) << "a full ring is waited on for room";
  EXPECT_LT(held, std::chrono::seconds(1));
  // Having waited in vain, the writer does not wait on the same reader again for a while.
  start = Clock::now();
  EXPECT_EQ(writer.Write(line, 1, 1), WriteResult::kDropped);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_EQ(reader.Dropped(), 2u);

  Collector sink;
  DrainUntil(reader, sink, written, std::chrono::seconds(5));
  EXPECT_EQ(sink.lines.size(), std::size_t(written)) << "everything written before the drop arrives";
  EXPECT_EQ(writer.Write("after\n", 1, 1), WriteResult::kWritten) << "room again once the reader has read";
}

// A reader that falls asleep while it is behind is still woken by a writer that runs on, within
// a sixteenth of the lane, though the writers' last look found it awake and did not wake it.
TEST(TraceRing, AReaderThatFallsAsleepBehindIsWokenWithinASixteenthOfTheLane) {
  struct SleepWriting final : channel::RingSystem {
    std::uint64_t NowNs() override { return posix::PosixRingSystem().NowNs(); }
    void Wake(std::atomic<std::uint32_t>&) override { ++wakes; }
    // The reader's sleep: the writer runs on until it wakes the reader.
    void Sleep(std::atomic<std::uint32_t>&, std::uint32_t, std::uint32_t) override {
      while (wakes == 0 && whileAsleep()) {
      }
    }
    void Pause() override {}
    std::function<bool()> whileAsleep;
    int wakes = 0;
  } system;
  Region region(channel::kMinRingBytes);
  RingWriter writer;
  RingReader reader;
  ASSERT_TRUE(writer.Attach(region.base, region.bytes, system));
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, system));
  const std::uint64_t lane = channel::kMinRingBytes - channel::kRingHeaderBytes;
  const std::string line(32 - 1, 'x');  // with its header, two units
  std::uint64_t ahead = 0;
  // Awake and behind: three eighths of the lane is written while the reader reads nothing.
  for (; ahead < 3 * lane / 8; ahead += 64) ASSERT_EQ(writer.Write(line, 1, 1), WriteResult::kWritten);
  EXPECT_EQ(system.wakes, 0) << "an awake reader is not woken";
  Collector sink;
  ASSERT_GT(reader.Poll(&Collector::Sink, &sink), 0u);  // it catches up, then sleeps
  std::uint64_t sinceSleep = 0;
  system.whileAsleep = [&] {
    EXPECT_EQ(writer.Write(line, 1, 1), WriteResult::kWritten);
    sinceSleep += 64;
    return sinceSleep < lane / 2;
  };
  reader.Wait(60000);
  EXPECT_EQ(system.wakes, 1);
  EXPECT_LE(sinceSleep, lane / 4 + lane / 16 + 64) << "woken a sixteenth past the quarter mark at most";
  EXPECT_GE(sinceSleep, lane / 4 - 64 * 2) << "not woken before a quarter of the lane waits";
}

// A reader that was held up and reads again is waited for again at once: its hiccup costs
// the lines of the hiccup, not every line for a while after it.
TEST(TraceRing, AReaderBackFromAHiccupIsWaitedForAgainAtOnce) {
  Region region(channel::kMinRingBytes);
  RingWriter writer;
  RingReader reader;
  ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  writer.waitMs = 1000;    // longer than a busy machine keeps the reader thread off a core
  writer.stallMs = 60000;  // every later line would be dropped, were a stall kept while the reader reads
  const std::string line = std::string(90, 'x') + "\n";
  int before = 0;
  while (writer.Write(line, 1, 1) == WriteResult::kWritten) ++before;  // the hiccup: until a line waits in vain
  std::atomic<bool> done{false}, reading{false};
  Collector sink;
  std::thread steady([&] {
    while (!done || reader.Poll(&Collector::Sink, &sink) > 0) {
      if (reader.Poll(&Collector::Sink, &sink, 8) > 0) reading = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  while (!reading) std::this_thread::yield();  // it reads again
  constexpr int kLines = 3000;                 // several times what the ring holds
  int dropped = 0;
  for (int n = 0; n < kLines; ++n) dropped += writer.Write(line, 1, 2) != WriteResult::kWritten;
  done = true;
  steady.join();
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(sink.lines.size(), std::size_t(before + kLines));
}

// Writers that give up on a full ring give up before they reserve: a living writer never
// leaves a hole, and every line is either read or counted as dropped, never both.
TEST(TraceRing, WritersGivingUpOnAFullRingLeaveNoHolesAndEveryLineIsReadOrCounted) {
  Region region(channel::kMinRingBytes);
  RingReader reader;
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  // A hole would be skipped and counted; a writer that a busy machine holds off a core between
  // its reservation and its commit must not look like one.
  reader.holeTimeoutMs = 2000;
  constexpr int kThreads = 4, kLines = 20000;
  std::atomic<int> written{0}, refused{0}, running{kThreads};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      RingWriter writer;
      ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
      writer.waitMs = 1;  // give up at once: the races between room and reservation are the point
      writer.stallMs = 1;
      for (int n = 0; n < kLines; ++n) {
        const bool ok = writer.Write(LineOf(t, n), 1, t) == WriteResult::kWritten;
        ++(ok ? written : refused);
      }
      --running;
    });
  std::uint64_t read = 0;
  const auto count = [](void* context, const channel::RingRecord&) { ++*static_cast<std::uint64_t*>(context); };
  // The reader stops now and then until a writer has given up, however fast or slow the
  // machine is, so the ring is full many times over the run.
  for (int polls = 0; running > 0 || reader.Poll(count, &read) > 0; ++polls) {
    if (polls % 64 == 0) {
      const int before = refused;
      while (running > 0 && refused == before) std::this_thread::yield();
    }
    reader.Poll(count, &read, 16);
  }
  for (auto& w : writers) w.join();
  EXPECT_GT(refused.load(), 0) << "the ring was full at times";
  EXPECT_EQ(reader.Dropped(), static_cast<std::uint64_t>(refused.load()));
  EXPECT_EQ(reader.Holes(), 0u);
  EXPECT_EQ(read, static_cast<std::uint64_t>(written.load()));
  EXPECT_EQ(read + reader.Dropped(), std::uint64_t{kThreads * kLines});
}

TEST(TraceRing, AReservationNeverCommittedIsSkippedAndCountedAndLaterLinesArrive) {
  Region region(channel::kMinRingBytes);
  RingWriter writer;
  RingReader reader;
  ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  reader.holeTimeoutMs = 50;
  writer.Write("before\n", 1, 1);
  // A writer that died between its reservation and its commit.
  channel::LaneTable(region.base)->reserve.fetch_add(3 * channel::kRecordUnit);
  writer.Write("after 1\n", 1, 1);
  writer.Write("after 2\n", 1, 1);
  Collector sink;
  DrainUntil(reader, sink, 3, std::chrono::seconds(5));
  ASSERT_EQ(sink.lines.size(), 3u);
  EXPECT_EQ(sink.lines[0].text, "before\n");
  EXPECT_EQ(sink.lines[1].text, "after 1\n");
  EXPECT_EQ(sink.lines[2].text, "after 2\n");
  EXPECT_EQ(reader.Holes(), 1u);
}

// A ring retired for damage while a writer is between its reservation and its commit: the
// reader waits for that line instead of leaving it behind, and later writers are sent away.
TEST(TraceRing, ARingRetiredWhileAWriterIsMidLineStillDeliversThatLine) {
  Region region(channel::kMinRingBytes);
  RingWriter writer;
  RingReader reader;
  ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  ASSERT_EQ(writer.Write("in flight\n", 1, 1), WriteResult::kWritten);
  // Take the commit back, as if the writer were still copying, and damage the header.
  auto* commit = static_cast<std::uint32_t*>(
      static_cast<void*>(static_cast<unsigned char*>(region.base) + channel::kRingHeaderBytes));
  const std::uint32_t tag = *commit;
  std::atomic_ref<std::uint32_t>(*commit).store(0);
  channel::LaneTable(region.base)->readPos.store(0xFFFFFFFF00ull);
  std::thread committer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::atomic_ref<std::uint32_t>(*commit).store(tag, std::memory_order_release);
  });
  Collector sink;
  reader.Poll(&Collector::Sink, &sink);
  committer.join();
  EXPECT_TRUE(reader.Damaged());
  ASSERT_EQ(sink.lines.size(), 1u) << "the line being written when the ring was retired";
  EXPECT_EQ(sink.lines[0].text, "in flight\n");
  EXPECT_EQ(reader.LostToDamage(), 0u);
  EXPECT_EQ(writer.Write("later\n", 1, 1), WriteResult::kClosed);
}

// A system like this one, but with no ticks of its own.
struct TicklessSystem final : channel::RingSystem {
  std::uint64_t NowNs() override { return posix::PosixRingSystem().NowNs(); }
  void Wake(std::atomic<std::uint32_t>& word) override { posix::PosixRingSystem().Wake(word); }
  void Sleep(std::atomic<std::uint32_t>& word, std::uint32_t seen, std::uint32_t ms) override {
    posix::PosixRingSystem().Sleep(word, seen, ms);
  }
  void Pause() override { posix::PosixRingSystem().Pause(); }
};

// Each record shows when it was written on the system's clock, whether the ring stamps it in
// nanoseconds or in ticks: the ticks' rate is measured as the reader reads, and two writes a
// known time apart are shown that far apart.
TEST(TraceRing, ARecordsTimeIsWhenItWasWrittenWhicheverClockTheRingStampsIn) {
  channel::RingSystem& system = posix::PosixRingSystem();
  const std::uint64_t ticksPerMs = channel::MeasureTicksPerMs(system);
  if (system.HasTicks()) {
    EXPECT_GT(ticksPerMs, 0u);
  }
  for (const std::uint64_t rate : {std::uint64_t{0}, ticksPerMs}) {
    SCOPED_TRACE(rate ? "ticks" : "nanoseconds");
    Region region(channel::kMinRingBytes, rate);
    RingWriter writer;
    RingReader reader;
    ASSERT_TRUE(writer.Attach(region.base, region.bytes, system));
    ASSERT_TRUE(reader.Attach(region.base, region.bytes, system));
    EXPECT_EQ(writer.StampsPerMs(), rate ? rate : 1000000u);
    Collector sink;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bounds;
    for (int n = 0; n < 6; ++n) {
      const std::uint64_t before = system.NowNs();
      ASSERT_EQ(writer.Write("line\n", 1, 1), WriteResult::kWritten);
      bounds.emplace_back(before, system.NowNs());
      if (n == 2) std::this_thread::sleep_for(std::chrono::milliseconds(150));  // past the first measure's reach
      DrainUntil(reader, sink, n + 1, std::chrono::seconds(30));
    }
    ASSERT_EQ(sink.lines.size(), bounds.size());
    for (std::size_t i = 0; i < bounds.size(); ++i) {
      // A few microseconds for the rate's error and the reads of the two clocks.
      EXPECT_GE(sink.lines[i].timeNs + 20000, bounds[i].first) << i;
      EXPECT_LE(sink.lines[i].timeNs, bounds[i].second + 20000) << i;
    }
  }
  if (!ticksPerMs) return;
  // A writer whose system cannot read the ring's ticks leaves it to the other channel.
  Region region(channel::kMinRingBytes, ticksPerMs);
  TicklessSystem tickless;
  RingWriter writer;
  EXPECT_FALSE(writer.Attach(region.base, region.bytes, tickless));
  auto* header = static_cast<channel::RingHeader*>(region.base);
  header->ticksPerMs = 1;  // a rate no counter runs at
  EXPECT_FALSE(writer.Attach(region.base, region.bytes, system));
}

TEST(TraceRing, RefusesRegionsThatAreNotItsRingAndCutsOverlongLines) {
  Region region(channel::kMinRingBytes);
  RingWriter writer;
  EXPECT_FALSE(writer.Attach(region.base, region.bytes - 1, posix::PosixRingSystem())) << "size mismatch";
  EXPECT_FALSE(writer.Attach(region.base, 4096, posix::PosixRingSystem())) << "too small";
  auto* header = static_cast<channel::RingHeader*>(region.base);
  header->magic = 0;
  EXPECT_FALSE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  header->magic = channel::kRingMagic;
  header->capacity = 1u << 30;
  RingReader reader;
  EXPECT_FALSE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));

  Region fresh(channel::kMinRingBytes);
  ASSERT_TRUE(writer.Attach(fresh.base, fresh.bytes, posix::PosixRingSystem()));
  ASSERT_TRUE(reader.Attach(fresh.base, fresh.bytes, posix::PosixRingSystem()));
  const std::string huge(100000, 'h');
  EXPECT_EQ(writer.Write(huge, 1, 1), WriteResult::kWritten);
  Collector sink;
  DrainUntil(reader, sink, 1, std::chrono::seconds(5));
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_GT(sink.lines[0].text.size(), 16000u);
  EXPECT_EQ(sink.lines[0].text, huge.substr(0, sink.lines[0].text.size()));
}

// The ring between two inaccessible pages: a stray access outside it faults at once.
struct GuardedRegion {
  explicit GuardedRegion(std::size_t size) : bytes(size) {
    const std::size_t inner = (size + 4095) / 4096 * 4096;
    whole = inner + 2 * 4096;
    auto* mem = static_cast<unsigned char*>(::mmap(nullptr, whole, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(mem + 4096, inner, PROT_READ | PROT_WRITE);
    start = mem;
    base = mem + 4096;
    channel::InitializeRing(base, bytes);
  }
  ~GuardedRegion() { ::munmap(start, whole); }
  std::size_t bytes, whole;
  unsigned char* start;
  unsigned char* base;
};

TEST(TraceRing, RandomBytesOverHeaderAndRecordsNeverTakeAWriterOrReaderOutsideTheRing) {
  GuardedRegion region(channel::kMinRingBytes);
  RingWriter ringWriters[2];
  for (RingWriter& writer : ringWriters) {
    ASSERT_TRUE(writer.Attach(region.base, region.bytes, posix::PosixRingSystem()));
    writer.waitMs = 5;
    writer.stallMs = 5;
  }
  RingReader reader;
  ASSERT_TRUE(reader.Attach(region.base, region.bytes, posix::PosixRingSystem()));
  reader.holeTimeoutMs = 5;
  std::atomic<bool> stop{false};
  std::thread scribbler([&] {
    std::mt19937_64 random(12345);
    while (!stop.load()) {
      const std::size_t offset = random() % region.bytes;
      const std::size_t count = std::min<std::size_t>(1 + random() % 64, region.bytes - offset);
      for (std::size_t i = 0; i < count; ++i) region.base[offset + i] = static_cast<unsigned char>(random());
      if (random() % 4 == 0) std::this_thread::yield();
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t)
    writers.emplace_back([&, t] {
      const auto until = Clock::now() + std::chrono::milliseconds(800);
      for (int n = 0; Clock::now() < until; ++n) ringWriters[t].Write(LineOf(t, n % 1000), 1, t);
    });
  std::size_t longest = 0, polls = 0;
  Collector sink;
  const auto until = Clock::now() + std::chrono::milliseconds(1000);
  while (Clock::now() < until) {
    sink.lines.clear();
    if (reader.Poll(&Collector::Sink, &sink) == 0) reader.Wait(2);
    for (const auto& line : sink.lines) longest = std::max(longest, line.text.size());
    ++polls;
  }
  for (auto& w : writers) w.join();
  stop = true;
  scribbler.join();
  EXPECT_LE(longest, channel::kMaxRingLine);
  EXPECT_GT(polls, 10u) << "the reader kept coming back";
}

}  // namespace
}  // namespace vx380::testing
