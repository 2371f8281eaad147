#include "channel/TraceRing.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace vx380::channel {

namespace {

constexpr std::uint64_t kMsNs = 1000000;
constexpr std::size_t kPublishEvery = 64;     // records between two stores of the read position
constexpr std::uint64_t kPrefetchBytes = 64;  // a cache line: a typical line's record spans two

// A multiplication by an odd constant is a bijection, so two positions less than 2^32 units
// apart never share a tag: a record of an earlier lap never passes for a committed one.
std::uint32_t Tag(std::uint64_t pos) { return static_cast<std::uint32_t>(pos >> 5) * 0x9E3779B1u ^ 0xA5A5A5A5u; }

std::uint32_t Units(std::uint64_t textLength) {
  return static_cast<std::uint32_t>((kRecordUnit + textLength + kRecordUnit - 1) / kRecordUnit);
}

std::uint64_t MaxText(std::uint64_t capacity) {
  return std::min<std::uint64_t>(kMaxRingLine, capacity / 2 - kRecordUnit);
}

std::uint32_t CheckWord(const RecordHeader& r) { return r.commit ^ r.textLength ^ r.units; }

std::atomic_ref<std::uint32_t> CommitWord(unsigned char* data, std::uint64_t offset) {
  return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(data + offset));
}

enum class Found { kRecord, kNone, kDamaged };

// What lies at `pos`: a committed record of that very position (a stale one of an earlier lap
// has another tag), nothing committed yet, or a committed tag over a record that lies.
Found RecordAt(const unsigned char* data, std::uint64_t capacity, std::uint64_t pos, RecordHeader& record) {
  const std::uint64_t offset = pos & (capacity - 1);
  const std::uint32_t commit =
      std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(const_cast<unsigned char*>(data) + offset))
          .load(std::memory_order_acquire);
  if (commit != Tag(pos)) return Found::kNone;
  std::memcpy(&record, data + offset, sizeof record);
  record.commit = commit;
  if (record.textLength > MaxText(capacity) || record.units != Units(record.textLength) ||
      record.check != CheckWord(record))
    return Found::kDamaged;
  return Found::kRecord;
}

// Checks the header a peer left against what our own mapping can hold.
RingHeader* CheckedHeader(void* base, std::size_t mappedBytes, std::uint64_t& capacity) {
  capacity = RingCapacityFor(mappedBytes);
  if (!base || capacity == 0) return nullptr;
  auto* header = static_cast<RingHeader*>(base);
  if (header->magic.load(std::memory_order_acquire) != kRingMagic ||
      header->version.load(std::memory_order_relaxed) != kRingVersion ||
      header->capacity.load(std::memory_order_relaxed) != capacity)
    return nullptr;
  return header;
}

// The ring's clock as its header states it: ticks at a rate within bounds, or nanoseconds
// (ticksPerMs 0). False for anything else.
bool CheckedClock(const RingHeader& header, std::uint64_t& ticksPerMs) {
  const std::uint32_t clock = header.clock.load(std::memory_order_relaxed);
  ticksPerMs = header.ticksPerMs.load(std::memory_order_relaxed);
  if (clock == kClockNs) return ticksPerMs == 0;
  return clock == kClockTicks && ticksPerMs >= kMinTicksPerMs && ticksPerMs <= kMaxTicksPerMs;
}

// Ticks and nanoseconds read as nearly together as the clocks allow.
TickPair ReadTogether(RingSystem& system) {
  TickPair best;
  std::uint64_t bestWidth = ~std::uint64_t{0};
  for (int i = 0; i < 5; ++i) {
    const std::uint64_t before = system.NowNs();
    const std::uint64_t ticks = system.Ticks();
    const std::uint64_t after = system.NowNs();
    if (after - before < bestWidth) bestWidth = after - before, best = {ticks, before + (after - before) / 2};
  }
  return best;
}

}  // namespace

