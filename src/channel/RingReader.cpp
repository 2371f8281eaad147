// The ring's reading side: each lane's records in order, the lanes merged by time stamp,
// holes left by writers that died, and a ring found damaged retired with what it still holds.
#include <algorithm>
#include <cstring>

#include "channel/RingLayout.h"
#include "channel/TraceRing.h"

namespace vx380::channel {

using namespace layout;

namespace {

constexpr std::size_t kPublishEvery = 64;  // records of a lane between two stores of its read position
// A stamp further ahead of the reader's clock than this was made by no writer of this ring:
// its record is taken at once rather than held back for ever.
constexpr std::uint64_t kWildStampMs = 1000;

void CopyOut(const Lane& lane, std::uint64_t pos, void* bytes, std::size_t size) {
  const std::uint64_t offset = pos & (lane.capacity - 1);
  const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(size, lane.capacity - offset));
  std::memcpy(bytes, lane.data + offset, first);
  std::memcpy(static_cast<unsigned char*>(bytes) + first, lane.data, size - first);
}

}  // namespace

bool RingReader::Attach(void* base, std::size_t mappedBytes, RingSystem& system) {
  std::uint64_t ticksPerMs = 0;
  RingHeader* header = CheckedHeader(base, mappedBytes, capacity_, ticksPerMs);
  if (!header || (ticksPerMs && !system.HasTicks())) return false;
  header_ = header;
  system_ = &system;
  laneCount_ = LanesFor(capacity_);
  lanes_.reset(new ReaderLane[laneCount_]);
  for (std::uint32_t i = 0; i < laneCount_; ++i) {
    ReaderLane& lane = lanes_[i];
    lane.lane = LaneOf(base, capacity_, laneCount_, i);
    lane.pos = lane.lane.shared->readPos.load(std::memory_order_acquire) & ~std::uint64_t{kRecordUnit - 1};
    lane.published = lane.pos;
  }
  ticks_ = ticksPerMs != 0;
  ticksPerMs_ = ticksPerMs;
  stampsPerMs_ = ticks_ ? ticksPerMs : kMsNs;
  if (ticks_) {
    firstMeasure_ = lastMeasure_ = ReadTogether(system);
    nsPerTick_ = 1e6 / static_cast<double>(ticksPerMs);
  }
  text_.reset(new char[kMaxRingLine]);
  return true;
}

RingReader::Look RingReader::Inspect(const ReaderLane& lane, RecordHeader& record) const {
  switch (RecordAt(lane.lane, lane.pos, record)) {
    case Found::kRecord:
      return Look::kRecord;
    case Found::kDamaged:
      return Look::kDamaged;
    case Found::kNone:
      break;
  }
  return lane.lane.shared->reserve.load(std::memory_order_relaxed) == lane.pos ? Look::kEmpty : Look::kPending;
}

// What the lane offers next, past any hole that timed out: a record, nothing, a reservation
// still being written, or a record that lies.
RingReader::Look RingReader::Settle(ReaderLane& lane) {
  for (;;) {
    lane.look = Inspect(lane, lane.head);
    if (lane.look != Look::kPending) {
      if (lane.look != Look::kDamaged) lane.pendingSinceNs = 0;
      return lane.look;
    }
    // Everything reserved before a hole that timed out is as abandoned as the hole itself.
    if (lane.pos >= lane.abandonedBelow && !HoleTimedOut(lane)) return lane.look;
    SkipHole(lane);
    lane.pendingSinceNs = 0;
  }
}

// A record stamped before the poll began is taken now: every record of another lane stamped
// before it was committed by then, or was still being written (and so was no cause of it).
// Later ones wait for the next poll. With one lane, position order is the whole order.
bool RingReader::Due(std::uint64_t stamp, std::uint64_t horizon) const {
  return laneCount_ == 1 || stamp < horizon || stamp - horizon > kWildStampMs * stampsPerMs_;
}

// Now on the ring's clock, a microsecond early, for a counter read out of turn.
std::uint64_t RingReader::Horizon() const {
  return (ticks_ ? system_->Ticks() : system_->NowNs()) - stampsPerMs_ / 1000;
}

