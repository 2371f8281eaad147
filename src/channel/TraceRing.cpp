#include "channel/TraceRing.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace vx380::channel {

namespace {

constexpr std::uint64_t kMsNs = 1000000;
constexpr std::size_t kPublishEvery = 64;  // records between two stores of the read position
constexpr std::uint64_t kPrefetchBytes = 64;  // a cache line: a typical line's record spans two

// A multiplication by an odd constant is a bijection, so two positions less than 2^32 units
// apart never share a tag: a record of an earlier lap never passes for a committed one.
std::uint32_t Tag(std::uint64_t pos) {
  return static_cast<std::uint32_t>(pos >> 5) * 0x9E3779B1u ^ 0xA5A5A5A5u;
}

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

}  // namespace

std::uint64_t RingCapacityFor(std::size_t mappedBytes) {
  if (mappedBytes < kMinRingBytes || mappedBytes > kMaxRingBytes) return 0;
  return std::bit_floor(static_cast<std::uint64_t>(mappedBytes - kRingHeaderBytes));
}

void InitializeRing(void* base, std::size_t mappedBytes) {
  const std::uint64_t capacity = RingCapacityFor(mappedBytes);
  if (!base || capacity == 0) return;
  std::memset(base, 0, kRingHeaderBytes + capacity);
  auto* header = new (base) RingHeader{};
  header->capacity.store(capacity, std::memory_order_relaxed);
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
  header_ = CheckedHeader(base, mappedBytes, capacity_);
  if (!header_) return false;
  data_ = static_cast<unsigned char*>(base) + kRingHeaderBytes;
  system_ = &system;
  return true;
}

bool RingWriter::Closed() const { return header_->state.load(std::memory_order_relaxed) == kRingClosed; }

WriteResult RingWriter::Write(std::string_view line, std::uint32_t pid, std::uint32_t tid) {
  return Write(line, pid, tid, system_->NowNs());
}

