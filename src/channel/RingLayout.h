// What the ring's writer and reader both know of its layout: record tags, the checks of a
// record and of the header, the lanes, and reading the two clocks together.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "channel/TraceRing.h"

namespace vx380::channel::layout {

inline constexpr std::uint64_t kMsNs = 1000000;

// A multiplication by an odd constant is a bijection, so two positions less than 2^32 units
// apart never share a tag: a record of an earlier lap never passes for a committed one.
inline std::uint32_t Tag(std::uint64_t pos) { return static_cast<std::uint32_t>(pos >> 5) * 0x9E3779B1u ^ 0xA5A5A5A5u; }

inline std::uint32_t Units(std::uint64_t textLength) {
  return static_cast<std::uint32_t>((kRecordUnit + textLength + kRecordUnit - 1) / kRecordUnit);
}

// The longest text a lane of `capacity` bytes takes.
inline std::uint64_t MaxText(std::uint64_t capacity) {
  return std::min<std::uint64_t>(kMaxRingLine, capacity / 2 - kRecordUnit);
}

inline std::uint32_t CheckWord(const RecordHeader& r) { return r.commit ^ r.textLength ^ r.units; }

inline std::atomic_ref<std::uint32_t> CommitWord(unsigned char* data, std::uint64_t offset) {
  return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(data + offset));
}

enum class Found { kRecord, kNone, kDamaged };

// What lies at `pos` of a lane: a committed record of that very position (a stale one of an
// earlier lap has another tag), nothing committed yet, or a committed tag over a record that
// lies.
inline Found RecordAt(const Lane& lane, std::uint64_t pos, RecordHeader& record) {
  const std::uint64_t offset = pos & (lane.capacity - 1);
  const std::uint32_t commit = CommitWord(lane.data, offset).load(std::memory_order_acquire);
  if (commit != Tag(pos)) return Found::kNone;
  std::memcpy(&record, lane.data + offset, sizeof record);
  record.commit = commit;
  if (record.textLength > MaxText(lane.capacity) || record.units != Units(record.textLength) ||
      record.check != CheckWord(record))
    return Found::kDamaged;
  return Found::kRecord;
}

// Lane `index` of the ring at `base`, whose data area holds `capacity` bytes in `lanes` lanes.
inline Lane LaneOf(void* base, std::uint64_t capacity, std::uint32_t lanes, std::uint32_t index) {
  const std::uint64_t size = capacity / lanes;
  return Lane{LaneTable(base) + index, static_cast<unsigned char*>(base) + kRingHeaderBytes + index * size, size};
}

// The header a peer left, checked against what our own mapping can hold, with the ring's
// clock (ticksPerMs 0 for nanoseconds); null for anything else.
RingHeader* CheckedHeader(void* base, std::size_t mappedBytes, std::uint64_t& capacity, std::uint64_t& ticksPerMs);

// Ticks and nanoseconds read as nearly together as the clocks allow.
TickPair ReadTogether(RingSystem& system);

}  // namespace vx380::channel::layout
