// The ring's layout: its size, its lanes, a fresh ring, and the checks both sides make of a
// ring a peer laid out.
#include "channel/TraceRing.h"

#include <bit>
#include <cstring>
#include <new>

#include "channel/RingLayout.h"

namespace vx380::channel {

using namespace layout;

std::uint64_t RingCapacityFor(std::size_t mappedBytes) {
  if (mappedBytes < kMinRingBytes || mappedBytes > kMaxRingBytes) return 0;
  return std::bit_floor(static_cast<std::uint64_t>(mappedBytes - kRingHeaderBytes));
}

std::uint32_t LanesFor(std::uint64_t capacity) {
  const std::uint64_t lanes = std::bit_floor(std::max<std::uint64_t>(capacity / kMinLaneBytes, 1));
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(lanes, kMaxLanes));
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
  const std::uint32_t lanes = LanesFor(capacity);
  std::memset(base, 0, kRingHeaderBytes + capacity);
  auto* header = new (base) RingHeader{};
  for (std::uint32_t i = 0; i < lanes; ++i) new (LaneTable(base) + i) LaneHeader{};
  header->capacity.store(capacity, std::memory_order_relaxed);
  header->lanes.store(lanes, std::memory_order_relaxed);
  header->clock.store(ticksPerMs ? kClockTicks : kClockNs, std::memory_order_relaxed);
  header->ticksPerMs.store(ticksPerMs, std::memory_order_relaxed);
  header->version.store(kRingVersion, std::memory_order_relaxed);
  header->state.store(kRingOpen, std::memory_order_relaxed);
  // Fill each lane with tags no position ever has at that place.
  for (std::uint32_t i = 0; i < lanes; ++i) {
    const Lane lane = LaneOf(base, capacity, lanes, i);
    for (std::uint64_t pos = 0; pos < lane.capacity; pos += kRecordUnit) {
      const std::uint32_t stale = ~Tag(pos);
      std::memcpy(lane.data + pos, &stale, sizeof stale);
    }
  }
  header->magic.store(kRingMagic, std::memory_order_release);
}

namespace layout {

RingHeader* CheckedHeader(void* base, std::size_t mappedBytes, std::uint64_t& capacity, std::uint64_t& ticksPerMs) {
  capacity = RingCapacityFor(mappedBytes);
  if (!base || capacity == 0) return nullptr;
  auto* header = static_cast<RingHeader*>(base);
  if (header->magic.load(std::memory_order_acquire) != kRingMagic ||
      header->version.load(std::memory_order_relaxed) != kRingVersion ||
      header->capacity.load(std::memory_order_relaxed) != capacity ||
      header->lanes.load(std::memory_order_relaxed) != LanesFor(capacity))
    return nullptr;
  const std::uint32_t clock = header->clock.load(std::memory_order_relaxed);
  ticksPerMs = header->ticksPerMs.load(std::memory_order_relaxed);
  if (clock == kClockNs && ticksPerMs == 0) return header;
  if (clock == kClockTicks && ticksPerMs >= kMinTicksPerMs && ticksPerMs <= kMaxTicksPerMs) return header;
  return nullptr;
}

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

}  // namespace layout

}  // namespace vx380::channel
