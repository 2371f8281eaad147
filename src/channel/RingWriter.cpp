// The ring's writing side: a thread's lane, a record's reservation, copy and commit, and the
// bounded wait for room.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "channel/RingLayout.h"
#include "channel/TraceRing.h"

namespace vx380::channel {

using namespace layout;

namespace {

constexpr std::uint64_t kPrefetchBytes = 64;  // a cache line: a typical line's record spans two

// The threads of a process take lanes in turn, from a place its process id picks: threads of
// one process share a lane only once there are more of them than lanes.
std::atomic<std::uint32_t> g_threadsSeen{0};
thread_local std::uint32_t t_threadNumber = ~std::uint32_t{0};

std::uint32_t ThreadNumber() {
  if (t_threadNumber == ~std::uint32_t{0}) t_threadNumber = g_threadsSeen.fetch_add(1, std::memory_order_relaxed);
  return t_threadNumber;
}

void CopyIn(const Lane& lane, std::uint64_t pos, const void* bytes, std::size_t size) {
  const std::uint64_t offset = pos & (lane.capacity - 1);
  const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(size, lane.capacity - offset));
  std::memcpy(lane.data + offset, bytes, first);
  if (first < size) std::memcpy(lane.data, static_cast<const unsigned char*>(bytes) + first, size - first);
}

template <typename T>
void Put(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// The record's header but its commit word, field by field: a copy of a header built on the
// stack would load it back before its stores had left for the cache, and so wait for the
// stores ahead of them into the record's cold lines.
void PutHeader(unsigned char* at, const RecordHeader& r) {
  Put(at + offsetof(RecordHeader, textLength), r.textLength);
  Put(at + offsetof(RecordHeader, pid), r.pid);
  Put(at + offsetof(RecordHeader, tid), r.tid);
  Put(at + offsetof(RecordHeader, timeNs), r.timeNs);
  Put(at + offsetof(RecordHeader, units), r.units);
  Put(at + offsetof(RecordHeader, check), CheckWord(r));
}

// The lane is far larger than a cache, so the next record's lines are cold: ask for them now,
// while the host does its own work, rather than stall on them in the next write.
void PrefetchNext(const Lane& lane, std::uint64_t end) {
#if defined(__GNUC__)
  const std::uint64_t mask = lane.capacity - 1;
  __builtin_prefetch(lane.data + (end & mask), 1);
  __builtin_prefetch(lane.data + ((end + kPrefetchBytes) & mask), 1);
#else
  (void)lane, (void)end;
#endif
}

}  // namespace

bool RingWriter::Attach(void* base, std::size_t mappedBytes, RingSystem& system) {
  std::uint64_t capacity = 0, ticksPerMs = 0;
  RingHeader* header = CheckedHeader(base, mappedBytes, capacity, ticksPerMs);
  // A ring stamped in ticks this system cannot read is left to the other channel.
  if (!header || (ticksPerMs && !system.HasTicks())) return false;
  laneCount_ = LanesFor(capacity);
  lanes_.reset(new WriterLane[laneCount_]);
  for (std::uint32_t i = 0; i < laneCount_; ++i) lanes_[i].lane = LaneOf(base, capacity, laneCount_, i);
  header_ = header;
  system_ = &system;
  ticks_ = ticksPerMs != 0;
  stampsPerMs_ = ticks_ ? ticksPerMs : kMsNs;
  return true;
}

bool RingWriter::Closed() const { return header_->state.load(std::memory_order_relaxed) != kRingOpen; }

RingWriter::WriterLane& RingWriter::LaneOfThisThread(std::uint32_t pid) {
  return lanes_[(pid * 0x9E3779B1u + ThreadNumber()) & (laneCount_ - 1)];
}

WriteResult RingWriter::Write(std::string_view line, std::uint32_t pid, std::uint32_t tid) {
  return Write(line, pid, tid, Stamp());
}

WriteResult RingWriter::Write(std::string_view line, std::uint32_t pid, std::uint32_t tid, std::uint64_t stamp) {
  if (Closed()) return WriteResult::kClosed;
  WriterLane& lane = LaneOfThisThread(pid);
  const Lane& to = lane.lane;
  const std::uint64_t length = std::min<std::uint64_t>(line.size(), MaxText(to.capacity));
  const std::uint32_t units = Units(length);
  const std::uint64_t size = std::uint64_t{units} * kRecordUnit;
  const bool mayWait = MayWait(lane);
  // Reserve only where there is room: the counter never runs more than a lane past the
  // reader, so a reader that finds it further knows someone else wrote it.
  std::uint64_t pos = to.shared->reserve.load(std::memory_order_relaxed);
  Wait wait;
  for (;;) {
    if (pos % kRecordUnit != 0) return AwaitRetirement(mayWait);  // a counter someone scribbled on
    if (HasRoom(lane, pos + size)) {
      if (to.shared->reserve.compare_exchange_weak(pos, pos + size, std::memory_order_seq_cst,
                                                   std::memory_order_relaxed))
        break;
      continue;
    }
    if (!WaitForRoom(lane, mayWait, wait)) return Closed() ? WriteResult::kClosed : Drop();
    pos = to.shared->reserve.load(std::memory_order_relaxed);
  }
  // A reader that retires the ring first closes it, then reads the counters, and waits for
  // every reservation below them. One made after that sees the ring closed here, and takes
  // its line elsewhere: it is never left in a ring nobody will read.
  if (header_->state.load(std::memory_order_seq_cst) != kRingOpen) return WriteResult::kClosed;
  const std::uint32_t tag = Tag(pos);
  CopyIn(to, pos + kRecordUnit, line.data(), static_cast<std::size_t>(length));
  const std::uint64_t offset = pos & (to.capacity - 1);
  PutHeader(to.data + offset, RecordHeader{tag, static_cast<std::uint32_t>(length), pid, tid, stamp, units, 0});
  CommitWord(to.data, offset).store(tag, std::memory_order_release);
  WakeReaderIfBehind(lane, pos + size);
  PrefetchNext(to, pos + size);
  return WriteResult::kWritten;
}

// The reader retires a ring whose counter someone scribbled on as soon as it sees it, taking
// the records still in it. This writer's next line goes elsewhere: waiting (within the wait
// bound) for the reader to have taken them keeps that line behind the thread's earlier ones.
WriteResult RingWriter::AwaitRetirement(bool mayWait) {
  if (mayWait) {
    WakeReader();
    for (const std::uint64_t until = system_->NowNs() + waitMs * kMsNs; !Closed() && system_->NowNs() < until;)
      system_->Pause();
  }
  return WriteResult::kClosed;
}

WriteResult RingWriter::Drop() {
  header_->dropped.fetch_add(1, std::memory_order_relaxed);
  return WriteResult::kDropped;
}

// Room for a record ending at `end`. The reader's position is looked up in the lane's shared
// counters (a cache line the reader keeps writing) only when the last one seen leaves no
// room: the position only grows. An `end` from a stale look at the counter may lie behind the
// reader: that counts as room, and the reservation that follows fails and looks again.
[[gnu::always_inline]] inline bool RingWriter::HasRoom(WriterLane& lane, std::uint64_t end) {
  const auto capacity = static_cast<std::int64_t>(lane.lane.capacity);
  const auto ahead = [&](std::uint64_t readPos) { return static_cast<std::int64_t>(end - readPos); };
  if (ahead(lane.knownReadPos.load(std::memory_order_relaxed)) <= capacity) return true;
  const std::uint64_t readPos = lane.lane.shared->readPos.load(std::memory_order_acquire);
  lane.knownReadPos.store(readPos, std::memory_order_relaxed);
  return ahead(readPos) <= capacity;
}

// One pause of a write waiting for room; false once the wait is over in vain. The bound
// counts from the last time the reader was seen to move: a reader that is slow but reading
// holds writers back instead of costing lines; only one that stopped is given up on.
bool RingWriter::WaitForRoom(WriterLane& lane, bool mayWait, Wait& wait) {
  if (!mayWait || Closed()) return false;
  const std::uint64_t now = system_->NowNs();
  const std::uint64_t readPos = lane.knownReadPos.load(std::memory_order_relaxed);  // as HasRoom just saw it
  if (wait.deadline == 0 || readPos != wait.readPos) {
    if (wait.deadline == 0) WakeReader();
    wait = {now + waitMs * kMsNs, readPos};
  } else if (now >= wait.deadline) {
    lane.stalledAtReadPos.store(readPos, std::memory_order_relaxed);
    lane.stalledUntilNs.store(now + stallMs * kMsNs, std::memory_order_relaxed);
    return false;
  }
  system_->Pause();
  return true;
}

// A reader that made a writer wait in vain is not waited on again for a while, unless it
// has read since: then it is back, and writers wait for it as before.
[[gnu::always_inline]] inline bool RingWriter::MayWait(WriterLane& lane) {
  const std::uint64_t stalledUntil = lane.stalledUntilNs.load(std::memory_order_relaxed);
  if (stalledUntil == 0 || system_->NowNs() >= stalledUntil) return true;
  if (lane.lane.shared->readPos.load(std::memory_order_relaxed) ==
      lane.stalledAtReadPos.load(std::memory_order_relaxed))
    return false;
  lane.stalledUntilNs.store(0, std::memory_order_relaxed);
  return true;
}

std::uint64_t RingWriter::UnreadOf(std::uint32_t pid) const {
  std::uint64_t count = 0;
  for (std::uint32_t i = 0; i < laneCount_; ++i) {
    const Lane& lane = lanes_[i].lane;
    std::uint64_t pos = lane.shared->readPos.load(std::memory_order_acquire) & ~std::uint64_t{kRecordUnit - 1};
    std::uint64_t end = lane.shared->reserve.load(std::memory_order_acquire);
    if (end - pos > lane.capacity) end = pos + lane.capacity;  // a counter gone wild: one lap at most
    while (pos < end) {
      RecordHeader record;
      if (RecordAt(lane, pos, record) == Found::kRecord) {
        count += record.pid == pid;
        pos += std::uint64_t{record.units} * kRecordUnit;
      } else {
        pos += kRecordUnit;
      }
    }
  }
  return count;
}

// A sleeping reader comes back by itself within its sleep's bound; a writer pays for a wake-up
// only once a quarter of its lane waits, so a steady trickle of lines costs no system call.
// Below the mark no fence either: a wake-up missed there costs only latency within that bound.
// Past it, a reader that is awake but behind would cost every line a fence and a look at the
// reader's cache line: the writers look again only a sixteenth of the lane later. A reader
// asleep meanwhile is woken then, or by the first writer that finds no room.
[[gnu::always_inline]] inline void RingWriter::WakeReaderIfBehind(WriterLane& lane, std::uint64_t end) {
  const std::uint64_t mark = lane.lane.capacity / 4;
  if (end - lane.knownReadPos.load(std::memory_order_relaxed) < mark) return;
  if (end - lane.lookedBehindAt.load(std::memory_order_relaxed) < lane.lane.capacity / 16) return;
  lane.lookedBehindAt.store(end, std::memory_order_relaxed);
  const std::uint64_t readPos = lane.lane.shared->readPos.load(std::memory_order_relaxed);
  lane.knownReadPos.store(readPos, std::memory_order_relaxed);
  if (end - readPos >= mark) WakeReader();
}

void RingWriter::WakeReader() {
  // Pairs with the reader's fence between raising its flag and looking for records.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (header_->readerSleeping.load(std::memory_order_relaxed) == 0) return;
  if (header_->readerSleeping.exchange(0, std::memory_order_acq_rel) == 0) return;
  header_->wakeWord.fetch_add(1, std::memory_order_release);
  system_->Wake(header_->wakeWord);
}

}  // namespace vx380::channel
