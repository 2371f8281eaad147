// A trace ring in shared memory: many writer processes and threads, one reader. The memory is
// a region the caller maps (a file on POSIX, a named mapping on Windows); this code never asks
// the operating system for anything but through RingSystem.
//
// Layout: a 4096-byte header (the ring's words, then each lane's counters), then the data
// area, split into lanes of equal size, a power of two each. A thread always writes to the
// same lane, and the threads of a process to lanes of their own while there are lanes enough,
// so that writers on different processors share no cache line. A record is a 32-byte record
// header and the line's exact bytes, padded to a multiple of 32; it may wrap around the end of
// its lane. A writer reserves its record with a compare-and-swap on the lane's reservation
// counter, writes it, and publishes it by a release store of the record's commit word (a tag
// derived from the record's position, so a stale record from an earlier lap never looks
// committed). The reader takes each lane's records in position order, which keeps each
// thread's order, and the lanes' records in the order of their time stamps.
// A record's time stamp is the system's NowNs, or, where the reader found the system's tick
// counter fit (steady, the same on every processor), that counter: cheaper to read, and
// turned into NowNs nanoseconds by the reader, which keeps measuring its rate.
//
// Every shared field may have been written by someone hostile or broken: both sides keep
// their own copy of the capacity, reduce every position modulo it, check every length, and
// bound every wait by time. The reader checks each shared word against its own copies; a word
// that disagrees retires the ring (it is closed, its intact records still delivered) so that
// the listener can offer a fresh one instead of every later line being dropped.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vx380::channel {

// What a ring needs from the operating system.
class RingSystem {
 public:
  virtual ~RingSystem() = default;
  // Nanoseconds of a clock that never goes back and is the same for every process.
  virtual std::uint64_t NowNs() = 0;
  // Wakes a reader sleeping in Sleep on `word` (futex, event...).
  virtual void Wake(std::atomic<std::uint32_t>& word) = 0;
  // Sleeps until `word` differs from `seen`, a Wake, or `ms` milliseconds.
  virtual void Sleep(std::atomic<std::uint32_t>& word, std::uint32_t seen, std::uint32_t ms) = 0;
  // A writer waiting for room gives up the processor briefly.
  virtual void Pause() = 0;
  // Whether Ticks counts at a steady rate, the same on every processor and in every process.
  virtual bool HasTicks() { return false; }
  // A counter cheaper to read than NowNs; only where HasTicks.
  virtual std::uint64_t Ticks() { return NowNs(); }
};

inline constexpr std::uint32_t kRingMagic = 0x47525856;  // "VXRG"
inline constexpr std::uint32_t kRingVersion = 3;
inline constexpr std::size_t kRingHeaderBytes = 4096;
inline constexpr std::size_t kRecordUnit = 32;
inline constexpr std::size_t kMinRingBytes = kRingHeaderBytes + 64 * 1024;
inline constexpr std::size_t kMaxRingBytes = std::size_t{1} << 30;
// A longer line is cut, as the socket channel cuts an oversized datagram.
inline constexpr std::size_t kMaxRingLine = 64 * 1024;

// The reader's state as writers see it: anything but open sends writers away. A ring the
// reader found damaged is retired, not closed: what it holds was counted by the reader.
enum RingState : std::uint32_t { kRingOpen = 1, kRingClosed = 2, kRingRetired = 3 };

// What a record's time stamp counts: NowNs nanoseconds, or the system's ticks.
enum RingClock : std::uint32_t { kClockNs = 0, kClockTicks = 1 };
// A tick rate a ring may state: 10 MHz to 100 GHz.
inline constexpr std::uint64_t kMinTicksPerMs = 10'000;
inline constexpr std::uint64_t kMaxTicksPerMs = 100'000'000;

struct RingHeader {
  std::atomic<std::uint32_t> magic;
  std::atomic<std::uint32_t> version;
  std::atomic<std::uint64_t> capacity;  // bytes of the data area
  std::atomic<std::uint32_t> state;
  std::atomic<std::uint32_t> readerProcess;               // where the platform tells liveness by process id
  std::atomic<std::uint32_t> clock;                       // a RingClock
  std::atomic<std::uint32_t> lanes;                       // as LanesFor(capacity)
  std::atomic<std::uint64_t> ticksPerMs;                  // the ticks' rate as the reader measured it at first
  alignas(64) std::atomic<std::uint32_t> readerSleeping;  // reader and writers
  std::atomic<std::uint32_t> wakeWord;
  alignas(64) std::atomic<std::uint64_t> dropped;  // lines writers gave up on
  std::atomic<std::uint64_t> holes;                // reservations the reader skipped
  std::atomic<std::uint64_t> lostEarlier;          // lines writers left unread in the ring of a listener that ended
};

