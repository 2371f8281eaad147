// The trace ring on POSIX: an anonymous memory file the listener seals against shrinking and
// growing and hands, over a socket in the user's private runtime folder, to every process of
// its user that traces. No named file exists that anyone could truncate, fill or leave behind.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "channel/RingListener.h"
#include "channel/TraceRing.h"
#include "platform/posix/Owned.h"

namespace vx380::posix {

// $XDG_RUNTIME_DIR when set, else a per-user directory under the temporary folder (created
// 0700 when `create`, and checked: owned by the user, not a symlink, not open to others); ""
// when no such place is sound.
std::string RingRuntimeDir(bool create = true);

// Where a listener offers its ring (a socket that hands it out): "<socket>.ring" when
// $VX380_DEBUG_SOCKET names the socket, else <runtime dir>/vx380-trace.ring; "" when there is
// no private place. Writers pass create = false: where the folder is missing, no listener
// offers a ring.
std::string TraceRingPath(bool create = true);

// Writes one line into the listener's ring. False when there is no ring to write to: the
// caller then sends the line on the socket. A line the ring has no room for within the wait
// bound is dropped, counted in the ring, and still answered true. A listener that died is
// noticed within 10 ms; what this process left unread in its ring is told to the next one.
bool TryWriteRing(std::string_view line);

// The listener's side. The ring stays offered while the object lives; writers that find it
// closed, or its listener gone, go back to the socket. A ring found damaged is replaced by a
// fresh one; the counts below add up over every ring this listener offered.
class TraceRingListener : public channel::RingListener {
 public:
  // 32 MiB: a few hundred milliseconds of lines at full speed should the reader be held up.
  static constexpr std::size_t kDefaultBytes = channel::kRingHeaderBytes + (std::size_t{32} << 20);
  // Writer processes served at once; more go on using the socket.
  static constexpr std::size_t kMaxWriters = 1024;

  TraceRingListener() = default;
  ~TraceRingListener();
  const std::string& path() const { return path_; }

  // Makes a ring of `bytes` (its memory committed now) and offers it at `path` (a socket,
  // replacing whatever the name held). On failure returns false with the reason in `error`.
  bool Open(const std::string& path, std::size_t bytes, std::string& error);
  bool Open(std::string& error) { return Open(TraceRingPath(), kDefaultBytes, error); }

  // Withdraws the ring: writers go back to the socket.
  void Close();

  // As the base's, and a ring found damaged is retired and replaced.
  std::size_t Poll(channel::RingReader::Sink sink, void* context, std::size_t limit = 4096);
  std::uint64_t Dropped() const { return earlier_.dropped + channel::RingListener::Dropped(); }
  std::uint64_t Holes() const { return earlier_.holes + channel::RingListener::Holes(); }
  // Lines writers left unread in the ring of a listener that ended before this one.
  std::uint64_t LostEarlier() const { return earlier_.lostEarlier + (is_open() ? reader_.LostEarlier() : 0); }
  // Rings retired for damage, and the lines (at least) lost with them; the last cause.
  std::uint64_t Damages() const { return earlier_.damages; }
  std::uint64_t LostToDamage() const { return earlier_.lostToDamage; }
  const char* LastDamage() const { return lastDamage_.load(std::memory_order_acquire); }

 private:
  struct Counts {
    std::uint64_t dropped = 0, holes = 0, lostEarlier = 0, damages = 0, lostToDamage = 0;
  };
  bool MakeRing(std::size_t bytes, std::string& error);
  void DropRing();
  bool Renew();
  void Serve();
  void Answer(int connection);

  std::string path_;
  MappedView mapped_;
  UniqueFd file_;  // the sealed memory file, handed to writers
  UniqueFd socket_;
  dev_t nodeDev_ = 0;  // the socket's name, removed on close only while it is still ours
  ino_t nodeIno_ = 0;
  UniqueFd wakeRead_, wakeWrite_;  // a byte tells the server thread to end
  std::mutex fileLock_;            // the file the server hands out changes when a ring is renewed
  std::thread server_;
  std::atomic<bool> started_{false};
  std::vector<pollfd> watched_;  // the wake pipe, the socket, then the writers' connections
  Counts earlier_;
  std::atomic<const char*> lastDamage_{""};  // the reader's words: read by a report on another thread
};

// The system services a ring needs, as this platform provides them (futex wake-ups).
channel::RingSystem& PosixRingSystem();

}  // namespace vx380::posix
