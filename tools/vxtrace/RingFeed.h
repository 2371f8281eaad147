// vxtrace: the trace ring's reader thread. Records become the same messages the other
// channel gives (who, when, the exact bytes) and join its queue, so views, filters and
// recordings cannot tell where a line came from.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Capture.h"
#include "MessageQueue.h"
#include "ThreadSignals.h"
#include "channel/TraceRing.h"

namespace vxtrace {

// How long the reader sleeps on an idle ring: writers wake it only when the ring fills, so
// this bounds how late a line shows; its time stamp is the writer's anyway.
constexpr std::uint32_t kRingWaitMs = 3;
// How long the reader waits for more lines after a poll that found only a few.
constexpr std::uint32_t kGatherMs = 1;

// Ring is the platform's TraceRingListener (Poll, Wait, Dropped, Holes).
template <class Ring>
class RingFeed {
 public:
  static constexpr std::size_t kBatch = 128;
  // Into a queue that holds back, larger batches: fewer hand-overs between the threads.
  static constexpr std::size_t kHeldBatch = 2048;
  // The most a record can cost in the queue: the longest line and a process name.
  static constexpr std::size_t kWorstCost = vx380::channel::kMaxRingLine + kQueuedMessageOverhead + 64;
  using NameFn = std::string (*)(unsigned long pid);

  // offsetNs turns the ring's clock into nanoseconds since the Unix epoch. The other channel's
  // reader holds `handOver` (when given) from taking lines to handing them on, as this feed
  // does: a thread's lines then reach the queue in the order the two channels took them.
  RingFeed(Ring& ring, MessageQueue& queue, NameFn name, std::int64_t offsetNs, std::timed_mutex* handOver = nullptr)
      : ring_(ring), queue_(queue), name_(name), offsetNs_(offsetNs), handOver_(handOver) {
    thread_ = std::thread([this] { Run(); });
  }
  RingFeed(const RingFeed&) = delete;
  RingFeed& operator=(const RingFeed&) = delete;
  ~RingFeed() { Stop(); }

  void Stop() {
    stop_ = true;
    queue_.Close();  // a feed waiting for room would otherwise wait for ever
    if (thread_.joinable()) thread_.join();
  }
  void AddTo(CaptureLosses& losses) const {
    losses.ringLines = lines_.load();
    losses.ringDropped = dropped_.load();
    losses.ringHoles = holes_.load();
    losses.ringDamages = damages_.load();
    losses.ringLostToDamage = lostToDamage_.load();
    losses.ringLostEarlier = lostEarlier_.load();
    if (losses.ringDamages > 0) losses.ringDamageCause = ring_.LastDamage();
  }

 private:
  void Run() {
    LeaveSignalsToTheMainThread();
    while (!stop_) {
      // Handed on per poll: a batch is at most one poll's records.
      // Records wait in the ring while the display is behind: writers see it fill and wait
      // by the ring's rule, rather than vxtrace dropping what it took.
      // A queue that holds back makes the feed wait in PushAll; another one is not polled
      // for more than it has room for.
      if (!queue_.HoldsBack() && !queue_.WaitForRoom(kBatch * kWorstCost, static_cast<int>(kRingWaitMs))) continue;
      if (batch_.empty()) queue_.Reuse(batch_);
      filled_ = 0;
      std::unique_lock<std::timed_mutex> handOver =
          handOver_ ? std::unique_lock<std::timed_mutex>(*handOver_) : std::unique_lock<std::timed_mutex>();
      if (Fill(queue_.HoldsBack() ? kHeldBatch : kBatch) > 0) {
        KeepUnfilled();
        lines_ += static_cast<long long>(filled_);
        queue_.PushAll(batch_);
      } else {
        if (handOver) handOver.unlock();
        ring_.Wait(kRingWaitMs);
      }
      // The counts are the feed thread's to read: the report reads these copies.
      holes_ = static_cast<long long>(ring_.Holes());
      dropped_ = static_cast<long long>(ring_.Dropped());
      lostEarlier_ = static_cast<long long>(ring_.LostEarlier());
      lostToDamage_ = static_cast<long long>(ring_.LostToDamage());
      damages_ = static_cast<long long>(ring_.Damages());  // last: the cause is read once it shows
    }
  }

  // A batch of a few lines costs the display a wake-up of its own: while lines come, the
  // feed waits a moment for more (well within the bound on how late a line shows).
  std::size_t Fill(std::size_t limit) {
    std::size_t got = ring_.Poll(&RingFeed::Take, this, limit);
    if (got == 0 || got >= limit / 4 || stop_) return got;
    ring_.Wait(kGatherMs);
    return got + ring_.Poll(&RingFeed::Take, this, limit - got);
  }

  // Messages past this poll's records keep their memory for the next batches.
  void KeepUnfilled() {
    while (batch_.size() > filled_ && unfilled_.size() < kHeldBatch) {
      unfilled_.push_back(std::move(batch_.back()));
      batch_.pop_back();
    }
    batch_.resize(filled_);
  }

  void AddMessage() {
    if (unfilled_.empty()) {
      batch_.emplace_back();
      return;
    }
    batch_.push_back(std::move(unfilled_.back()));
    unfilled_.pop_back();
  }

  static void Take(void* context, const vx380::channel::RingRecord& record) {
    auto* self = static_cast<RingFeed*>(context);
    // Messages the display is done with are filled again in place: no allocation per line.
    if (self->filled_ == self->batch_.size()) self->AddMessage();
    Message& m = self->batch_[self->filled_++];
    m.text.assign(record.text.data(), record.text.size());
    // Whole microseconds, as the other channel's arrival times: a replay computes the same.
    const std::int64_t us = (static_cast<std::int64_t>(record.timeNs) + self->offsetNs_) / 1000;
    m.time = static_cast<double>(us) / 1e6;
    m.pid = record.pid;
    m.tid = record.tid;
    m.process = self->NameOf(record.pid);
  }

  // Lines come in runs from one process: the last one is looked up first.
  const std::string& NameOf(unsigned long pid) {
    if (lastName_ && pid == lastPid_) return *lastName_;
    auto found = names_.find(pid);
    if (found == names_.end()) found = names_.emplace(pid, pid ? name_(pid) : "").first;
    lastPid_ = pid;
    lastName_ = &found->second;  // node-based: stays valid while others are added
    return found->second;
  }

  Ring& ring_;
  MessageQueue& queue_;
  NameFn name_;
  std::int64_t offsetNs_;
  std::timed_mutex* handOver_;
  std::atomic<bool> stop_{false};
  std::atomic<long long> lines_{0};
  std::atomic<long long> holes_{0};
  std::atomic<long long> dropped_{0};
  std::atomic<long long> damages_{0};
  std::atomic<long long> lostToDamage_{0};
  std::atomic<long long> lostEarlier_{0};
  std::vector<Message> batch_;  // its first filled_ are this poll's records
  std::vector<Message> unfilled_;
  std::size_t filled_ = 0;
  std::unordered_map<unsigned long, std::string> names_;  // the feed thread's alone
  unsigned long lastPid_ = 0;
  const std::string* lastName_ = nullptr;
  std::thread thread_;
};

}  // namespace vxtrace