// A lane's counters, each on a cache line of its own.
struct LaneHeader {
  alignas(64) std::atomic<std::uint64_t> reserve;  // writers: next free position in the lane
  alignas(64) std::atomic<std::uint64_t> readPos;  // reader: everything before it is consumed
};

inline constexpr std::size_t kLaneTableOffset = 256;
inline constexpr std::uint32_t kMaxLanes = 16;
// The smallest lane a ring is split into: a ring smaller than two of them has one lane.
inline constexpr std::uint64_t kMinLaneBytes = 1024 * 1024;
static_assert(sizeof(RingHeader) <= kLaneTableOffset);
static_assert(kLaneTableOffset + kMaxLanes * sizeof(LaneHeader) <= kRingHeaderBytes);
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

struct RecordHeader {
  std::uint32_t commit;
  std::uint32_t textLength;
  std::uint32_t pid;
  std::uint32_t tid;
  std::uint64_t timeNs;
  std::uint32_t units;  // record size in kRecordUnit, header included
  std::uint32_t check;  // commit ^ textLength ^ units: a cheap guard against scribbles
};
static_assert(sizeof(RecordHeader) == kRecordUnit);

// The data-area bytes a mapping of `mappedBytes` holds; 0 when it cannot hold a ring.
std::uint64_t RingCapacityFor(std::size_t mappedBytes);
// The lanes a data area of `capacity` bytes is split into.
std::uint32_t LanesFor(std::uint64_t capacity);
// The lane counters of the ring mapped at `base`.
inline LaneHeader* LaneTable(void* base) {
  return reinterpret_cast<LaneHeader*>(static_cast<unsigned char*>(base) + kLaneTableOffset);
}

// Lays out a fresh ring over `base` (the listener does this before anyone else sees it),
// whose records are stamped in ticks at `ticksPerMs`, or in nanoseconds when that is 0.
void InitializeRing(void* base, std::size_t mappedBytes, std::uint64_t ticksPerMs = 0);

// The system's ticks per millisecond, measured over a couple of milliseconds; 0 where the
// system has no ticks fit for stamps.
std::uint64_t MeasureTicksPerMs(RingSystem& system);

struct RingRecord {
  std::uint32_t pid;
  std::uint32_t tid;
  std::uint64_t timeNs;   // on the NowNs clock, whatever the ring stamps in
  std::string_view text;  // valid until the next Poll
};

// The system's ticks and its NowNs read together.
struct TickPair {
  std::uint64_t ticks = 0, ns = 0;
};

enum class WriteResult { kWritten, kDropped, kClosed };

// One lane as both sides see it: its counters, its records, and its size.
struct Lane {
  LaneHeader* shared = nullptr;
  unsigned char* data = nullptr;
  std::uint64_t capacity = 0;
};

class RingWriter {
 public:
  // Checks the header against the mapping; false leaves the writer unusable.
  bool Attach(void* base, std::size_t mappedBytes, RingSystem& system);
  bool attached() const { return header_ != nullptr; }
  // Writes one line, into the lane of the calling thread. A full lane is waited on for room
  // as long as the reader moves, and up to waitMs after it last did; a reader that made a
  // writer wait that long in vain is not waited on again for stallMs, or until it reads again.
  WriteResult Write(std::string_view line, std::uint32_t pid, std::uint32_t tid);
  // The same with the record's stamp read by the caller (from Stamp), who may have read it
  // for its own purposes already.
  WriteResult Write(std::string_view line, std::uint32_t pid, std::uint32_t tid, std::uint64_t stamp);
  // The ring's clock: what a record's stamp counts, and how many of it make a millisecond.
  std::uint64_t Stamp() const { return ticks_ ? system_->Ticks() : system_->NowNs(); }
  std::uint64_t StampsPerMs() const { return stampsPerMs_; }
  bool Closed() const;
  bool Retired() const { return header_->state.load(std::memory_order_relaxed) == kRingRetired; }
  std::uint32_t ReaderProcess() const { return header_->readerProcess.load(std::memory_order_relaxed); }
  // Committed records of `pid` the reader has not taken yet: what a ring whose reader ended
  // cost that process. Read once the ring is out of use.
  std::uint64_t UnreadOf(std::uint32_t pid) const;
  // Lines this process lost in an earlier ring, for the reader of this one to report.
  void ReportLostEarlier(std::uint64_t lines) { header_->lostEarlier.fetch_add(lines, std::memory_order_relaxed); }

  std::uint32_t waitMs = 200;
  std::uint32_t stallMs = 1000;

