// Debug output channel: one datagram per line on a Unix datagram socket. A send costs one
// send(); the target path is worked out once per thread and again only when the environment
// that names it has changed. With nobody listening a call costs next to nothing; with a
// listener that is behind, a line waits briefly for room rather than being dropped.
//
// Lines go only to a socket that our own user owns, so another user who binds the path first
// neither reads them nor stalls us. A process holds at most kThreadSockets + 1 descriptors
// for the channel: the first threads each get a socket of their own, bound to a name that
// tells the listener the thread; later threads, and threads at their exit, share one unbound
// socket, so their lines are known by process only. The listener watch (ListenerWatch.cpp)
// that tells when nobody listens holds two more.
#include <linux/sockios.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "channel/DebugRoute.h"
#include "core/CurrentPlatform.h"
#include "platform/posix/ListenerWatch.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/TraceRingPosix.h"
#include "vx380/PosixPlatform.h"
#include "vx380/TraceChannel.h"

extern char** environ;

namespace vx380::posix {

namespace {

constexpr const char* kSocketVar = "VX380_DEBUG_SOCKET";
constexpr const char* kRuntimeDirVar = "XDG_RUNTIME_DIR";
constexpr const char* kSocketName = "/vx380-debug.sock";
// Larger lines than the socket buffer takes go out cut to this size rather than not at all.
constexpr std::size_t kFallbackDatagram = 64 * 1024;
constexpr int kThreadSockets = 64;
constexpr int kSendFlags = MSG_NOSIGNAL;
// A path lookup costs microseconds, so a missing listener is looked for again only this often.
constexpr long long kNoListenerRetryMs = 1;
// The kernel queues only a few datagrams per listener: a burst waits this long for room.
constexpr int kWaitForRoomMs = 200;
constexpr long long kStalledListenerMs = 1000;

std::string ResolvePath(const char* socketVar, const char* runtimeDir) {
  if (socketVar && *socketVar) return socketVar;
  if (runtimeDir && *runtimeDir) return std::string(runtimeDir) + kSocketName;
  std::string dir;
  return PrivateDirOrSaySo(dir) ? dir + kSocketName : std::string();
}

long long NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
long long NowMs() { return NowNs() / 1000000; }

// When a listener stopped reading, per target path: until then no thread waits on it. A slot is
// one word, a path's hash and the stall's end, so that a slot whose stall is over can go to another
// path without a thread marking a stall on a slot that went to another path meanwhile. Any number
// of paths over a process's life; lock-free so that it stays usable in a child after fork.
constexpr int kStallSlots = 64;
constexpr int kStallEndBits = 40;  // ms of the monotonic clock: 34 years
constexpr std::uint64_t kStallEndMask = (std::uint64_t{1} << kStallEndBits) - 1;
std::atomic<std::uint64_t> g_stalls[kStallSlots];

// The path's hash in the bits above the end; two paths of one process share it once in millions.
std::uint64_t StallKey(const char* path) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const char* c = path; *c; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
  const std::uint64_t key = hash >> kStallEndBits;
  return key ? key : 1;
}

bool Stalled(std::uint64_t key) {
  if (!key) return false;
  const auto now = static_cast<std::uint64_t>(NowMs());
  for (const auto& slot : g_stalls) {
    const std::uint64_t word = slot.load(std::memory_order_relaxed);
    if (word >> kStallEndBits == key && now < (word & kStallEndMask)) return true;
  }
  return false;
}

// Nobody waits on the path for a while. The path's own slot, else one whose stall is over; when
// every slot holds a path stalled right now, this one is not marked and its next line waits again.
void MarkStalled(std::uint64_t key) {
  const auto now = static_cast<std::uint64_t>(NowMs());
  const std::uint64_t marked = key << kStallEndBits | ((now + kStalledListenerMs) & kStallEndMask);
  for (const bool own : {true, false}) {
    for (auto& slot : g_stalls) {
      std::uint64_t word = slot.load(std::memory_order_relaxed);
      while (own ? word >> kStallEndBits == key : now >= (word & kStallEndMask)) {
        if (slot.compare_exchange_weak(word, marked, std::memory_order_relaxed)) return;
      }
    }
  }
}

// The environment a target was worked out from: setenv and unsetenv change the environ array,
// the entry of a variable, or the array's length. Four slots tell: each variable's entry (the
// terminator's slot when it is absent), the last entry and the terminator.
struct EnvFingerprint {
  static constexpr int kSlots = 4;
  char** env = nullptr;
  std::size_t index[kSlots] = {};
  const char* pointer[kSlots] = {};