std::uint64_t RingCapacityFor(std::size_t mappedBytes) {
  if (mappedBytes < kMinRingBytes || mappedBytes > kMaxRingBytes) return 0;
  return std::bit_floor(static_cast<std::uint64_t>(mappedBytes - kRingHeaderBytes));
}

std::uint64_t MeasureTicksPerMs(RingSystem& system) {
  if (!system.HasTicks()) return 0;
  const TickPair first = ReadTogether(system);
  while (system.NowNs() - first.ns < 2 * kMsNs) {
  }
  const TickPair last = ReadTogether(system);
  if (last.ticks <= first.ticks || last.ns <= first.ns) return 0;
  const double perMs = static_cast<double>(last.ticks - first.ticks) * 1e6 / static_cast<double>(last.ns - first.ns);
  if (!(perMs >= kMinTicksPerMs && perMs <= kMaxTicksPerMs)) return 0;
  return static_cast<std::uint64_t>(perMs);
}

void InitializeRing(void* base, std::size_t mappedBytes, std::uint64_t ticksPerMs) {
  const std::uint64_t capacity = RingCapacityFor(mappedBytes);
  if (!base || capacity == 0) return;
  if (ticksPerMs < kMinTicksPerMs || ticksPerMs > kMaxTicksPerMs) ticksPerMs = 0;
  std::memset(base, 0, kRingHeaderBytes + capacity);
  auto* header = new (base) RingHeader{};
  header->capacity.store(capacity, std::memory_order_relaxed);
  header->clock.store(ticksPerMs ? kClockTicks : kClockNs, std::memory_order_relaxed);
  header->ticksPerMs.store(ticksPerMs, std::memory_order_relaxed);
  header->version.store(kRingVersion, std::memory_order_relaxed);
  header->state.store(kRingOpen, std::memory_order_relaxed);
  // Fill the data area with tags no position ever has at that place.
  auto* data = static_cast<unsigned char*>(base) + kRingHeaderBytes;
  for (std::uint64_t pos = 0; pos < capacity; pos += kRecordUnit) {
    const std::uint32_t stale = ~Tag(pos);
    std::memcpy(data + pos, &stale, sizeof stale);
  }
  header->magic.store(kRingMagic, std::memory_order_release);
}

// ---- writer ----

bool RingWriter::Attach(void* base, std::size_t mappedBytes, RingSystem& system) {
  RingHeader* header = CheckedHeader(base, mappedBytes, capacity_);
  std::uint64_t ticksPerMs = 0;
  // A ring stamped in ticks this system cannot read is left to the other channel.
  if (!header || !CheckedClock(*header, ticksPerMs) || (ticksPerMs && !system.HasTicks())) return false;
  header_ = header;
  data_ = static_cast<unsigned char*>(base) + kRingHeaderBytes;
  system_ = &system;
  ticks_ = ticksPerMs != 0;
  stampsPerMs_ = ticks_ ? ticksPerMs : kMsNs;
  return true;
}

bool RingWriter::Closed() const { return header_->state.load(std::memory_order_relaxed) != kRingOpen; }

WriteResult RingWriter::Write(std::string_view line, std::uint32_t pid, std::uint32_t tid) {
  return Write(line, pid, tid, Stamp());
}

