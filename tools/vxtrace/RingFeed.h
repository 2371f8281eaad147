// vxtrace: the trace ring's reader thread. Records become the same messages the other
// channel gives (who, when, the exact bytes) and join its queue, so views, filters and
// recordings cannot tell where a line came from.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Capture.h"
#include "MessageQueue.h"
#include "channel/TraceRing.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace vxtrace {

// How long the reader sleeps on an idle ring: writers wake it only when the ring fills, so
// this bounds how late a line shows; its time stamp is the writer's anyway.
constexpr std::uint32_t kRingWaitMs = 3;

// Ring is the platform's TraceRingListener (Poll, Wait, Dropped, Holes).
template <class Ring>
class RingFeed {
 public:
  static constexpr std::size_t kBatch = 128;
  // The most a record can cost in the queue: the longest line and a process name.
  static constexpr std::size_t kWorstCost = vx380::channel::kMaxRingLine + kQueuedMessageOverhead + 64;
  using NameFn = std::string (*)(unsigned long pid);

  // offsetNs turns the ring's clock into nanoseconds since the Unix epoch.
  RingFeed(Ring& ring, MessageQueue& queue, NameFn name, std::int64_t offsetNs)
      : ring_(ring), queue_(queue), name_(name), offsetNs_(offsetNs) {
    thread_ = std::thread([this] { Run(); });
  }
  RingFeed(const RingFeed&) = delete;
  RingFeed& operator=(const RingFeed&) = delete;
  ~RingFeed() { Stop(); }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void AddTo(CaptureLosses& losses) const {
    losses.ringLines = lines_.load();
    losses.ringDropped = static_cast<long long>(ring_.Dropped());
    losses.ringHoles = holes_.load();
  }

 private:
  void Run() {
#ifndef _WIN32
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);  // Ctrl-C is the main thread's business
#endif
    batch_.reserve(4096);
    while (!stop_) {
      // Handed on per poll: a batch is at most one poll's records.
      // Records wait in the ring while the display is behind: writers see it fill, wait a
      // little and count what they drop, rather than vxtrace dropping what it took.
      if (!queue_.WaitForRoom(kBatch * kWorstCost, static_cast<int>(kRingWaitMs))) continue;
      if (ring_.Poll(&RingFeed::Take, this, kBatch) > 0) {
        lines_ += static_cast<long long>(batch_.size());
        queue_.PushAll(batch_);
      } else {
        ring_.Wait(kRingWaitMs);
      }
      holes_ = static_cast<long long>(ring_.Holes());
    }
  }

  static void Take(void* context, const vx380::channel::RingRecord& record) {
    auto* self = static_cast<RingFeed*>(context);
    Message m;
    m.text.assign(record.text.data(), record.text.size());
    // Whole microseconds, as the other channel's arrival times: a replay computes the same.
    const std::int64_t us = (static_cast<std::int64_t>(record.timeNs) + self->offsetNs_) / 1000;
    m.time = static_cast<double>(us) / 1e6;
    m.pid = record.pid;
    m.tid = record.tid;
    m.process = self->NameOf(record.pid);
    self->batch_.push_back(std::move(m));
  }

  const std::string& NameOf(unsigned long pid) {
    auto found = names_.find(pid);
    if (found == names_.end()) found = names_.emplace(pid, pid ? name_(pid) : "").first;
    return found->second;
  }

  Ring& ring_;
  MessageQueue& queue_;
  NameFn name_;
  std::int64_t offsetNs_;
  std::atomic<bool> stop_{false};
  std::atomic<long long> lines_{0};
  std::atomic<long long> holes_{0};
  std::vector<Message> batch_;
  std::unordered_map<unsigned long, std::string> names_;  // the feed thread's alone
  std::thread thread_;
};

}  // namespace vxtrace
