// vxtrace: messages between the thread that drains the channel and the one that
// shows them, bounded so a blocked output cannot make the capture grow without end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Capture.h"

namespace vxtrace {

class MessageQueue {
 public:
  explicit MessageQueue(std::size_t limitBytes) : limit_(limitBytes) {}

  // Takes the batch (leaving it empty); what does not fit is counted as dropped.
  void PushAll(std::vector<Message>& batch) {
    if (batch.empty()) return;
    {
      std::lock_guard lock(mutex_);
      for (Message& m : batch) {
        const std::size_t size = Cost(m);
        if (bytes_ + takenBytes_ + size > limit_) {
          ++dropped_;
          continue;
        }
        bytes_ += size;
        queue_.push_back(std::move(m));
      }
    }
    batch.clear();
    arrived_.notify_one();
  }

  // Waits up to timeoutMs until `bytes` more fit; a producer that can hold back (the trace
  // ring keeps its records) does so rather than see them dropped.
  bool WaitForRoom(std::size_t bytes, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return room_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return bytes_ + takenBytes_ + bytes <= limit_; });
  }

  // The consumer takes everything waiting at once, so a burst costs one lock.
  WaitResult Pop(Message& message, int timeoutMs) {
    if (taken_.empty()) {
      std::unique_lock lock(mutex_);
      if (takenBytes_ > 0) room_.notify_all();
      takenBytes_ = 0;
      if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !queue_.empty() || !error_.empty(); }))
        return WaitResult::TimedOut;
      if (queue_.empty()) return WaitResult::Failed;
      taken_.swap(queue_);
      takenBytes_ = bytes_;
      bytes_ = 0;
    }
    message = std::move(taken_.front());
    taken_.pop_front();
    return WaitResult::Received;
  }

  void Fail(std::string error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
    arrived_.notify_one();
  }
  std::string Error() const {
    std::lock_guard lock(mutex_);
    return error_;
  }
  long long Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
  }

 private:
  static std::size_t Cost(const Message& m) {
    return m.text.size() + m.process.size() + kQueuedMessageOverhead;
  }

  const std::size_t limit_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable room_;
  std::deque<Message> queue_;
  std::size_t bytes_ = 0;
  // Taken by the consumer and handed out one by one without the lock; counted
  // against the limit until the consumer comes back for more.
  std::deque<Message> taken_;
  std::size_t takenBytes_ = 0;
  long long dropped_ = 0;
  std::string error_;
};

}  // namespace vxtrace
