// The trace ring on Windows: a named file mapping and an event in the session's namespace,
// offered by a listener that asked for it (vxtrace --fast). A process a debugger is attached
// to keeps writing to the debugger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "channel/TraceRing.h"

namespace vx380::win32 {

// Local\vx380-trace-ring, or Local\vx380-trace-ring-<VX380_TRACE_RING> when that variable is
// set (tests and side-by-side listeners); the event's name adds "-wake".
std::wstring TraceRingName();

// Writes one line into the listener's ring. False when there is none, or when a debugger is
// attached: the caller then writes to the debugger as always.
bool TryWriteRing(std::string_view line);

// Tests stand in for a debugger: 1 present, 0 absent, -1 ask the system (the default).
void ForceDebuggerPresent(int present);

class TraceRingListener {
 public:
  static constexpr std::size_t kDefaultBytes = channel::kRingHeaderBytes + (std::size_t{8} << 20);

  TraceRingListener() = default;
  TraceRingListener(const TraceRingListener&) = delete;
  TraceRingListener& operator=(const TraceRingListener&) = delete;
  ~TraceRingListener();

  // Creates the mapping and its event for this user only; fails when another listener has them.
  bool Open(const std::wstring& name, std::size_t bytes, std::string& error);
  bool Open(std::string& error) { return Open(TraceRingName(), kDefaultBytes, error); }
  bool is_open() const { return base_ != nullptr; }

  std::size_t Poll(channel::RingReader::Sink sink, void* context, std::size_t limit = 4096);
  void Wait(std::uint32_t ms);
  std::uint64_t Dropped() const;
  std::uint64_t Holes() const { return reader_.Holes(); }
  void Close();

  channel::RingReader& reader() { return reader_; }

 private:
  void* mapping_ = nullptr;
  void* event_ = nullptr;
  void* base_ = nullptr;
  channel::RingReader reader_;
};

}  // namespace vx380::win32
