// The trace ring on POSIX: a file the listener creates in the user's private runtime folder,
// mapped by the listener and by every process that traces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "channel/RingListener.h"
#include "channel/TraceRing.h"

namespace vx380::posix {

// $XDG_RUNTIME_DIR when set, else a per-user directory under the temporary folder (created
// 0700 when `create`, and checked: owned by the user, not a symlink, not open to others); ""
// when no such place is sound.
std::string RingRuntimeDir(bool create = true);

// Where a listener offers its ring: "<socket>.ring" when $VX380_DEBUG_SOCKET names the
// socket, else <runtime dir>/vx380-trace.ring; "" when there is no private place. Writers
// pass create = false: where the folder is missing, no listener offers a ring.
std::string TraceRingPath(bool create = true);

// Writes one line into the listener's ring. False when there is no ring to write to: the
// caller then sends the line on the socket. A line the ring has no room for within the wait
// bound is dropped, counted in the ring, and still answered true.
bool TryWriteRing(std::string_view line);

// The listener's side. The ring stays offered while the object lives (a lock on the file tells
// writers a reader is there); writers that find it closed or orphaned go back to the socket.
class TraceRingListener : public channel::RingListener {
 public:
  // 32 MiB: a few hundred milliseconds of lines at full speed should the reader be held up.
  static constexpr std::size_t kDefaultBytes = channel::kRingHeaderBytes + (std::size_t{32} << 20);

  ~TraceRingListener();
  const std::string& path() const { return path_; }

  // Creates the ring file at `path` (mode 0600, replacing whatever the name held) and maps it.
  // On failure returns false with the reason in `error`.
  bool Open(const std::string& path, std::size_t bytes, std::string& error);
  bool Open(std::string& error) { return Open(TraceRingPath(), kDefaultBytes, error); }

  // Withdraws the ring: writers go back to the socket.
  void Close();

 private:
  std::string path_;
  int fd_ = -1;
  std::size_t bytes_ = 0;
};

// The system services a ring needs, as this platform provides them (futex wake-ups).
channel::RingSystem& PosixRingSystem();

}  // namespace vx380::posix
