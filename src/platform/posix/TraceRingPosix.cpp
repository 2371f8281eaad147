// The writing side of the trace ring: finds the listener's ring file (as rarely as the socket
// looks for its listener), maps it, and writes lines into it without a system call.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "channel/RingLookup.h"
#include "platform/posix/TraceRingPosix.h"

namespace vx380::posix {

namespace {

constexpr std::uint64_t kMsNs = 1000000;
constexpr std::uint64_t kRecheckNs = 1000 * kMsNs;  // a ring: check now and then it is still offered

// A mapped ring. Never freed: a thread may still be writing into it when another retires it.
struct MappedRing {
  channel::RingWriter writer;
  std::string path;
  void* base = nullptr;
  std::size_t bytes = 0;
  int fd = -1;  // kept for the reader's lock, which tells whether a reader is there
  dev_t dev = 0;
  ino_t ino = 0;
  std::atomic<std::uint64_t> recheckAt{0};
  MappedRing* nextRetired = nullptr;
};

channel::RingLookup<MappedRing, std::mutex> g_lookup;
std::atomic<MappedRing*> g_retired{nullptr};  // kept, so that a late writer finds valid memory

std::uint64_t CoarseNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

// Process and thread ids cost a system call each; a child after fork gets fresh ones.
std::atomic<unsigned> g_forkGeneration{1};
struct ThreadIds {
  unsigned generation = 0;
  std::uint32_t pid = 0;
  std::uint32_t tid = 0;
};
thread_local ThreadIds t_ids;

const ThreadIds& Ids() {
  static const bool registered = [] {
    ::pthread_atfork(nullptr, nullptr, [] { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); });
    return true;
  }();
  (void)registered;
  const unsigned generation = g_forkGeneration.load(std::memory_order_relaxed);
  if (t_ids.generation != generation) {
    t_ids = {generation, static_cast<std::uint32_t>(::getpid()), static_cast<std::uint32_t>(::gettid())};
  }
  return t_ids;
}

// A reader holds an exclusive lock on the file while it reads.
bool ReaderPresent(int fd) {
  if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::flock(fd, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

bool Acceptable(int fd, struct stat& st) {
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 0077) == 0 && st.st_size >= static_cast<off_t>(channel::kMinRingBytes) &&
         st.st_size <= static_cast<off_t>(channel::kMaxRingBytes);
}

MappedRing* MapRing(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st{};
  void* base = MAP_FAILED;
  if (Acceptable(fd, st) && ReaderPresent(fd))
    base = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) {
    ::close(fd);
    return nullptr;
  }
  auto* ring = new MappedRing;
  ring->path = path;
  ring->base = base;
  ring->bytes = static_cast<std::size_t>(st.st_size);
  ring->fd = fd;
  ring->dev = st.st_dev;
  ring->ino = st.st_ino;
  ring->recheckAt.store(CoarseNowNs() + kRecheckNs, std::memory_order_relaxed);
  if (ring->writer.Attach(base, ring->bytes, PosixRingSystem())) return ring;
  ::munmap(base, ring->bytes);
  ::close(fd);
  delete ring;
  return nullptr;
}

// Takes a ring out of use. Its pages are replaced by private zeros rather than unmapped, so a
// thread still writing into it writes harmlessly instead of faulting.
void Retire(MappedRing* ring) {
  if (!g_lookup.Retire(ring)) return;
  ::mmap(ring->base, ring->bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  ::close(ring->fd);
  ring->nextRetired = g_retired.load(std::memory_order_relaxed);
  while (!g_retired.compare_exchange_weak(ring->nextRetired, ring, std::memory_order_release)) {
  }
}

// Still the file at the ring's path, and still read.
bool StillOffered(const MappedRing& ring) {
  struct stat st{};
  return TraceRingPath(false) == ring.path && ::stat(ring.path.c_str(), &st) == 0 && st.st_dev == ring.dev &&
         st.st_ino == ring.ino && ReaderPresent(ring.fd);
}

MappedRing* LookForRing(std::uint64_t now) {
  return g_lookup.Look(
      now,
      [] {
        const std::string path = TraceRingPath(false);
        return path.empty() ? nullptr : MapRing(path);
      },
      CoarseNowNs);
}

// With a ring, `now` is the ring's own clock, read once for the check and the record's stamp.
MappedRing* CurrentRing(std::uint64_t& now) {
  MappedRing* ring = g_lookup.current();
  if (!ring) return LookForRing(now = CoarseNowNs());
  now = PosixRingSystem().NowNs();
  const std::uint64_t recheckAt = ring->recheckAt.load(std::memory_order_relaxed);
  if (now < recheckAt) return ring;
  std::uint64_t expected = recheckAt;
  if (!ring->recheckAt.compare_exchange_strong(expected, now + kRecheckNs, std::memory_order_relaxed)) return ring;
  if (StillOffered(*ring)) return ring;
  Retire(ring);
  return LookForRing(now);
}

}  // namespace

bool TryWriteRing(std::string_view line) {
  const int savedErrno = errno;
  std::uint64_t now = 0;
  MappedRing* ring = CurrentRing(now);
  bool written = false;
  if (ring) {
    const ThreadIds& ids = Ids();
    const channel::WriteResult result = ring->writer.Write(line, ids.pid, ids.tid, now);
    written = result != channel::WriteResult::kClosed;
    if (!written) Retire(ring);
    // A full ring makes us ask whether anybody still reads it, on the next line.
    if (result == channel::WriteResult::kDropped) ring->recheckAt.store(0, std::memory_order_relaxed);
  }
  errno = savedErrno;
  return written;
}

}  // namespace vx380::posix
