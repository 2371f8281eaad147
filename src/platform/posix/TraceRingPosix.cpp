// The writing side of the trace ring: asks the listener for its ring (as rarely as the socket
// looks for its listener), maps it, and writes lines into it without a system call.
//
// The listener hands its ring over a socket as an anonymous memory file sealed against
// shrinking and growing, so nobody can pull the pages out from under a mapping. The connection
// stays open: its hang-up tells that the listener is gone. A retired ring is unmapped once no
// thread is inside it; threads announce the ring they write in a slot of their own.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "channel/DebugRoute.h"
#include "channel/RingLookup.h"
#include "platform/posix/DescriptorPassing.h"
#include "platform/posix/Owned.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/TraceRingPosix.h"

namespace vx380::posix {

namespace {

constexpr std::uint64_t kMsNs = 1000000;
constexpr std::uint64_t kLivenessMs = 10;     // how soon a dead listener is noticed
constexpr std::uint64_t kPathCheckMs = 1000;  // how soon a changed socket rule is
constexpr int kAnswerMs = 500;                // a listener's answer to a request
constexpr std::uint64_t kSilentListenerNs = 1000 * kMsNs;

struct MappedRing {
  channel::RingWriter writer;
  std::string path;
  MappedView view;
  UniqueFd connection;
  std::atomic<std::uint64_t> checkAt{0};  // on the ring's clock, as pathCheckAt
  std::uint64_t pathCheckAt = 0;          // under the check's turn only
  std::string rule[3];                    // the variables the ring's path came from, as they were
  MappedRing* nextRetired = nullptr;
};

// Where a thread says which ring it is writing in. Slots are reused, never freed.
struct alignas(64) WriterSlot {
  std::atomic<MappedRing*> inside{nullptr};
  std::atomic<bool> taken{false};
  bool lineWentElsewhere = false;  // the owner's: its last line was not the ring's to take
  WriterSlot* next = nullptr;
};

channel::RingLookup<MappedRing, std::mutex> g_lookup;
std::atomic<WriterSlot*> g_slots{nullptr};
std::mutex g_retiredLock;
MappedRing* g_retired = nullptr;  // under g_retiredLock
std::atomic<bool> g_anyRetired{false};
std::atomic<std::uint64_t> g_lostUnreported{0};  // lines left in rings whose reader ended
std::atomic<std::uint64_t> g_quietUntil{0};      // a listener that did not answer: leave it be

std::uint64_t CoarseNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

// Process and thread ids cost a system call each: the process's is asked once (and again in a
// forked child), a thread's once per thread.
std::atomic<unsigned> g_forkGeneration{1};
std::atomic<std::uint32_t> g_pid{0};
struct ThreadIds {
  unsigned generation = 0;
  std::uint32_t pid = 0;
  std::uint32_t tid = 0;
};
thread_local ThreadIds t_ids;

std::uint32_t ProcessId() {
  std::uint32_t pid = g_pid.load(std::memory_order_relaxed);
  if (pid == 0) g_pid.store(pid = static_cast<std::uint32_t>(::getpid()), std::memory_order_relaxed);
  return pid;
}

const ThreadIds& Ids() {
  const unsigned generation = g_forkGeneration.load(std::memory_order_relaxed);
  if (t_ids.generation != generation) t_ids = {generation, ProcessId(), static_cast<std::uint32_t>(::gettid())};
  return t_ids;
}

// ---- the thread's slot ----

WriterSlot* const kSlotGone = reinterpret_cast<WriterSlot*>(1);
thread_local WriterSlot* t_slot = nullptr;

struct SlotReleaser {
  void Arm() {}
  ~SlotReleaser() {
    if (t_slot && t_slot != kSlotGone) t_slot->taken.store(false, std::memory_order_release);
    t_slot = kSlotGone;  // a line written later in this thread's exit goes to the socket
  }
};
thread_local SlotReleaser t_releaser;

WriterSlot* ClaimSlot() {
  for (WriterSlot* slot = g_slots.load(std::memory_order_acquire); slot; slot = slot->next) {
    bool expected = false;
    if (!slot->taken.load(std::memory_order_relaxed) &&
        slot->taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
      slot->lineWentElsewhere = false;  // the thread before's
      return slot;
    }
  }
  auto* slot = new WriterSlot;
  slot->taken.store(true, std::memory_order_relaxed);
  slot->next = g_slots.load(std::memory_order_relaxed);
  while (!g_slots.compare_exchange_weak(slot->next, slot, std::memory_order_acq_rel)) {
  }
  return slot;
}

WriterSlot* OwnSlot() {
  if (t_slot == nullptr) {
    t_slot = ClaimSlot();
    t_releaser.Arm();
  }
  return t_slot == kSlotGone ? nullptr : t_slot;
}

bool Inside(const MappedRing* ring) {
  for (WriterSlot* slot = g_slots.load(std::memory_order_acquire); slot; slot = slot->next)
    if (slot->inside.load(std::memory_order_acquire) == ring) return true;
  return false;
}

// ---- retiring and unmapping ----

void Unmap(MappedRing* ring) {
  // What this process wrote and nobody read is lost: told to the next listener. A ring the
  // reader retired for damage was counted by the reader.
  if (!ring->writer.Retired())
    g_lostUnreported.fetch_add(ring->writer.UnreadOf(static_cast<std::uint32_t>(::getpid())),
                               std::memory_order_relaxed);
  delete ring;
}

// Takes `ring` out of use; the caller is inside it, so it stays mapped until Reclaim.
void Retire(MappedRing* ring) {
  if (!g_lookup.Retire(ring)) return;
  std::lock_guard<std::mutex> guard(g_retiredLock);
  ring->nextRetired = g_retired;
  g_retired = ring;
  g_anyRetired.store(true, std::memory_order_release);
}

// Unmaps the retired rings no thread is inside any more.
void Reclaim() {
  if (!g_anyRetired.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(g_retiredLock);
  std::atomic_thread_fence(std::memory_order_seq_cst);  // pairs with a writer's announcement
  for (MappedRing** link = &g_retired; *link;) {
    MappedRing* ring = *link;
    if (Inside(ring)) {
      link = &ring->nextRetired;
      continue;
    }
    *link = ring->nextRetired;
    Unmap(ring);
  }
  g_anyRetired.store(g_retired != nullptr, std::memory_order_release);
}

// ---- the socket rule ----

// What decides where the ring is looked for: a change to any of them is a look at the rule.
constexpr const char* kRuleVariables[3] = {"VX380_DEBUG_SOCKET", "XDG_RUNTIME_DIR", "TMPDIR"};

void TakeRule(std::string (&rule)[3]) {
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(kRuleVariables[i]);
    rule[i] = value ? value : "";
  }
}

// Compares without allocating: a thread may be here when another forks.
bool SameRule(const std::string (&rule)[3]) {
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(kRuleVariables[i]);
    if (std::strcmp(value ? value : "", rule[i].c_str()) != 0) return false;
  }
  return true;
}

// ---- asking the listener ----

UniqueFd ConnectToListener(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) return {};
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return {};
  std::memcpy(address.sun_path, path.data(), path.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  ucred peer{};
  socklen_t length = sizeof peer;
  // The kernel vouches for who listens: a socket another user planted is never trusted.
  if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::geteuid())
    return {};
  return fd;
}

