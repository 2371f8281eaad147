// The trace ring on Windows: a named file mapping and an event in the session's namespace,
// offered by a listener that asked for it (vxtrace --fast). A process a debugger is attached
// to keeps writing to the debugger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "OwnedHandles.h"
#include "channel/RingListener.h"
#include "channel/TraceRing.h"

namespace vx380::win32 {

// Local\vx380-trace-ring, or Local\vx380-trace-ring-<VX380_TRACE_RING> when that variable is
// set (tests and side-by-side listeners); the event's name adds "-wake".
std::wstring TraceRingName();

// Writes one line into the listener's ring. False when there is none, or when a debugger is
// attached: the caller then writes to the debugger as always.
bool TryWriteRing(std::string_view line);

// Lines of this process that went into the ring of a listener that died before reading them,
// in all; each time that happens the number is also said on the debug channel.
std::uint64_t LinesLostToGoneListeners();

class TraceRingListener : public channel::RingListener {
 public:
  static constexpr std::size_t kDefaultBytes = channel::kRingHeaderBytes + (std::size_t{8} << 20);

  ~TraceRingListener();

  // Creates the mapping and its event for this user only; fails when another listener has them.
  bool Open(const std::wstring& name, std::size_t bytes, std::string& error);
  bool Open(std::string& error) { return Open(TraceRingName(), kDefaultBytes, error); }
  void Close();

 private:
  UniqueHandle mapping_;
  UniqueHandle event_;
};

}  // namespace vx380::win32