  bool Matches(char** now) const {
    return now && now == env && now[index[0]] == pointer[0] && now[index[1]] == pointer[1] &&
           now[index[2]] == pointer[2] && now[index[3]] == pointer[3];
  }
};

// The target address together with the environment it came from.
class Target {
 public:
  bool Current() const { return env_.Matches(environ); }

  void Resolve() {
    char** env = environ;
    std::size_t count = 0;
    std::size_t at[2] = {0, 0};
    bool found[2] = {false, false};
    const char* names[2] = {kSocketVar, kRuntimeDirVar};
    const char* values[2] = {nullptr, nullptr};
    if (env) {
      for (; env[count]; ++count) {
        for (int v = 0; v < 2; ++v) {
          const std::size_t len = std::strlen(names[v]);
          if (!found[v] && std::strncmp(env[count], names[v], len) == 0 && env[count][len] == '=') {
            found[v] = true;
            at[v] = count;
            values[v] = env[count] + len + 1;
          }
        }
      }
    }
    env_ = EnvFingerprint{};
    env_.env = env;
    if (env) {
      const std::size_t slots[EnvFingerprint::kSlots] = {found[0] ? at[0] : count, found[1] ? at[1] : count,
                                                         count > 0 ? count - 1 : 0, count};
      for (int i = 0; i < EnvFingerprint::kSlots; ++i) {
        env_.index[i] = slots[i];
        env_.pointer[i] = env[slots[i]];
      }
    }
    const std::string path = ResolvePath(values[0], values[1]);
    length_ = 0;
    if (path.empty() || path.size() >= sizeof(address_.sun_path)) return;  // no such socket can exist
    std::memset(&address_, 0, sizeof(address_));
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
    length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  }

  const EnvFingerprint& environment() const { return env_; }
  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t length() const { return length_; }
  const char* path() const { return address_.sun_path; }

 private:
  EnvFingerprint env_;
  sockaddr_un address_{};
  socklen_t length_ = 0;
};

// Nobody listens at the socket the environment names, as some thread last found, for the whole
// process: it holds while the environment is the one it was found in and the listener watch
// has seen nothing since. A seqlock keeps a reader from mixing two findings; writers that meet
// one another give up rather than wait, so nothing here can block, even in a child after fork.
class alignas(64) QuietEverywhere {
 public:
  [[gnu::always_inline]] bool Now() const {
    const std::uint64_t seq = seq_.load(std::memory_order_acquire);
    const std::uint64_t count = count_.load(std::memory_order_relaxed);
    if (count != ListenerWatchCount()) return false;  // a listener was seen since: the line is heard
    char** const env = env_.load(std::memory_order_relaxed);
    const std::size_t i0 = index_[0].load(std::memory_order_relaxed), i1 = index_[1].load(std::memory_order_relaxed),
                      i2 = index_[2].load(std::memory_order_relaxed), i3 = index_[3].load(std::memory_order_relaxed);
    const char *const p0 = pointer_[0].load(std::memory_order_relaxed),
                      *const p1 = pointer_[1].load(std::memory_order_relaxed),
                      *const p2 = pointer_[2].load(std::memory_order_relaxed),
                      *const p3 = pointer_[3].load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((seq & 1) || seq_.load(std::memory_order_relaxed) != seq || count != ListenerWatchCount()) return false;
    // Only a consistent finding is followed into the environment: its indexes fit its array.
    return env && env == environ && env[i0] == p0 && env[i1] == p1 && env[i2] == p2 && env[i3] == p3;
  }