 private:
  // A lane and what this process's writers know of its reader.
  struct WriterLane {
    Lane lane;
    alignas(64) std::atomic<std::uint64_t> knownReadPos{0};  // the reader's position as last seen
    std::atomic<std::uint64_t> stalledUntilNs{0};
    std::atomic<std::uint64_t> stalledAtReadPos{0};  // the reader's position when it was given up on
    std::atomic<std::uint64_t> lookedBehindAt{0};    // where a write last looked whether the reader is behind
  };
  struct Wait {
    std::uint64_t deadline = 0;  // 0 until the write first waits
    std::uint64_t readPos = 0;   // the reader's position when the deadline was set
  };
  WriterLane& LaneOfThisThread(std::uint32_t pid);
  bool HasRoom(WriterLane& lane, std::uint64_t end);
  bool WaitForRoom(WriterLane& lane, bool mayWait, Wait& wait);
  bool MayWait(WriterLane& lane);
  void WakeReader();
  void WakeReaderIfBehind(WriterLane& lane, std::uint64_t end);
  WriteResult Drop();
  WriteResult AwaitRetirement(bool mayWait);

  RingHeader* header_ = nullptr;
  std::unique_ptr<WriterLane[]> lanes_;
  std::uint32_t laneCount_ = 0;
  RingSystem* system_ = nullptr;
  bool ticks_ = false;
  std::uint64_t stampsPerMs_ = 1'000'000;
};

class RingReader {
 public:
  using Sink = void (*)(void* context, const RingRecord& record);

  bool Attach(void* base, std::size_t mappedBytes, RingSystem& system);
  // Hands committed records to `sink`, at most `limit`, and returns how many: each lane's in
  // their order, and records of different lanes in the order of their stamps, as far as
  // those written by then (the ones stamped before the poll began) can tell.
  std::size_t Poll(Sink sink, void* context, std::size_t limit = 4096);
  // Sleeps up to ms unless a record is ready. Writers wake it early only when the ring fills
  // (a quarter of it unread, or a writer waiting for room): ms bounds how late a line shows.
  void Wait(std::uint32_t ms);
  // Marks the ring closed: writers stop using it.
  void Close();
  void SetReaderProcess(std::uint32_t pid) { header_->readerProcess.store(pid, std::memory_order_relaxed); }

  std::uint64_t Dropped() const;  // as writers report it
  std::uint64_t Holes() const { return holes_; }
  std::uint64_t LostEarlier() const { return header_->lostEarlier.load(std::memory_order_relaxed); }
  // Set once a shared word disagreed with the reader's copies: the ring is closed, what could
  // be read of it was delivered, and `LostToDamage` lines (at least) could not be.
  bool Damaged() const { return damageCause_ != nullptr; }
  const char* DamageCause() const { return damageCause_; }
  std::uint64_t LostToDamage() const { return lostToDamage_; }

  // A reservation not committed for this long belongs to a writer that died or gave up.
  std::uint32_t holeTimeoutMs = 1000;

 private:
  enum class Look { kRecord, kEmpty, kPending, kDamaged };
  // A lane as the reader reads it: its own copies of the positions (the shared ones are only
  // ever written) and the record it found first.
  struct ReaderLane {
    Lane lane;
    std::uint64_t pos = 0;
    std::uint64_t published = 0;
    std::uint64_t delivered = 0;
    std::uint64_t pendingSinceNs = 0;
    std::uint64_t pendingReserve = 0;  // the reservation counter when the reader got stuck
    std::uint64_t abandonedBelow = 0;  // reservations older than a timed-out hole: skipped at once
    Look look = Look::kEmpty;
    RecordHeader head{};
  };
  Look Inspect(const ReaderLane& lane, RecordHeader& record) const;
  Look Settle(ReaderLane& lane);
  std::uint64_t Horizon() const;
  bool Due(std::uint64_t stamp, std::uint64_t horizon) const;
  void SkipHole(ReaderLane& lane);
  bool HoleTimedOut(ReaderLane& lane);
  void Publish(ReaderLane& lane);
  void PublishAll();
  void Deliver(ReaderLane& lane, const RecordHeader& record, Sink sink, void* context);
  void MeasureTicks();
  std::uint64_t NsOf(std::uint64_t stamp) const;
  const char* CheckSharedWords() const;
  std::size_t Retire(const char* cause, Sink sink, void* context);
  std::size_t RetireLane(ReaderLane& lane, std::uint64_t waitUntil, Sink sink, void* context);

  RingHeader* header_ = nullptr;
  std::unique_ptr<ReaderLane[]> lanes_;
  std::uint32_t laneCount_ = 0;
  std::uint64_t capacity_ = 0;
  std::uint64_t holes_ = 0;
  std::uint64_t lostToDamage_ = 0;
  const char* damageCause_ = nullptr;
  RingSystem* system_ = nullptr;
  // Ticks to nanoseconds: the rate over everything measured since Attach, and the last
  // measure, near which the records being read were stamped.
  bool ticks_ = false;
  std::uint64_t ticksPerMs_ = 0;
  std::uint64_t stampsPerMs_ = 1'000'000;
  TickPair firstMeasure_, lastMeasure_;
  double nsPerTick_ = 1.0;
  std::unique_ptr<char[]> text_;  // kMaxRingLine bytes
};

}  // namespace vx380::channel
