// The one rule for where a debug line goes, and what a ring's answer means for its writer.
// Both systems follow it; only the channels differ (a datagram socket, OutputDebugString).
#pragma once

#include "channel/TraceRing.h"

namespace vx380::channel {

// A listener's trace ring takes the line when the process holds one that is open; otherwise
// the system's own channel does. tryRing(line) is false when no open ring took the line.
template <class Line, class TryRing, class SystemChannel>
void RouteDebugLine(const Line& line, TryRing&& tryRing, SystemChannel&& system) {
  if (!tryRing(line)) system(line);
}

// What a ring write's result asks of the writer.
struct RingAnswer {
  bool taken;    // in the ring, or counted there as dropped: the line is done with
  bool retire;   // the ring is closed: retire it, the line goes to the system's channel
  bool askSoon;  // the ring was full: ask on the next line whether anybody still reads it
};

constexpr RingAnswer AnswerOf(WriteResult result) {
  return {result != WriteResult::kClosed, result == WriteResult::kClosed, result == WriteResult::kDropped};
}

}  // namespace vx380::channel
