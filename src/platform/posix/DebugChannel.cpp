// Debug output channel: one datagram per line on a Unix datagram socket. A send costs one
// send(); the target path is worked out once per thread and again only when the environment
// that names it has changed. With nobody listening a call costs next to nothing; with a
// listener that is behind, a line waits briefly for room rather than being dropped.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/posix/PosixServices.h"
#include "vx380/PosixPlatform.h"

extern char** environ;

namespace vx380::posix {

namespace {

constexpr const char* kSocketVar = "VX380_DEBUG_SOCKET";
constexpr const char* kRuntimeDirVar = "XDG_RUNTIME_DIR";
// Larger lines than the socket buffer takes go out cut to this size rather than not at all.
constexpr std::size_t kFallbackDatagram = 64 * 1024;

std::string ResolvePath(const char* socketVar, const char* runtimeDir) {
  if (socketVar && *socketVar) return socketVar;
  if (runtimeDir && *runtimeDir) return std::string(runtimeDir) + "/vx380-debug.sock";
  return "/tmp/vx380-debug-" + std::to_string(::getuid()) + ".sock";
}

// A socket for threads that are ending, made on first use; unconnected sends on it are thread-safe.
int SharedSocket() {
  static std::atomic<int> shared{-1};
  int fd = shared.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  const int made = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (made < 0) return -1;
  int expected = -1;
  if (shared.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  ::close(made);
  return expected;
}

// The target address together with a fingerprint of the environment it came from: setenv and
// unsetenv change the environ array, the entry of a variable, or the array's length.
class Target {
 public:
  bool Current() const {
    char** env = environ;
    if (env != env_ || env == nullptr) return false;
    if (env[count_] != nullptr || (count_ > 0 && env[count_ - 1] == nullptr)) return false;
    for (const Entry& e : entries_)
      if (e.index != kAbsent && env[e.index] != e.pointer) return false;
    return true;
  }

  void Resolve() {
    env_ = environ;
    count_ = 0;
    const char* values[2] = {nullptr, nullptr};
    const char* names[2] = {kSocketVar, kRuntimeDirVar};
    for (Entry& e : entries_) e = Entry{};
    if (env_) {
      for (; env_[count_]; ++count_) {
        for (int v = 0; v < 2; ++v) {
          const std::size_t len = std::strlen(names[v]);
          if (entries_[v].index == kAbsent && std::strncmp(env_[count_], names[v], len) == 0 &&
              env_[count_][len] == '=') {
            entries_[v] = Entry{count_, env_[count_]};
            values[v] = env_[count_] + len + 1;
          }
        }
      }
    }
    const std::string path = ResolvePath(values[0], values[1]);
    length_ = 0;
    if (path.size() >= sizeof(address_.sun_path)) return;  // no such socket can exist
    std::memset(&address_, 0, sizeof(address_));
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
    length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  }

  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&address_); }
  socklen_t length() const { return length_; }