WriteResult RingWriter::Write(std::string_view line, std::uint32_t pid, std::uint32_t tid, std::uint64_t stamp) {
  if (Closed()) return WriteResult::kClosed;
  const std::uint64_t length = std::min<std::uint64_t>(line.size(), MaxText(capacity_));
  const std::uint32_t units = Units(length);
  const std::uint64_t size = std::uint64_t{units} * kRecordUnit;
  const bool mayWait = MayWait();
  // Reserve only where there is room: the counter never runs more than a capacity past the
  // reader, so a reader that finds it further knows someone else wrote it.
  std::uint64_t pos = header_->reserve.load(std::memory_order_relaxed);
  Wait wait;
  for (;;) {
    if (pos % kRecordUnit != 0) return AwaitRetirement(mayWait);  // a counter someone scribbled on
    if (HasRoom(pos + size)) {
      if (header_->reserve.compare_exchange_weak(pos, pos + size, std::memory_order_seq_cst, std::memory_order_relaxed))
        break;
      continue;
    }
    if (!WaitForRoom(mayWait, wait)) return Closed() ? WriteResult::kClosed : Drop();
    pos = header_->reserve.load(std::memory_order_relaxed);
  }
  // A reader that retires the ring first closes it, then reads the counter, and waits for
  // every reservation below it. One made after that sees the ring closed here, and takes its
  // line elsewhere: it is never left in a ring nobody will read.
  if (header_->state.load(std::memory_order_seq_cst) != kRingOpen) return WriteResult::kClosed;
  const std::uint32_t tag = Tag(pos);
  RecordHeader record{tag, static_cast<std::uint32_t>(length), pid, tid, stamp, units, 0};
  record.check = CheckWord(record);
  CopyIn(pos + kRecordUnit, line.data(), static_cast<std::size_t>(length));
  const std::uint64_t offset = pos & (capacity_ - 1);
  std::memcpy(data_ + offset + sizeof record.commit,
              reinterpret_cast<const unsigned char*>(&record) + sizeof record.commit,
              sizeof record - sizeof record.commit);
  CommitWord(data_, offset).store(tag, std::memory_order_release);
  WakeReaderIfBehind(pos + size);
  PrefetchNext(pos + size);
  return WriteResult::kWritten;
}

// The ring is far larger than a cache, so the next record's lines are cold: ask for them now,
// while the host does its own work, rather than stall on them in the next write.
void RingWriter::PrefetchNext(std::uint64_t end) const {
#if defined(__GNUC__)
  const std::uint64_t mask = capacity_ - 1;
  __builtin_prefetch(data_ + (end & mask), 1);
  __builtin_prefetch(data_ + ((end + kPrefetchBytes) & mask), 1);
#else
  (void)end;
#endif
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

// Room for a record ending at `end`. The reader's position is looked up in the shared header
// (a cache line the reader keeps writing) only when the last one seen leaves no room: the
// position only grows. An `end` from a stale look at the counter may lie behind the reader:
// that counts as room, and the reservation that follows fails and looks again.
bool RingWriter::HasRoom(std::uint64_t end) {
  const auto ahead = [&](std::uint64_t readPos) { return static_cast<std::int64_t>(end - readPos); };
  if (ahead(knownReadPos_.load(std::memory_order_relaxed)) <= static_cast<std::int64_t>(capacity_)) return true;
  const std::uint64_t readPos = header_->readPos.load(std::memory_order_acquire);
  knownReadPos_.store(readPos, std::memory_order_relaxed);
  return ahead(readPos) <= static_cast<std::int64_t>(capacity_);
}

// One pause of a write waiting for room; false once the wait is over in vain. The bound
// counts from the last time the reader was seen to move: a reader that is slow but reading
// holds writers back instead of costing lines; only one that stopped is given up on.
bool RingWriter::WaitForRoom(bool mayWait, Wait& wait) {
  if (!mayWait || Closed()) return false;
  const std::uint64_t now = system_->NowNs();
  const std::uint64_t readPos = knownReadPos_.load(std::memory_order_relaxed);  // as HasRoom just saw it
  if (wait.deadline == 0 || readPos != wait.readPos) {
    if (wait.deadline == 0) WakeReader();
    wait = {now + waitMs * kMsNs, readPos};
  } else if (now >= wait.deadline) {
    stalledAtReadPos_.store(readPos, std::memory_order_relaxed);
    stalledUntilNs_.store(now + stallMs * kMsNs, std::memory_order_relaxed);
    return false;
  }
  system_->Pause();
  return true;
}

// A reader that made a writer wait in vain is not waited on again for a while, unless it
// has read since: then it is back, and writers wait for it as before.
bool RingWriter::MayWait() {
  const std::uint64_t stalledUntil = stalledUntilNs_.load(std::memory_order_relaxed);
  if (stalledUntil == 0 || system_->NowNs() >= stalledUntil) return true;
  if (header_->readPos.load(std::memory_order_relaxed) == stalledAtReadPos_.load(std::memory_order_relaxed))
    return false;
  stalledUntilNs_.store(0, std::memory_order_relaxed);
  return true;
}

std::uint64_t RingWriter::UnreadOf(std::uint32_t pid) const {
  std::uint64_t pos = header_->readPos.load(std::memory_order_acquire) & ~std::uint64_t{kRecordUnit - 1};
  std::uint64_t end = header_->reserve.load(std::memory_order_acquire);
  if (end - pos > capacity_) end = pos + capacity_;  // a counter gone wild: one lap at most
  std::uint64_t count = 0;
  while (pos < end) {
    RecordHeader record;
    if (RecordAt(data_, capacity_, pos, record) == Found::kRecord) {
      count += record.pid == pid;
      pos += std::uint64_t{record.units} * kRecordUnit;
    } else {
      pos += kRecordUnit;
    }
  }
  return count;
}

void RingWriter::CopyIn(std::uint64_t pos, const void* bytes, std::size_t size) {
  const std::uint64_t offset = pos & (capacity_ - 1);
  const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(size, capacity_ - offset));
  std::memcpy(data_ + offset, bytes, first);
  std::memcpy(data_, static_cast<const unsigned char*>(bytes) + first, size - first);
}