// The ring's memory file from the listener's answer; none when none came in time.
UniqueFd ReceiveRingFile(int connection) {
  pollfd wait{connection, POLLIN, 0};
  if (::poll(&wait, 1, kAnswerMs) != 1) {
    g_quietUntil.store(CoarseNowNs() + kSilentListenerNs, std::memory_order_relaxed);
    return {};
  }
  return ReceiveDescriptor(connection, MSG_DONTWAIT);
}

// A memory file whose size nobody can change, within the ring's bounds.
bool Sealed(int fd, std::size_t& bytes) {
  struct stat st {};
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || seals < 0 ||
      (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) != (F_SEAL_SHRINK | F_SEAL_GROW) ||
      st.st_size < static_cast<off_t>(channel::kMinRingBytes) ||
      st.st_size > static_cast<off_t>(channel::kMaxRingBytes))
    return false;
  bytes = static_cast<std::size_t>(st.st_size);
  return true;
}

MappedRing* MapRing(const std::string& path) {
  if (CoarseNowNs() < g_quietUntil.load(std::memory_order_relaxed)) return nullptr;
  UniqueFd connection = ConnectToListener(path);
  if (!connection) return nullptr;
  const UniqueFd file = ReceiveRingFile(connection.get());
  std::size_t bytes = 0;
  if (!file || !Sealed(file.get(), bytes)) return nullptr;
  auto ring = std::make_unique<MappedRing>();
  ring->view = MappedView(file.get(), bytes);  // the mapping keeps the memory once the file is closed
  if (!ring->view || !ring->writer.Attach(ring->view.get(), bytes, PosixRingSystem())) return nullptr;
  ring->path = path;
  ring->connection = std::move(connection);
  const std::uint64_t stamp = ring->writer.Stamp(), perMs = ring->writer.StampsPerMs();
  ring->checkAt.store(stamp + kLivenessMs * perMs, std::memory_order_relaxed);
  ring->pathCheckAt = stamp + kPathCheckMs * perMs;
  TakeRule(ring->rule);
  if (const std::uint64_t lost = g_lostUnreported.exchange(0, std::memory_order_relaxed))
    ring->writer.ReportLostEarlier(lost);
  return ring.release();
}

// ---- finding the current ring ----

