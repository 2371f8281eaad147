// What a listener does with its ring once a platform has made and mapped it: the same on
// every platform, so each platform's listener only opens and withdraws the ring.
#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/TraceRing.h"

namespace vx380::channel {

class RingListener {
 public:
  bool is_open() const { return base_ != nullptr; }

  // Hands committed records to `sink` in the order they were reserved; at most `limit`.
  std::size_t Poll(RingReader::Sink sink, void* context, std::size_t limit = 4096) {
    return base_ ? reader_.Poll(sink, context, limit) : 0;
  }
  // Sleeps up to ms unless a record is ready; writers wake it early when the ring fills, so
  // ms bounds how late a line shows (a few milliseconds suit a live view).
  void Wait(std::uint32_t ms) {
    if (base_) reader_.Wait(ms);
  }
  // Lines writers dropped for want of room, and reservations never committed (writer died).
  std::uint64_t Dropped() const { return base_ ? reader_.Dropped() : 0; }
  std::uint64_t Holes() const { return reader_.Holes(); }
  // A ring found damaged (and, where the platform offers another, how often), the lines lost
  // with it, and what was damaged.
  std::uint64_t Damages() const { return reader_.Damaged() ? 1 : 0; }
  std::uint64_t LostToDamage() const { return reader_.LostToDamage(); }
  const char* LastDamage() const { return reader_.Damaged() ? reader_.DamageCause() : ""; }
  // Lines writers left unread in the ring of a listener that ended before this one.
  std::uint64_t LostEarlier() const { return base_ ? reader_.LostEarlier() : 0; }

  RingReader& reader() { return reader_; }

 protected:
  RingListener() = default;
  RingListener(const RingListener&) = delete;
  RingListener& operator=(const RingListener&) = delete;
  ~RingListener() = default;

  // The platform has mapped and attached the ring: reading may start.
  void Offer(void* ring) { base_ = ring; }
  // Stops reading and hands back the mapped ring for the platform to release; null when none.
  void* Withdraw() {
    void* ring = base_;
    if (ring) reader_.Close();
    base_ = nullptr;
    return ring;
  }

  RingReader reader_;

 private:
  void* base_ = nullptr;  // the mapped ring; null while closed
};

}  // namespace vx380::channel