// A sleeping reader comes back by itself within its sleep's bound; a writer pays for a wake-up
// only once a quarter of the ring waits, so a steady trickle of lines costs no system call.
// Below the mark no fence either: a wake-up missed there costs only latency within that bound.
void RingWriter::WakeReaderIfBehind(std::uint64_t end) {
  if (end - knownReadPos_.load(std::memory_order_relaxed) < capacity_ / 4) return;
  const std::uint64_t readPos = header_->readPos.load(std::memory_order_relaxed);
  knownReadPos_.store(readPos, std::memory_order_relaxed);
  if (end - readPos >= capacity_ / 4) WakeReader();
}

void RingWriter::WakeReader() {
  // Pairs with the reader's fence between raising its flag and looking for records.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (header_->readerSleeping.load(std::memory_order_relaxed) == 0) return;
  if (header_->readerSleeping.exchange(0, std::memory_order_acq_rel) == 0) return;
  header_->wakeWord.fetch_add(1, std::memory_order_release);
  system_->Wake(header_->wakeWord);
}

// ---- reader ----

bool RingReader::Attach(void* base, std::size_t mappedBytes, RingSystem& system) {
  RingHeader* header = CheckedHeader(base, mappedBytes, capacity_);
  std::uint64_t ticksPerMs = 0;
  if (!header || !CheckedClock(*header, ticksPerMs) || (ticksPerMs && !system.HasTicks())) return false;
  header_ = header;
  data_ = static_cast<unsigned char*>(base) + kRingHeaderBytes;
  system_ = &system;
  ticks_ = ticksPerMs != 0;
  ticksPerMs_ = ticksPerMs;
  if (ticks_) {
    firstMeasure_ = lastMeasure_ = ReadTogether(system);
    nsPerTick_ = 1e6 / static_cast<double>(ticksPerMs);
  }
  pos_ = header_->readPos.load(std::memory_order_acquire) & ~std::uint64_t{kRecordUnit - 1};
  published_ = pos_;
  text_.reset(new char[kMaxRingLine]);
  return true;
}

RingReader::Look RingReader::Inspect(RecordHeader& record) const {
  switch (RecordAt(data_, capacity_, pos_, record)) {
    case Found::kRecord:
      return Look::kRecord;
    case Found::kDamaged:
      return Look::kDamaged;
    case Found::kNone:
      break;
  }
  return header_->reserve.load(std::memory_order_relaxed) == pos_ ? Look::kEmpty : Look::kPending;
}