WriteResult RingWriter::Write(std::string_view line, std::uint32_t pid, std::uint32_t tid, std::uint64_t timeNs) {
  if (Closed()) return WriteResult::kClosed;
  const std::uint64_t length = std::min<std::uint64_t>(line.size(), MaxText(capacity_));
  const std::uint32_t units = Units(length);
  const std::uint64_t size = std::uint64_t{units} * kRecordUnit;
  const std::uint64_t stalledUntil = stalledUntilNs_.load(std::memory_order_relaxed);
  const bool mayWait = stalledUntil == 0 || timeNs >= stalledUntil;
  // Look before reserving, so that a full ring costs a dropped line and no reservation.
  if (!WaitForRoom(0, size, mayWait)) return Drop();
  const std::uint64_t pos = header_->reserve.fetch_add(size, std::memory_order_relaxed);
  if (pos % kRecordUnit != 0) return Drop();  // a counter someone scribbled on
  // Racing writers may overshoot; one that still finds no room leaves a hole the reader skips.
  if (!WaitForRoom(pos + size, size, mayWait)) return Drop();
  const std::uint32_t tag = Tag(pos);
  RecordHeader record{tag, static_cast<std::uint32_t>(length), pid, tid, timeNs, units, 0};
  record.check = CheckWord(record);
  CopyIn(pos + kRecordUnit, line.data(), static_cast<std::size_t>(length));
  const std::uint64_t offset = pos & (capacity_ - 1);
  std::memcpy(data_ + offset + sizeof record.commit, reinterpret_cast<const unsigned char*>(&record) + sizeof record.commit,
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

WriteResult RingWriter::Drop() {
  header_->dropped.fetch_add(1, std::memory_order_relaxed);
  return WriteResult::kDropped;
}

// Room for a record ending at `end`, or, with no reservation yet (end 0), for one of `size`
// bytes at the current end of the reservations.
// The reader's position is looked up in the shared header (a cache line the reader keeps
// writing) only when the last one seen leaves no room: the position only grows.
bool RingWriter::HasRoom(std::uint64_t end, std::uint64_t size) {
  if (end == 0) end = header_->reserve.load(std::memory_order_relaxed) + size;
  if (end - knownReadPos_.load(std::memory_order_relaxed) <= capacity_) return true;
  const std::uint64_t readPos = header_->readPos.load(std::memory_order_acquire);
  knownReadPos_.store(readPos, std::memory_order_relaxed);
  return end - readPos <= capacity_;
}

bool RingWriter::WaitForRoom(std::uint64_t end, std::uint64_t size, bool mayWait) {
  if (HasRoom(end, size)) return true;
  if (!mayWait) return false;
  WakeReader();
  const std::uint64_t deadline = system_->NowNs() + waitMs * kMsNs;
  while (!HasRoom(end, size)) {
    const std::uint64_t now = system_->NowNs();
    if (Closed()) return false;
    if (now >= deadline) {
      stalledUntilNs_.store(now + stallMs * kMsNs, std::memory_order_relaxed);
      return false;
    }
    system_->Pause();
  }
  return true;
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
  header_ = CheckedHeader(base, mappedBytes, capacity_);
  if (!header_) return false;
  data_ = static_cast<unsigned char*>(base) + kRingHeaderBytes;
  system_ = &system;
  pos_ = header_->readPos.load(std::memory_order_acquire) & ~std::uint64_t{kRecordUnit - 1};
  published_ = pos_;
  text_.reset(new char[kMaxRingLine]);
  return true;
}

RingReader::Look RingReader::Inspect(RecordHeader& record) const {
  const std::uint64_t offset = pos_ & (capacity_ - 1);
  const std::uint32_t commit = CommitWord(data_, offset).load(std::memory_order_acquire);
  if (commit != Tag(pos_))
    return header_->reserve.load(std::memory_order_relaxed) == pos_ ? Look::kEmpty : Look::kPending;
  std::memcpy(&record, data_ + offset, sizeof record);
  record.commit = commit;
  if (record.textLength > MaxText(capacity_) || record.units != Units(record.textLength) ||
      record.check != CheckWord(record))
    return Look::kDamaged;
  return Look::kRecord;
}

void RingReader::CopyOut(std::uint64_t pos, void* bytes, std::size_t size) const {
  const std::uint64_t offset = pos & (capacity_ - 1);
  const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(size, capacity_ - offset));
  std::memcpy(bytes, data_ + offset, first);
  std::memcpy(static_cast<unsigned char*>(bytes) + first, data_, size - first);
}

void RingReader::Publish() {
  if (published_ == pos_) return;
  published_ = pos_;
  header_->readPos.store(pos_, std::memory_order_release);
}

void RingReader::Deliver(const RecordHeader& record, Sink sink, void* context) {
  CopyOut(pos_ + kRecordUnit, text_.get(), record.textLength);
  pos_ += std::uint64_t{record.units} * kRecordUnit;
  const RingRecord out{record.pid, record.tid, record.timeNs, std::string_view(text_.get(), record.textLength)};
  sink(context, out);
}

// Everything reserved before the reader got stuck and still not committed a hole timeout
// later belongs to writers that died or gave up: skip to the first committed record after it.
void RingReader::SkipHole() {
  std::uint64_t limit = pendingReserve_;
  if (limit - pos_ > 2 * capacity_) limit = pos_ + kRecordUnit;  // a reservation counter gone wild
  limit = std::min(limit, pos_ + capacity_);
  std::uint64_t to = pos_ + kRecordUnit;
  for (; to < limit; to += kRecordUnit) {
    const std::uint64_t saved = pos_;
    pos_ = to;
    RecordHeader record;
    const bool found = Inspect(record) == Look::kRecord;
    pos_ = saved;
    if (found) break;
  }
  pos_ = std::max(to, pos_ + kRecordUnit);
  ++holes_;
  header_->holes.fetch_add(1, std::memory_order_relaxed);
}

std::size_t RingReader::Poll(Sink sink, void* context, std::size_t limit) {
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
    if (look == Look::kDamaged) {
      ++damaged_;
      pos_ += kRecordUnit;
      continue;
    }
    if (look == Look::kEmpty) {
      pendingSinceNs_ = 0;
      break;
    }
    if (!HoleTimedOut()) break;
    SkipHole();
    pendingSinceNs_ = 0;
  }
  Publish();
  return delivered;
}

bool RingReader::HoleTimedOut() {
  const std::uint64_t now = system_->NowNs();
  if (pendingSinceNs_ == 0) {
    pendingSinceNs_ = now;
    pendingReserve_ = header_->reserve.load(std::memory_order_relaxed);
    return false;
  }
  return now - pendingSinceNs_ >= holeTimeoutMs * kMsNs;
}

void RingReader::Wait(std::uint32_t ms) {
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
  Publish();
  header_->state.store(kRingClosed, std::memory_order_release);
}

std::uint64_t RingReader::Dropped() const { return header_->dropped.load(std::memory_order_relaxed); }

// ---- a writer's count of its lines a gone reader never took ----

std::uint64_t RingWriter::CountUnread(std::uint32_t pid) const {
  const std::uint64_t end = header_->reserve.load(std::memory_order_acquire);
  std::uint64_t pos = header_->readPos.load(std::memory_order_acquire) & ~std::uint64_t{kRecordUnit - 1};
  if (end - pos > capacity_) pos = (end - capacity_) & ~std::uint64_t{kRecordUnit - 1};  // a position gone wild
  std::uint64_t count = 0;
  while (pos < end) {
    const std::uint64_t offset = pos & (capacity_ - 1);  // a record header never wraps
    RecordHeader record;
    std::memcpy(&record, data_ + offset, sizeof record);
    record.commit = CommitWord(data_, offset).load(std::memory_order_acquire);
    const bool whole = record.commit == Tag(pos) && record.textLength <= MaxText(capacity_) &&
                       record.units == Units(record.textLength) && record.check == CheckWord(record);
    if (whole && record.pid == pid) ++count;
    pos += whole ? std::uint64_t{record.units} * kRecordUnit : kRecordUnit;
  }
  return count;
}

}  // namespace vx380::channel