  // True when published: the watch vouches for `seen`, read before the look that found nobody.
  bool Publish(const EnvFingerprint& env, std::uint64_t seen) {
    return Write([&] {
      env_.store(env.env, std::memory_order_relaxed);
      for (int i = 0; i < EnvFingerprint::kSlots; ++i) {
        index_[i].store(env.index[i], std::memory_order_relaxed);
        pointer_[i].store(env.pointer[i], std::memory_order_relaxed);
      }
      count_.store(seen, std::memory_order_relaxed);
    });
  }

  // A fork taken in the middle of a write leaves it to the child half done.
  void AfterFork() {
    const std::uint64_t seq = seq_.load(std::memory_order_relaxed);
    count_.store(kNever, std::memory_order_relaxed);
    if (seq & 1) seq_.store(seq + 1, std::memory_order_release);
  }

 private:
  static constexpr std::uint64_t kNever = ~std::uint64_t{0};

  template <typename Fields>
  bool Write(Fields fields) {
    std::uint64_t seq = seq_.load(std::memory_order_relaxed);
    if ((seq & 1) || !seq_.compare_exchange_strong(seq, seq + 1, std::memory_order_acquire)) return false;
    std::atomic_thread_fence(std::memory_order_release);
    fields();
    seq_.store(seq + 2, std::memory_order_release);
    return true;
  }