void RingReader::CopyOut(std::uint64_t pos, void* bytes, std::size_t size) const {
  const std::uint64_t offset = pos & (capacity_ - 1);
  const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(size, capacity_ - offset));
  std::memcpy(bytes, data_ + offset, first);
  std::memcpy(static_cast<unsigned char*>(bytes) + first, data_, size - first);
}

void RingReader::Publish() {
  if (published_ == pos_ || damageCause_) return;
  published_ = pos_;
  header_->readPos.store(pos_, std::memory_order_release);
}

void RingReader::Deliver(const RecordHeader& record, Sink sink, void* context) {
  CopyOut(pos_ + kRecordUnit, text_.get(), record.textLength);
  pos_ += std::uint64_t{record.units} * kRecordUnit;
  const RingRecord out{record.pid, record.tid, NsOf(record.timeNs), std::string_view(text_.get(), record.textLength)};
  sink(context, out);
}

// A fresh measure before each poll: the records it reads were stamped close to it. The rate
// is the one over everything since Attach once that spans long enough to beat the first one.
void RingReader::MeasureTicks() {
  if (!ticks_) return;
  const TickPair now = ReadTogether(*system_);
  if (now.ticks <= lastMeasure_.ticks || now.ns <= lastMeasure_.ns) return;  // keep the last one
  lastMeasure_ = {now.ticks, now.ns};
  if (lastMeasure_.ns - firstMeasure_.ns >= 100 * kMsNs)
    nsPerTick_ = static_cast<double>(lastMeasure_.ns - firstMeasure_.ns) /
                 static_cast<double>(lastMeasure_.ticks - firstMeasure_.ticks);
}

std::uint64_t RingReader::NsOf(std::uint64_t stamp) const {
  if (!ticks_) return stamp;
  const double ns = static_cast<double>(lastMeasure_.ns) +
                    static_cast<double>(static_cast<std::int64_t>(stamp - lastMeasure_.ticks)) * nsPerTick_;
  if (!(ns > 0)) return 0;  // a stamp no writer of this ring made
  return ns < 1.8e19 ? static_cast<std::uint64_t>(ns) : ~std::uint64_t{0};
}

// Everything reserved before the reader got stuck and still not committed a hole timeout
// later belongs to writers that died or gave up: skip to the first committed record after it.
void RingReader::SkipHole() {
  std::uint64_t limit = pendingReserve_;
  if (limit - pos_ > 2 * capacity_) limit = pos_ + kRecordUnit;  // a reservation counter gone wild
  limit = std::min(limit, pos_ + capacity_);
  std::uint64_t to = pos_ + kRecordUnit;
  for (; to < limit; to += kRecordUnit) {
    RecordHeader record;
    if (RecordAt(data_, capacity_, to, record) != Found::kNone) break;
  }
  pos_ = std::max(to, pos_ + kRecordUnit);
  ++holes_;
  header_->holes.fetch_add(1, std::memory_order_relaxed);
}

std::size_t RingReader::Poll(Sink sink, void* context, std::size_t limit) {
  if (damageCause_) return 0;
  if (const char* cause = CheckSharedWords()) return Retire(cause, sink, context);
  MeasureTicks();
  std::size_t delivered = 0;
  for (std::size_t step = 0; step < limit; ++step) {
    RecordHeader record;
    const Look look = Inspect(record);
    if (look == Look::kRecord) {
      Deliver(record, sink, context);
      ++delivered;
      pendingSinceNs_ = 0;
      if (delivered % kPublishEvery == 0) Publish();
      continue;
    }
    if (look == Look::kDamaged) return delivered + Retire("a record lies about its length", sink, context);
    if (look == Look::kEmpty) {
      pendingSinceNs_ = 0;
      break;
    }
    // Everything reserved before a hole that timed out is as abandoned as the hole itself.
    if (pos_ >= abandonedBelow_ && !HoleTimedOut()) break;
    SkipHole();
    pendingSinceNs_ = 0;
  }
  Publish();
  return delivered;
}

