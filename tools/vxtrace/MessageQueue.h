// vxtrace: messages between the threads that drain the channel and the one that shows them,
// bounded so a blocked output cannot make the capture grow without end. A producer that finds
// it full waits for room: the channel then holds the lines back (the ring fills, the socket's
// queue fills) and its writers wait by the channel's rule, rather than vxtrace reading lines
// only to throw them away.
#pragma once

#include <algorithm>
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
  // holdBack: producers wait for room (their owner must Close the queue before it waits for
  // them to end); otherwise what does not fit is counted as dropped.
  explicit MessageQueue(std::size_t limitBytes, bool holdBack = false) : limit_(limitBytes), holdBack_(holdBack) {}

  // Takes the batch whole (leaving it empty). Holding back, it waits as long as it takes for
  // room, and discards the batch once the queue is closed (nobody will show it any more).
  void PushAll(std::vector<Message>& batch) {
    if (batch.empty()) return;
    std::size_t size = 0;
    for (const Message& m : batch) size += Cost(m);
    {
      std::unique_lock lock(mutex_);
      // An empty queue takes any batch, however large: nothing else would ever make room for it.
      if (holdBack_) room_.wait(lock, [&] { return closed_ || Used() == 0 || Used() + size <= limit_; });
      if (!closed_ && !holdBack_ && Used() + size > limit_) DropWhatDoesNotFit(batch, size);
      if (!closed_ && !batch.empty()) {
        bytes_ += size;
        queue_.push_back({std::move(batch), size});
      }
    }
    batch.clear();
    arrived_.notify_one();
  }

  bool HoldsBack() const { return holdBack_; }

  // Waits up to timeoutMs until `bytes` more fit (true), or the queue is closed.
  bool WaitForRoom(std::size_t bytes, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return room_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return closed_ || Used() + bytes <= limit_; });
  }

  // The consumer's side: replaces `batch` with the next batch a producer pushed; what it held
  // before goes back to the producers for reuse. Counted against the limit until the consumer
  // comes back.
  WaitResult Take(std::vector<Message>& batch, int timeoutMs) {
    std::unique_lock lock(mutex_);
    Recycle(batch);
    if (takenBytes_ > 0) room_.notify_all();
    takenBytes_ = 0;
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !queue_.empty() || !error_.empty(); }))
      return WaitResult::TimedOut;
    if (queue_.empty()) return WaitResult::Failed;
    batch.swap(queue_.front().messages);
    takenBytes_ = queue_.front().bytes;
    bytes_ -= takenBytes_;
    queue_.pop_front();
    return WaitResult::Received;
  }

  // One message at a time, for consumers that want no batches.
  WaitResult Pop(Message& message, int timeoutMs) {
    if (next_ == taken_.size()) {
      const WaitResult r = Take(taken_, timeoutMs);
      next_ = 0;
      if (r != WaitResult::Received) return r;
    }
    message = std::move(taken_[next_++]);
    return WaitResult::Received;
  }

  // A batch the consumer is done with, for a producer to fill again in place (its messages
  // keep their memory: no allocation per line). `into` must be empty; it stays so when there is
  // none.
  void Reuse(std::vector<Message>& into) {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return;
    into.swap(spare_.back());
    spare_.pop_back();
  }

  // No consumer any more: producers stop waiting for room.
  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    room_.notify_all();
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
  struct Batch {
    std::vector<Message> messages;
    std::size_t bytes = 0;
  };
  static constexpr std::size_t kSpareBatches = 64;
  static constexpr std::size_t kSpareTextBytes = 256;  // batches holding longer texts are freed

  static std::size_t Cost(const Message& m) { return m.text.size() + m.process.size() + kQueuedMessageOverhead; }
  std::size_t Used() const { return bytes_ + takenBytes_; }

  void DropWhatDoesNotFit(std::vector<Message>& batch, std::size_t& size) {
    std::size_t kept = 0;
    size = 0;
    for (Message& m : batch) {
      if (Used() + size + Cost(m) > limit_) {
        ++dropped_;
        continue;
      }
      size += Cost(m);
      batch[kept++] = std::move(m);
    }
    batch.resize(kept);
  }

  void Recycle(std::vector<Message>& batch) {
    bool small = !batch.empty() && spare_.size() < kSpareBatches;
    for (const Message& m : batch) small = small && m.text.capacity() <= kSpareTextBytes;
    if (small) {
      spare_.push_back(std::move(batch));
      batch = {};
    }
    batch.clear();
  }

  const std::size_t limit_;
  const bool holdBack_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable room_;
  std::deque<Batch> queue_;
  std::size_t bytes_ = 0;
  std::size_t takenBytes_ = 0;
  std::vector<std::vector<Message>> spare_;
  // Pop's messages: taken by Take, handed out one by one.
  std::vector<Message> taken_;
  std::size_t next_ = 0;
  bool closed_ = false;
  long long dropped_ = 0;
  std::string error_;
};

}  // namespace vxtrace
