// Notices a listener that comes to the debug socket without the writers reading a clock: one
// thread per process waits on the socket's folder (inotify) and counts what changes there. A
// writer that found nobody stays quiet for as long as the count stays where it was when it
// looked, so its check is one load. What the watch cannot see (a folder renamed higher up the
// path, a file system that tells no changes) moves the count on within a second of a writer
// relying on it, and the writer looks again.
#pragma once

#include <atomic>
#include <cstdint>

namespace vx380::posix {

extern std::atomic<std::uint64_t> g_listenerWatchCount;

// The count now. A thread reads it before it looks for a listener.
inline std::uint64_t ListenerWatchCount() { return g_listenerWatchCount.load(std::memory_order_acquire); }

// Watches the folder of the absolute socket path `socketPath`, starting the watching thread on
// first use. True when the folder is watched: from then on the count moves on whenever a
// listener may have come to that path. A look for a listener made after reading the count
// holds for as long as the count stays. False when the folder cannot be watched (missing,
// reached through a symbolic link, out of inotify instances or watches): the caller then looks
// again on a clock.
bool WatchSocketFolder(const char* socketPath);

// The kernel's struct sched_attr (sched_getattr, sched_setattr), which some C libraries declare
// and others do not. The watch asks with it for short time slices for its thread.
struct SchedAttr {
  std::uint32_t size, policy;
  std::uint64_t flags;
  std::int32_t nice;
  std::uint32_t priority;
  std::uint64_t runtime, deadline, period;
};

}  // namespace vx380::posix