  std::atomic<std::uint64_t> seq_{0};
  std::atomic<std::uint64_t> count_{kNever};
  std::atomic<char**> env_{nullptr};
  std::atomic<std::size_t> index_[EnvFingerprint::kSlots] = {};
  std::atomic<const char*> pointer_[EnvFingerprint::kSlots] = {};
};
QuietEverywhere g_quiet;

// A socket file at `path` that our own user owns; `id` tells it from a later one.
bool OurSocket(const char* path, std::pair<dev_t, ino_t>& id) {
  struct stat st {};
  if (::lstat(path, &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

int WithWaitForRoom(int fd) {
  const timeval wait{0, kWaitForRoomMs * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  return fd;
}

// The socket of threads beyond the bound and of threads that are ending, made on first use.
// It stays unbound and unconnected: sendto on it is thread-safe.
int SharedSocket() {
  static std::atomic<int> shared{-1};
  int fd = shared.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  const int made = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (made < 0) return -1;
  int expected = -1;
  if (shared.compare_exchange_strong(expected, WithWaitForRoom(made), std::memory_order_acq_rel)) return made;
  ::close(made);
  return expected;
}

// The threads' own sockets, so that a child after fork can give back those of threads it does
// not have. kClaimed: a thread is making its socket.
constexpr int kFree = -1, kClaimed = -2;
std::atomic<int> g_threadSockets[kThreadSockets] = {};
std::atomic<unsigned> g_forkGeneration{0};

void CloseInheritedSockets() {
  for (std::atomic<int>& slot : g_threadSockets) {
    const int fd = slot.exchange(kFree);
    if (fd >= 0) ::close(fd);
  }
  g_quiet.AfterFork();
  g_forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

int ClaimThreadSocket() {
  static std::once_flag atFork;
  std::call_once(atFork, [] {
    for (std::atomic<int>& slot : g_threadSockets) slot.store(kFree);
    ::pthread_atfork(nullptr, nullptr, CloseInheritedSockets);
  });
  for (int i = 0; i < kThreadSockets; ++i) {
    int expected = kFree;
    if (g_threadSockets[i].compare_exchange_strong(expected, kClaimed, std::memory_order_acq_rel)) return i;
  }
  return -1;
}

// A socket bound to the name that tells the listener process and thread; -1 when the name is taken.
int NamedThreadSocket() {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const std::string name = channel::SenderName(::getpid(), ::gettid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: a leading NUL
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    ::close(fd);
    return -1;
  }
  return WithWaitForRoom(fd);
}

constexpr int kNone = -1;    // no socket yet
constexpr int kShared = -2;  // the process's shared socket
// The state is trivially destructible so that it stays usable until the thread's very end;
// the closer below gives the socket back at thread exit, after which the thread's last lines
// go out on the shared socket.
struct ThreadChannel {
  Target target;
  std::uint64_t stallKey = 0;
  int fd = kNone;
  int slot = -1;
  unsigned generation = 0;
  bool ready = false;     // the own socket is connected to a socket of ours
  long long retryAt = 0;  // ns: no listener was there; look again from then on
};
thread_local ThreadChannel t_channel;

void ReleaseOwnSocket(ThreadChannel& channel) {
  if (channel.fd >= 0 && channel.generation == g_forkGeneration.load(std::memory_order_relaxed)) {
    g_threadSockets[channel.slot].store(kFree, std::memory_order_release);
    ::close(channel.fd);
  }
  channel.slot = -1;
  channel.ready = false;
}

// Closes the thread's own socket when the thread ends. A thread_local is constructed, and its
// destructor registered, only in a thread that uses it: Arm() is that use, made when the thread
// takes a socket of its own, so threads that never do pay nothing at exit.
struct ThreadChannelCloser {
  void Arm() {}
  ~ThreadChannelCloser() {
    ReleaseOwnSocket(t_channel);
    t_channel.fd = kShared;
  }
};
thread_local ThreadChannelCloser t_closer;

void OpenOwnSocket(ThreadChannel& channel) {
  channel.fd = kShared;
  const int slot = ClaimThreadSocket();
  if (slot < 0) return;
  const int fd = NamedThreadSocket();
  if (fd < 0) {
    g_threadSockets[slot].store(kFree, std::memory_order_release);
    return;
  }
  g_threadSockets[slot].store(fd, std::memory_order_release);
  channel.fd = fd;
  channel.slot = slot;
  channel.generation = g_forkGeneration.load(std::memory_order_relaxed);
  t_closer.Arm();
}

// Sends on the thread's connected socket (address null) or to the target. False only when
// nobody is there. A listener that makes a line wait for room in vain is not waited on again
// for a while; the line is lost and the host goes on.
bool SendTo(int fd, const sockaddr* address, socklen_t length, std::uint64_t stallKey, std::string_view text) {
  const bool stalled = Stalled(stallKey);
  const int flags = kSendFlags | (stalled ? MSG_DONTWAIT : 0);
  ssize_t sent;
  do {
    sent = ::sendto(fd, text.data(), text.size(), flags, address, length);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && errno == EMSGSIZE && text.size() > kFallbackDatagram)
    sent = ::sendto(fd, text.data(), kFallbackDatagram, flags, address, length);
  if (sent >= 0) return true;
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    if (!stalled) MarkStalled(stallKey);
    return true;
  }
  return !(errno == ECONNREFUSED || errno == ENOTCONN || errno == ECONNRESET || errno == EPIPE ||
           errno == EDESTADDRREQ || errno == ENOENT);
}

// Connects the thread's own socket to the target when a socket of ours is there, checked
// before and after, so that a socket put in its place meanwhile is not taken for ours.
bool ConnectToOurs(ThreadChannel& channel) {
  std::pair<dev_t, ino_t> before, after;
  return OurSocket(channel.target.path(), before) &&
         ::connect(channel.fd, channel.target.address(), channel.target.length()) == 0 &&
         OurSocket(channel.target.path(), after) && before == after;
}

// False when nobody of ours listens at the target.
bool Deliver(ThreadChannel& channel, std::string_view text) {
  if (channel.fd >= 0) {
    if (!channel.ready && !(channel.ready = ConnectToOurs(channel))) return false;
    if (SendTo(channel.fd, nullptr, 0, channel.stallKey, text)) return true;
    channel.ready = false;
    return false;
  }
  // Unconnected sends look the path up each time, so the owner is checked each time too.
  std::pair<dev_t, ino_t> id;
  const int shared = SharedSocket();
  if (shared < 0 || !OurSocket(channel.target.path(), id)) return false;
  return SendTo(shared, channel.target.address(), channel.target.length(), channel.stallKey, text);
}

// Nobody of ours listens at the target. When the listener watch can vouch for the look, the
// whole process stays quiet until the watch sees a change; else the thread looks again later.
void BecomeQuiet(ThreadChannel& channel, std::string_view text, std::uint64_t seen) {
  if (WatchSocketFolder(channel.target.path())) {
    // The watch is newer than the look, or something changed meanwhile: look once more.
    if (ListenerWatchCount() != seen) {
      seen = ListenerWatchCount();
      if (Deliver(channel, text)) {
        channel.retryAt = 0;
        return;
      }
    }
    if (g_quiet.Publish(channel.target.environment(), seen)) {
      channel.retryAt = 0;
      return;
    }
  }
  channel.retryAt = NowNs() + kNoListenerRetryMs * 1000000;
}

void Send(std::string_view text) {
  ThreadChannel& channel = t_channel;
  if (channel.fd >= 0 && channel.generation != g_forkGeneration.load(std::memory_order_relaxed)) {
    // A child after fork: the parent's thread's socket is gone.
    channel = ThreadChannel{channel.target, channel.stallKey};
  }
  if (!channel.target.Current()) {
    channel.target.Resolve();
    channel.stallKey = StallKey(channel.target.path());
    channel.ready = false;
    channel.retryAt = 0;
  }
  if (!channel.target.length()) return;
  if (g_quiet.Now()) return;
  if (channel.fd == kNone) OpenOwnSocket(channel);
  if (channel.retryAt && NowNs() < channel.retryAt) return;
  const std::uint64_t seen = ListenerWatchCount();  // before the look that may find nobody
  const bool wasConnected = channel.ready;
  if (Deliver(channel, text)) {
    channel.retryAt = 0;
    return;
  }
  // The listener went away; a new one may be there already.
  if (wasConnected && channel.fd >= 0 && Deliver(channel, text)) return;
  BecomeQuiet(channel, text, seen);
}

}  // namespace

namespace {
// The thread's last line found nobody at the socket its environment names, and the time to
// look again has not come: the next line would not be sent either.
[[gnu::noinline]] bool QuietOnTheClock() {
  // Its address taken once: the compiler would otherwise look it up again at every use.
  const ThreadChannel* pinned = &t_channel;
  asm("" : "+r"(pinned));
  const ThreadChannel& channel = *pinned;
  // The clock last: nothing of the thread's is read after the call.
  const long long retryAt = channel.retryAt;
  return retryAt && channel.target.Current() && NowNs() < retryAt;
}
}  // namespace

bool DebugChannelQuiet() { return SystemDebugOutputQuiet(); }

}  // namespace vx380::posix

namespace vx380 {
// At a cache line's start, as DebugTrace is: what these few instructions cost depended on where
// the linker put them, by half as much again from one build to the next.
[[gnu::aligned(64)]] bool SystemDebugOutputQuiet() { return posix::g_quiet.Now() || posix::QuietOnTheClock(); }

void SystemWriteDebugLine(std::string_view line) {
  channel::RouteDebugLine(line, posix::TryWriteRing, posix::WriteDebugSocketLine);
}
}  // namespace vx380

namespace vx380::posix {

std::string DebugSocketPath() { return ResolvePath(std::getenv(kSocketVar), std::getenv(kRuntimeDirVar)); }

void AwaitSocketLinesRead() {
  const int savedErrno = errno;
  const ThreadChannel& channel = t_channel;
  const bool own = channel.fd >= 0 && channel.generation == g_forkGeneration.load(std::memory_order_relaxed);
  const int fd = own ? channel.fd : channel.fd == kShared ? SharedSocket() : -1;
  // A stalled listener is not waited on: the host goes on, as when it waits for room.
  if (fd >= 0 && !Stalled(channel.stallKey)) {
    const long long until = NowNs() + kWaitForRoomMs * 1000000LL;
    int unread = 0;
    // The kernel counts a datagram against its sender until the reader has taken it.
    while (::ioctl(fd, SIOCOUTQ, &unread) == 0 && unread > 0 && NowNs() < until) {
      const timespec pause{0, 50000};
      ::nanosleep(&pause, nullptr);
    }
  }
  errno = savedErrno;
}

void WriteDebugSocketLine(std::string_view ansi) {
  const int savedErrno = errno;  // debug output leaves the caller's errno alone
  Send(ansi);
  errno = savedErrno;
}

void PosixPlatform::WriteDebugLine(const std::string& ansi) { SystemWriteDebugLine(ansi); }

}  // namespace vx380::posix
