// vxtrace: one message of the debug output channel, with who sent it and when.
#pragma once

#include <cstddef>
#include <string>

namespace vxtrace {

// The longest message vxtrace passes on, from any channel: a datagram is read into this
// much room, the trace ring cuts its lines shorter still. Read lines are cut here too, so
// a file shows what a live capture would have.
inline constexpr std::size_t kMaxMessageBytes = 256 * 1024;

struct Message {
  std::string text;            // exactly the bytes sent: one line, usually with its LF
  double time = 0;             // arrival, seconds since the Unix epoch; 0 when unknown
  unsigned long pid = 0;       // the writer's process id, 0 when unknown
  unsigned long long tid = 0;  // the writer's thread id, 0 when the channel did not tell
  std::string process;         // the writer's process name, "" when unknown
};

}  // namespace vxtrace
