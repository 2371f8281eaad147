// Where a writing process keeps the ring it found, and when it may look for one again.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vx380::channel {

// One thread looks (and maps) while the others that are due wait for its answer, so that no
// thread's line passes a ring by while another thread is mapping it. Only a look in vain
// holds the others off, for kLookAgainNs. Lock is the system's lock (lock() and unlock()).
template <class Ring, class Lock>
class RingLookup {
 public:
  static constexpr std::uint64_t kLookAgainNs = 10'000'000;

  Ring* current() const { return ring_.load(std::memory_order_acquire); }

  // The ring, mapped by map() when there is none and a look is due at `now`; clock() tells
  // the time after a look in vain.
  template <class Map, class Clock>
  Ring* Look(std::uint64_t now, Map map, Clock clock) {
    if (now < lookAt_.load(std::memory_order_relaxed)) return nullptr;
    std::lock_guard<Lock> guard(lock_);
    if (Ring* found = ring_.load(std::memory_order_acquire)) return found;
    if (now < lookAt_.load(std::memory_order_relaxed)) return nullptr;  // looked for meanwhile, in vain
    Ring* ring = map();
    if (ring) ring_.store(ring, std::memory_order_release);  // only a holder of the lock sets it
    else lookAt_.store(clock() + kLookAgainNs, std::memory_order_relaxed);
    return ring;
  }

  // Around fork: the child gets the lock in a state it can take, and no ring (the ring is
  // the parent's; the child finds its own with its own process id).
  void ForkPrepare() { lock_.lock(); }
  void ForkParent() { lock_.unlock(); }
  void ForkChild() {
    ring_.store(nullptr, std::memory_order_relaxed);
    lookAt_.store(0, std::memory_order_relaxed);
    lock_.unlock();
  }

  // Takes `ring` out of use; true for the one caller that did. The next line looks again.
  bool Retire(Ring* ring) {
    Ring* expected = ring;
    if (!ring_.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel)) return false;
    lookAt_.store(0, std::memory_order_relaxed);
    return true;
  }

 private:
  std::atomic<Ring*> ring_{nullptr};
  std::atomic<std::uint64_t> lookAt_{0};
  Lock lock_;
};

}  // namespace vx380::channel