// The listener still holds its end, and the socket rule still points where it did. Nothing
// here allocates while the rule's variables are unchanged.
bool ListenerHungUp(const MappedRing& ring) {
  pollfd hangUp{ring.connection.get(), POLLIN | POLLRDHUP, 0};
  return ::poll(&hangUp, 1, 0) != 0;  // the listener never speaks after its answer
}

bool StillOffered(MappedRing& ring, std::uint64_t now) {
  if (ListenerHungUp(ring)) return false;
  if (now < ring.pathCheckAt) return true;
  ring.pathCheckAt = now + kPathCheckMs * ring.writer.StampsPerMs();
  return SameRule(ring.rule) || TraceRingPath(false) == ring.path;
}

MappedRing* LookForRing() {
  Reclaim();
  return g_lookup.Look(
      CoarseNowNs(),
      [] {
        const std::string path = TraceRingPath(false);
        return path.empty() ? nullptr : MapRing(path);
      },
      CoarseNowNs);
}

// The current ring with `slot` announced inside it, or null. `now` is the ring's clock, read
// once for the checks and the record's stamp.
MappedRing* EnterRing(WriterSlot& slot, std::uint64_t& now) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    MappedRing* ring = g_lookup.current();
    if (!ring && !(ring = LookForRing())) return nullptr;
    slot.inside.store(ring, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);  // pairs with Reclaim's
    if (g_lookup.current() != ring) {
      slot.inside.store(nullptr, std::memory_order_release);
      continue;
    }
    now = ring->writer.Stamp();
    std::uint64_t checkAt = ring->checkAt.load(std::memory_order_relaxed);
    if (now < checkAt ||
        !ring->checkAt.compare_exchange_strong(checkAt, now + kLivenessMs * ring->writer.StampsPerMs()))
      return ring;
    if (StillOffered(*ring, now) && !ring->writer.Closed()) {
      Reclaim();
      return ring;
    }
    Retire(ring);
    slot.inside.store(nullptr, std::memory_order_release);
    Reclaim();
  }
  return nullptr;
}

void ForkPrepare() {
  g_retiredLock.lock();
  g_lookup.ForkPrepare();
}
void ForkParent() {
  g_lookup.ForkParent();
  g_retiredLock.unlock();
}
// The child has one thread, inside no ring: the parent's rings are the parent's. Their pages
// and connections go; the child asks for a ring of its own.
void ForkChild() {
  g_pid.store(static_cast<std::uint32_t>(::getpid()), std::memory_order_relaxed);
  g_forkGeneration.fetch_add(1, std::memory_order_relaxed);
  MappedRing* current = g_lookup.current();
  g_lookup.ForkChild();
  for (MappedRing* ring = g_retired; ring;) {
    MappedRing* next = ring->nextRetired;
    if (ring != current) delete ring;
    ring = next;
  }
  delete current;
  g_retired = nullptr;
  g_anyRetired.store(false, std::memory_order_relaxed);
  g_lostUnreported.store(0, std::memory_order_relaxed);
  for (WriterSlot* slot = g_slots.load(std::memory_order_relaxed); slot; slot = slot->next) {
    slot->inside.store(nullptr, std::memory_order_relaxed);
    if (slot != t_slot) slot->taken.store(false, std::memory_order_relaxed);
  }
  g_retiredLock.unlock();
}

[[maybe_unused]] const bool g_forkHandlers = [] {
  ::pthread_atfork(ForkPrepare, ForkParent, ForkChild);
  return true;
}();

}  // namespace

bool TryWriteRing(std::string_view line) {
  const int savedErrno = errno;
  bool written = false;
  WriterSlot* slot = OwnSlot();
  std::uint64_t now = 0;
  if (MappedRing* ring = slot ? EnterRing(*slot, now) : nullptr) {
    if (slot->lineWentElsewhere) {  // back from the socket: its lines are shown first
      AwaitSocketLinesRead();
      slot->lineWentElsewhere = false;
    }
    const ThreadIds& ids = Ids();
    const channel::RingAnswer answer = channel::AnswerOf(ring->writer.Write(line, ids.pid, ids.tid, now));
    written = answer.taken;
    bool retire = answer.retire;
    if (answer.askSoon) {
      // A line dropped in the ring of a listener that is gone is reported by nobody but the
      // next listener, as the lines left unread there are.
      if (ListenerHungUp(*ring)) {
        g_lostUnreported.fetch_add(1, std::memory_order_relaxed);
        retire = true;
      } else {
        ring->checkAt.store(0, std::memory_order_relaxed);
      }
    }
    if (retire) Retire(ring);
    slot->inside.store(nullptr, std::memory_order_release);
    if (retire) Reclaim();
  }
  if (slot && !written) slot->lineWentElsewhere = true;
  errno = savedErrno;
  return written;
}

}  // namespace vx380::posix