 private:
  static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
  struct Entry {
    std::size_t index = kAbsent;
    const char* pointer = nullptr;
  };
  char** env_ = nullptr;
  std::size_t count_ = 0;
  Entry entries_[2];
  sockaddr_un address_{};
  socklen_t length_ = 0;
};

// Each thread sends on its own socket, connected to the listener while there is one: a
// connected send skips the path lookup of an unconnected one. The state is trivially
// destructible so that it stays usable until the thread's very end; the closer below gives the
// socket back at thread exit, after which the thread's last lines go out unconnected.
struct ThreadChannel {
  Target target;
  int fd = -1;  // -1: none yet; kClosed: closed at thread exit
  bool connected = false;
  long long retryConnectAt = 0;  // ms: no listener was there; look again from then on
};

// ms: a listener stopped reading; until then no thread of the process waits on it.
std::atomic<long long> g_stalledUntil{0};
constexpr int kClosed = -2;
thread_local ThreadChannel t_channel;

struct ThreadChannelCloser {
  void Arm() {}
  ~ThreadChannelCloser() {
    if (t_channel.fd >= 0) ::close(t_channel.fd);
    t_channel.fd = kClosed;
    t_channel.connected = false;
  }
};
thread_local ThreadChannelCloser t_closer;

constexpr int kSendFlags = MSG_NOSIGNAL;
// A path lookup costs microseconds, so a missing listener is looked for again only this often.
constexpr long long kNoListenerRetryMs = 10;
// The kernel queues only a few datagrams per listener: a burst waits this long for room.
constexpr int kWaitForRoomMs = 200;
constexpr long long kStalledListenerMs = 1000;

long long NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

ssize_t SendOnce(int fd, const std::string& text, int flags) {
  ssize_t sent;
  do {
    sent = ::send(fd, text.data(), text.size(), flags);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0 && errno == EMSGSIZE && text.size() > kFallbackDatagram)
    sent = ::send(fd, text.data(), kFallbackDatagram, flags);
  return sent;
}

bool ListenerStalled() {
  const long long until = g_stalledUntil.load(std::memory_order_relaxed);
  return until != 0 && NowMs() < until;
}

// False only when the connected listener has gone. The thread's socket blocks for room in the
// listener's queue, up to its send timeout; a listener that made us wait that long in vain is
// not waited on again for a while.
bool SendConnected(ThreadChannel& channel, const std::string& text) {
  const bool stalled = ListenerStalled();
  const ssize_t sent = SendOnce(channel.fd, text, kSendFlags | (stalled ? MSG_DONTWAIT : 0));
  if (sent >= 0) return true;
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    if (!stalled) g_stalledUntil.store(NowMs() + kStalledListenerMs, std::memory_order_relaxed);
    return true;  // a listener that does not read loses the line, and the host goes on
  }
  return !(errno == ECONNREFUSED || errno == ENOTCONN || errno == ECONNRESET || errno == EPIPE ||
           errno == EDESTADDRREQ);
}

void SendUnconnected(int fd, const Target& target, const std::string& text) {
  const ssize_t sent = ::sendto(fd, text.data(), text.size(), kSendFlags | MSG_DONTWAIT, target.address(), target.length());
  if (sent < 0 && errno == EMSGSIZE && text.size() > kFallbackDatagram)
    ::sendto(fd, text.data(), kFallbackDatagram, kSendFlags | MSG_DONTWAIT, target.address(), target.length());
}

void Send(const std::string& text) {
  ThreadChannel& channel = t_channel;
  if (!channel.target.Current()) {
    channel.target.Resolve();
    channel.connected = false;
    channel.retryConnectAt = 0;
  }
  if (!channel.target.length()) return;
  if (channel.fd == kClosed) {
    if (const int shared = SharedSocket(); shared >= 0) SendUnconnected(shared, channel.target, text);
    return;
  }
  if (channel.fd < 0) {
    channel.fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (channel.fd < 0) return;
    const timeval wait{0, kWaitForRoomMs * 1000};
    ::setsockopt(channel.fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    t_closer.Arm();
  }
  if (channel.connected) {
    if (SendConnected(channel, text)) return;
    channel.connected = false;  // the listener went away; a new one may be there now
    channel.retryConnectAt = 0;
  }
  if (channel.retryConnectAt && NowMs() < channel.retryConnectAt) return;
  if (::connect(channel.fd, channel.target.address(), channel.target.length()) == 0) {
    channel.connected = true;
    channel.retryConnectAt = 0;
    SendConnected(channel, text);
  } else {
    channel.retryConnectAt = NowMs() + kNoListenerRetryMs;
  }
}

}  // namespace

std::string DebugSocketPath() { return ResolvePath(std::getenv(kSocketVar), std::getenv(kRuntimeDirVar)); }

void PosixPlatform::WriteDebugLine(const std::string& ansi) {
  const int savedErrno = errno;  // debug output leaves the caller's errno alone
  Send(ansi);
  errno = savedErrno;
}

}  // namespace vx380::posix