void RingReader::Publish(ReaderLane& lane) {
  if (lane.published == lane.pos || damageCause_) return;
  lane.published = lane.pos;
  lane.lane.shared->readPos.store(lane.pos, std::memory_order_release);
}

void RingReader::PublishAll() {
  for (std::uint32_t i = 0; i < laneCount_; ++i) Publish(lanes_[i]);
}

void RingReader::Deliver(ReaderLane& lane, const RecordHeader& record, Sink sink, void* context) {
  CopyOut(lane.lane, lane.pos + kRecordUnit, text_.get(), record.textLength);
  lane.pos += std::uint64_t{record.units} * kRecordUnit;
  const RingRecord out{record.pid, record.tid, NsOf(record.timeNs), std::string_view(text_.get(), record.textLength)};
  sink(context, out);
}

// A fresh measure before each poll: the records it reads were stamped close to it. The rate
// is the one over everything since Attach once that spans long enough to beat the first one.
void RingReader::MeasureTicks() {
  if (!ticks_) return;
  const TickPair now = ReadTogether(*system_);
  if (now.ticks <= lastMeasure_.ticks || now.ns <= lastMeasure_.ns) return;  // keep the last one
  lastMeasure_ = now;
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
void RingReader::SkipHole(ReaderLane& lane) {
  const std::uint64_t pos = lane.pos, capacity = lane.lane.capacity;
  std::uint64_t limit = lane.pendingReserve;
  if (limit - pos > 2 * capacity) limit = pos + kRecordUnit;  // a reservation counter gone wild
  limit = std::min(limit, pos + capacity);
  std::uint64_t to = pos + kRecordUnit;
  for (; to < limit; to += kRecordUnit) {
    RecordHeader record;
    if (RecordAt(lane.lane, to, record) != Found::kNone) break;
  }
  lane.pos = std::max(to, pos + kRecordUnit);
  ++holes_;
  header_->holes.fetch_add(1, std::memory_order_relaxed);
}

std::size_t RingReader::Poll(Sink sink, void* context, std::size_t limit) {
  if (damageCause_) return 0;
  if (const char* cause = CheckSharedWords()) return Retire(cause, sink, context);
  MeasureTicks();
  const std::uint64_t horizon = Horizon();  // before any lane is looked at
  constexpr const char* kLyingRecord = "a record lies about its length";
  for (std::uint32_t i = 0; i < laneCount_; ++i)
    if (Settle(lanes_[i]) == Look::kDamaged) return Retire(kLyingRecord, sink, context);
  std::size_t delivered = 0;
  while (delivered < limit) {
    ReaderLane* next = nullptr;
    for (std::uint32_t i = 0; i < laneCount_; ++i) {
      ReaderLane& lane = lanes_[i];
      if (lane.look == Look::kRecord && Due(lane.head.timeNs, horizon) &&
          (!next || lane.head.timeNs < next->head.timeNs))
        next = &lane;
    }
    if (!next) break;
    Deliver(*next, next->head, sink, context);
    ++delivered;
    if (++next->delivered % kPublishEvery == 0) Publish(*next);
    if (Settle(*next) == Look::kDamaged) return delivered + Retire(kLyingRecord, sink, context);
  }
  PublishAll();
  return delivered;
}

// The shared words that only the reader writes, or that writers keep within bounds, against
// what the reader knows they must be.
const char* RingReader::CheckSharedWords() const {
  if (header_->magic.load(std::memory_order_relaxed) != kRingMagic ||
      header_->version.load(std::memory_order_relaxed) != kRingVersion ||
      header_->capacity.load(std::memory_order_relaxed) != capacity_ ||
      header_->lanes.load(std::memory_order_relaxed) != laneCount_ ||
      header_->clock.load(std::memory_order_relaxed) != (ticks_ ? kClockTicks : kClockNs) ||
      header_->ticksPerMs.load(std::memory_order_relaxed) != ticksPerMs_)
    return "its header was overwritten";
  if (header_->state.load(std::memory_order_relaxed) != kRingOpen) return "its state was overwritten";
  for (std::uint32_t i = 0; i < laneCount_; ++i) {
    const ReaderLane& lane = lanes_[i];
    if (lane.lane.shared->readPos.load(std::memory_order_relaxed) != lane.published)
      return "its read position was overwritten";
    const std::uint64_t reserve = lane.lane.shared->reserve.load(std::memory_order_relaxed);
    if (reserve % kRecordUnit != 0 || reserve - lane.pos > lane.lane.capacity)
      return "its reservation counter was overwritten";
  }
  return nullptr;
}

// Closes a damaged ring so that writers leave it, and delivers what is still intact up to a
// lap ahead in each lane: records are known by their position's tag, whatever the counters
// say. Each lying record, and each gap before a record found after it (a line begun and
// never finished), is a line lost; the text of a lying record is no gap of its own.
std::size_t RingReader::Retire(const char* cause, Sink sink, void* context) {
  damageCause_ = cause;
  header_->state.store(kRingRetired, std::memory_order_seq_cst);
  const std::uint64_t waitUntil = system_->NowNs() + holeTimeoutMs * kMsNs;
  std::size_t delivered = 0;
  for (std::uint32_t i = 0; i < laneCount_; ++i) delivered += RetireLane(lanes_[i], waitUntil, sink, context);
  return delivered;
}

std::size_t RingReader::RetireLane(ReaderLane& lane, std::uint64_t waitUntil, Sink sink, void* context) {
  // Writers that reserved before they could see the ring closed are still copying: their
  // records below the counter are waited for, up to a hole's timeout.
  std::uint64_t reserved = lane.lane.shared->reserve.load(std::memory_order_seq_cst);
  if (reserved % kRecordUnit != 0 || reserved - lane.pos > lane.lane.capacity) reserved = lane.pos;  // it lies
  std::size_t delivered = 0;
  enum { kInRecords, kInGap, kAfterLie } at = kInRecords;
  for (const std::uint64_t end = lane.pos + lane.lane.capacity; lane.pos < end;) {
    RecordHeader record;
    const Found found = RecordAt(lane.lane, lane.pos, record);
    if (found == Found::kNone && at != kAfterLie && lane.pos < reserved && system_->NowNs() < waitUntil) {
      system_->Pause();
      continue;
    }
    if (found == Found::kRecord && lane.pos + std::uint64_t{record.units} * kRecordUnit <= end) {
      lostToDamage_ += at == kInGap;
      at = kInRecords;
      Deliver(lane, record, sink, context);
      ++delivered;
      continue;
    }
    if (found == Found::kDamaged) ++lostToDamage_, at = kAfterLie;
    else if (at == kInRecords) at = kInGap;
    lane.pos += kRecordUnit;
  }
  return delivered;
}

bool RingReader::HoleTimedOut(ReaderLane& lane) {
  const std::uint64_t now = system_->NowNs();
  if (lane.pendingSinceNs == 0) {
    lane.pendingSinceNs = now;
    lane.pendingReserve = lane.lane.shared->reserve.load(std::memory_order_relaxed);
    return false;
  }
  if (now - lane.pendingSinceNs < holeTimeoutMs * kMsNs) return false;
  lane.abandonedBelow = lane.pendingReserve;
  return true;
}

void RingReader::Wait(std::uint32_t ms) {
  if (damageCause_) return;
  PublishAll();
  const std::uint32_t seen = header_->wakeWord.load(std::memory_order_acquire);
  header_->readerSleeping.store(1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // A record stamped after now is no reason to stay awake: the next poll would not take it.
  const std::uint64_t horizon = Horizon();
  bool ready = false;
  for (std::uint32_t i = 0; i < laneCount_ && !ready; ++i) {
    RecordHeader record;
    const Look look = Inspect(lanes_[i], record);
    ready = (look == Look::kRecord && Due(record.timeNs, horizon)) || look == Look::kDamaged;
  }
  if (!ready) system_->Sleep(header_->wakeWord, seen, ms);
  header_->readerSleeping.store(0, std::memory_order_relaxed);
}

void RingReader::Close() {
  if (damageCause_) return;
  PublishAll();
  header_->state.store(kRingClosed, std::memory_order_release);
}

std::uint64_t RingReader::Dropped() const { return header_->dropped.load(std::memory_order_relaxed); }

}  // namespace vx380::channel