// The shared words that only the reader writes, or that writers keep within bounds, against
// what the reader knows they must be.
const char* RingReader::CheckSharedWords() const {
  if (header_->magic.load(std::memory_order_relaxed) != kRingMagic ||
      header_->version.load(std::memory_order_relaxed) != kRingVersion ||
      header_->capacity.load(std::memory_order_relaxed) != capacity_ ||
      header_->clock.load(std::memory_order_relaxed) != (ticks_ ? kClockTicks : kClockNs) ||
      header_->ticksPerMs.load(std::memory_order_relaxed) != ticksPerMs_)
    return "its header was overwritten";
  if (header_->state.load(std::memory_order_relaxed) != kRingOpen) return "its state was overwritten";
  if (header_->readPos.load(std::memory_order_relaxed) != published_) return "its read position was overwritten";
  const std::uint64_t reserve = header_->reserve.load(std::memory_order_relaxed);
  if (reserve % kRecordUnit != 0 || reserve - pos_ > capacity_) return "its reservation counter was overwritten";
  return nullptr;
}

// Closes a damaged ring so that writers leave it, and delivers what is still intact up to a
// lap ahead: records are known by their position's tag, whatever the counters say. Each lying
// record, and each gap before a record found after it (a line begun and never finished), is a
// line lost; the text of a lying record is no gap of its own.
std::size_t RingReader::Retire(const char* cause, Sink sink, void* context) {
  damageCause_ = cause;
  header_->state.store(kRingRetired, std::memory_order_seq_cst);
  // Writers that reserved before they could see the ring closed are still copying: their
  // records below the counter are waited for, up to a hole's timeout.
  std::uint64_t reserved = header_->reserve.load(std::memory_order_seq_cst);
  if (reserved % kRecordUnit != 0 || reserved - pos_ > capacity_) reserved = pos_;  // the counter lies
  const std::uint64_t waitUntil = system_->NowNs() + holeTimeoutMs * kMsNs;
  std::size_t delivered = 0;
  enum { kInRecords, kInGap, kAfterLie } at = kInRecords;
  for (const std::uint64_t end = pos_ + capacity_; pos_ < end;) {
    RecordHeader record;
    const Found found = RecordAt(data_, capacity_, pos_, record);
    if (found == Found::kNone && at != kAfterLie && pos_ < reserved && system_->NowNs() < waitUntil) {
      system_->Pause();
      continue;
    }
    if (found == Found::kRecord && pos_ + std::uint64_t{record.units} * kRecordUnit <= end) {
      lostToDamage_ += at == kInGap;
      at = kInRecords;
      Deliver(record, sink, context);
      ++delivered;
      continue;
    }
    if (found == Found::kDamaged) ++lostToDamage_, at = kAfterLie;
    else if (at == kInRecords) at = kInGap;
    pos_ += kRecordUnit;
  }
  return delivered;
}

bool RingReader::HoleTimedOut() {
  const std::uint64_t now = system_->NowNs();
  if (pendingSinceNs_ == 0) {
    pendingSinceNs_ = now;
    pendingReserve_ = header_->reserve.load(std::memory_order_relaxed);
    return false;
  }
  if (now - pendingSinceNs_ < holeTimeoutMs * kMsNs) return false;
  abandonedBelow_ = pendingReserve_;
  return true;
}

void RingReader::Wait(std::uint32_t ms) {
  if (damageCause_) return;
  Publish();
  const std::uint32_t seen = header_->wakeWord.load(std::memory_order_acquire);
  header_->readerSleeping.store(1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  RecordHeader record;
  const Look look = Inspect(record);
  if (look == Look::kEmpty || look == Look::kPending) system_->Sleep(header_->wakeWord, seen, ms);
  header_->readerSleeping.store(0, std::memory_order_relaxed);
}

void RingReader::Close() {
  if (damageCause_) return;
  Publish();
  header_->state.store(kRingClosed, std::memory_order_release);
}

std::uint64_t RingReader::Dropped() const { return header_->dropped.load(std::memory_order_relaxed); }

}  // namespace vx380::channel
