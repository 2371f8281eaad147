// vxtrace: writes a capture's recording at the rate lines arrive. Each message is appended
// as ToJsonLine writes it, byte for byte; the common case (ASCII text, a time of whole
// microseconds) without a temporary string or printf, the rest through ToJsonLine itself.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "Message.h"

namespace vxtrace {

// Appends ToJsonLine(message) to out.
void AppendJsonLine(std::string& out, const Message& message);

struct WriterFields;

// Collects recorded lines and writes them in large blocks.
class RecordingWriter {
 public:
  explicit RecordingWriter(std::ostream& out);
  ~RecordingWriter();
  void Add(const Message& message);
  // Writes what is collected; false once a write failed.
  bool Flush();

 private:
  static constexpr std::size_t kBlock = 1u << 20;
  void WriteBlock();

  std::ostream& out_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::unique_ptr<WriterFields> writer_;  // the last writer's fields, formatted
  bool ok_ = true;
};

// Records batches on a thread of its own, so the display and the recording share the work
// of a fast capture. Holds a bounded amount, enough for a few hundred milliseconds of lines
// at full speed while a write waits for the disk; a disk slower than that holds the capture
// back.
class Recorder {
 public:
  explicit Recorder(std::ostream& out);
  ~Recorder() { Finish(); }
  // Takes the batch; gives back in its place a batch already written, for reuse, or an empty one.
  void Hand(std::vector<Message>& batch);
  // Waits until everything handed is written and flushed; false once a write failed.
  bool Finish();

 private:
  static constexpr std::size_t kHeldBytes = 64u << 20;
  static constexpr std::size_t kSpareBatches = 64;
  void Run();

  RecordingWriter writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<Message>> waiting_;
  std::vector<std::vector<Message>> written_;
  std::size_t heldBytes_ = 0;
  bool stop_ = false;
  bool ok_ = true;
  std::thread thread_;
};

}  // namespace vxtrace
