// vxtrace on POSIX: binds the component's debug socket. The component sends one
// datagram per line and, when the listener's queue is full, waits up to 200 ms for room
// before it gives the line up. Who sent a datagram comes from the kernel (SO_PASSCRED);
// which thread, from the abstract name the sender bound its socket to.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Capture.h"
#include "MessageQueue.h"
#include "ThreadSignals.h"
#include "vx380/TraceChannel.h"

#ifdef VXTRACE_PLATFORM_SOCKET_PATH
#include "RingFeed.h"
#include "platform/posix/TraceRingPosix.h"
#include "vx380/PosixPlatform.h"
#endif

namespace vxtrace {
namespace {

std::atomic<bool> gInterrupted{false};
constexpr std::size_t kBatchBytes = 1u << 20;
constexpr std::size_t kBatchMessages = 256;
// How long the socket's reader waits for the ring feed to hand its lines on first: well within
// the 200 ms a sender waits for room.
constexpr std::chrono::milliseconds kHandOverWait{100};
// Datagrams read by one call, and room for each: the largest a sender's default
// buffer lets through fits.
constexpr unsigned kSlots = 16;
constexpr std::size_t kSlotBytes = kMaxMessageBytes;
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
// The ring only passes lines on: it is drained every few milliseconds into the queue, where
// a held-up display's backlog waits. Every page of it is resident, so it is kept small.
constexpr std::size_t kRingBytes = vx380::channel::kRingHeaderBytes + (std::size_t{4} << 20);
#endif

void OnInterrupt(int) { gInterrupted = true; }

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

std::string ProcessName(unsigned long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

#ifdef VXTRACE_PLATFORM_SOCKET_PATH
// From the ring's clock (monotonic) to the Unix epoch, as the socket's arrival times count.
std::int64_t RingClockOffsetNs() {
  timespec wall;
  clock_gettime(CLOCK_REALTIME, &wall);
  const std::uint64_t ring = vx380::posix::PosixRingSystem().NowNs();
  return static_cast<std::int64_t>(wall.tv_sec) * 1000000000 + wall.tv_nsec - static_cast<std::int64_t>(ring);
}

// Writers look for the ring where their socket rule points: beside the socket they were
// told of, else in the private folder.
std::string RingPathFor(const std::string& socketPath, bool defaultSocket) {
  return defaultSocket ? vx380::posix::TraceRingPath() : socketPath + ".ring";
}
#endif

// The thread a datagram names, trusted only when the name's process is the sender
// the kernel vouches for: anybody may bind any abstract name.
unsigned long long SenderThread(const sockaddr_un& from, socklen_t length, unsigned long pid) {
  const socklen_t base = offsetof(sockaddr_un, sun_path);
  if (length <= base + 1 || from.sun_path[0] != '\0') return 0;
  long namedPid = 0, tid = 0;
  std::string_view name(from.sun_path + 1, length - base - 1);
  if (!vx380::channel::ParseSenderName(name, namedPid, tid)) return 0;
  return static_cast<unsigned long>(namedPid) == pid ? static_cast<unsigned long long>(tid) : 0;
}

// The kernel queues only a handful of datagrams per socket (net.unix.max_dgram_qlen,
// often 10), so a reader thread does nothing but drain the socket into a bounded
// queue; parsing and printing happen elsewhere and may block on the output. When the
// queue is full the reader stops reading: senders then wait for room by their own rule.
class SocketListener : public Listener {
 public:
  SocketListener(int fd, std::string path, dev_t dev, ino_t ino, bool anyUser, bool replacedStale)
      : fd_(fd), path_(std::move(path)), dev_(dev), ino_(ino), anyUser_(anyUser), replacedStale_(replacedStale) {
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    reader_ = std::thread([this] { Drain(); });
  }

  ~SocketListener() override {
    queue_.Close();  // nobody shows what comes now: the threads stop waiting for room
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
    feed_.reset();  // before the ring it reads
    ring_.reset();
#endif
    stop_ = true;
    if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
    reader_.join();
    // Remove the path only while it is still ours: a later vxtrace may have
    // replaced it after finding this one gone.
    struct stat st;
    if (lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) unlink(path_.c_str());
    close(fd_);
    for (int w : wake_)
      if (w >= 0) close(w);
  }

  WaitResult Wait(Message& message, int timeoutMs) override { return queue_.Pop(message, timeoutMs); }
  WaitResult WaitBatch(std::vector<Message>& batch, int timeoutMs) override { return queue_.Take(batch, timeoutMs); }
  std::string Describe() const override {
    return "listening on " + path_ +
           (replacedStale_ ? " (replaced a stale socket left by a listener that ended)" : "") + ringNote_;
  }
  std::string LastError() const override { return queue_.Error(); }
  CaptureLosses Losses() const override {
    CaptureLosses losses;
    losses.dropped = queue_.Dropped();
    losses.otherUsers = otherUsers_.load();
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
    if (feed_) feed_->AddTo(losses);
#endif
    return losses;
  }

#ifdef VXTRACE_PLATFORM_SOCKET_PATH
  // Offers the trace ring next to the socket; without one the socket serves alone.
  void OfferRing(const std::string& ringPath) {
    auto ring = std::make_unique<vx380::posix::TraceRingListener>();
    std::string error;
    if (!ring->Open(ringPath, kRingBytes, error)) {
      ringNote_ = "; no trace ring (" + error + "), the socket alone";
      return;
    }
    ringNote_ = " and offering the trace ring " + ringPath;
    ring_ = std::move(ring);
    feed_ = std::make_unique<RingFeed<vx380::posix::TraceRingListener>>(*ring_, queue_, &ProcessName,
                                                                        RingClockOffsetNs(), &handOver_);
  }
#endif

 private:
  void Drain() {
    LeaveSignalsToTheMainThread();
    Slots slots;
    std::vector<Message> batch;
    batch.reserve(kBatchMessages + kSlots);
    std::size_t batchBytes = 0;
    while (!stop_) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(p, wake_[0] >= 0 ? 2 : 1, wake_[0] >= 0 ? -1 : 100) < 0 && errno != EINTR) {
        queue_.Fail(ErrnoText("poll"));
        return;
      }
      // A writer back on the ring waits until its datagrams are taken; held until they are in
      // the queue, they are there before its ring lines. A feed held up longer (a damaged
      // ring's retirement waiting on a dead writer, a full queue) does not hold the socket
      // back past its senders' wait for room: lines are never lost for their order.
      std::unique_lock<std::timed_mutex> handOver(handOver_, std::defer_lock);
      (void)handOver.try_lock_for(kHandOverWait);
      for (;;) {
        const int n = slots.Receive(fd_);
        if (n < 0) {
          if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
          queue_.Fail(ErrnoText("recvmmsg"));
          return;
        }
        for (int i = 0; i < n; ++i) {
          Message m;
          if (!Accept(slots, i, m)) continue;
          batchBytes += m.text.size();
          batch.push_back(std::move(m));
        }
        // Handed on in small batches: what waits here is outside the queue's bound.
        if (batch.size() >= kBatchMessages || batchBytes >= kBatchBytes) {
          queue_.PushAll(batch);
          batchBytes = 0;
        }
      }
      queue_.PushAll(batch);
      batchBytes = 0;
    }
  }

  // Several datagrams a call: a burst costs few system calls.
  struct Slots {
    Slots() : buffer(new char[kSlots * kSlotBytes]) {}  // untouched until used
    int Receive(int fd) {
      for (unsigned i = 0; i < kSlots; ++i) {
        iov[i] = {buffer.get() + i * kSlotBytes, kSlotBytes};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_name = &from[i];
        msgs[i].msg_hdr.msg_namelen = sizeof from[i];
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_control = control[i].bytes;
        msgs[i].msg_hdr.msg_controllen = sizeof control[i].bytes;
      }
      return recvmmsg(fd, msgs, kSlots, MSG_DONTWAIT, nullptr);
    }
    std::unique_ptr<char[]> buffer;
    mmsghdr msgs[kSlots];
    iovec iov[kSlots];
    sockaddr_un from[kSlots];
    struct {
      alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(ucred))];
    } control[kSlots];
  };

  // False for a datagram not to show: one without credentials, or another user's.
  bool Accept(Slots& slots, int i, Message& message) {
    msghdr& msg = slots.msgs[i].msg_hdr;
    bool verified = false;
    ucred cred{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
        std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
        verified = true;
      }
    }
    if (!anyUser_ && (!verified || cred.uid != ourUid_)) {
      ++otherUsers_;
      return false;
    }
    message.time = WallClockSeconds();
    message.text.assign(static_cast<const char*>(msg.msg_iov->iov_base), slots.msgs[i].msg_len);
    message.pid = static_cast<unsigned long>(cred.pid);
    message.tid = SenderThread(slots.from[i], msg.msg_namelen, message.pid);
    message.process = NameOf(message.pid);
    return true;
  }

  const std::string& NameOf(unsigned long pid) {
    if (lastName_ && pid == lastPid_) return *lastName_;
    auto found = names_.find(pid);
    if (found == names_.end()) found = names_.emplace(pid, pid ? ProcessName(pid) : "").first;
    lastPid_ = pid;
    lastName_ = &found->second;
    return found->second;
  }

  int fd_;
  std::string path_;
  dev_t dev_;
  ino_t ino_;
  bool anyUser_;
  bool replacedStale_;
  uid_t ourUid_ = geteuid();
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::atomic<long long> otherUsers_{0};
  std::unordered_map<unsigned long, std::string> names_;  // the reader thread's alone
  unsigned long lastPid_ = 0;
  const std::string* lastName_ = nullptr;
  MessageQueue queue_{kQueueLimitBytes, true};
  std::timed_mutex handOver_;  // taking lines and handing them on, for either channel
  std::thread reader_;
  std::string ringNote_;
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
  std::unique_ptr<vx380::posix::TraceRingListener> ring_;
  std::unique_ptr<RingFeed<vx380::posix::TraceRingListener>> feed_;
#endif
};

// A datagram socket file accepts a connect() only while some process has it bound.
bool SomeoneListens(const sockaddr_un& addr) {
  int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  bool live = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(probe);
  return live;
}

// Decides what to do with something already at the path: false (with failure
// filled) to leave it alone, true once the way is clear (replacedStale: by removing
// a socket of ours that nobody listens on any more).
bool ClearThePath(const std::string& path, const sockaddr_un& addr, OpenFailure& failure, bool& replacedStale) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  if (!S_ISSOCK(st.st_mode)) {
    failure = {kExitFailure, path + " exists and is not a socket; leaving it alone"};
    return false;
  }
  const bool live = SomeoneListens(addr);
  if (st.st_uid != geteuid()) {
    failure = {kExitBusy,
               path + (live ? " is held by another user (uid " : " is a stale socket of another user (uid ") +
                   std::to_string(st.st_uid) + "); vxtrace will not listen there. Remove it or pass --socket"};
    return false;
  }
  if (live) {
    failure = {kExitBusy,
               "another listener (probably vxtrace) already holds " + path + "; stop it first or pass --socket"};
    return false;
  }
  if (unlink(path.c_str()) != 0) {
    failure = {kExitFailure, ErrnoText("remove stale socket " + path)};
    return false;
  }
  replacedStale = true;
  return true;
}

// Binds with a umask that leaves the socket to its user alone: connecting needs write
// permission, and the lines are nobody else's business.
int BindPrivately(const std::string& path, const sockaddr_un& addr, OpenFailure& failure) {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = {kExitFailure, ErrnoText("socket")};
    return -1;
  }
  // Credentials are attached when a datagram is sent, and only if the receiver asks for them
  // then: asked for after bind(), what came in between would pass for a stranger's.
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    failure = {kExitFailure, ErrnoText("credentials for " + path)};
    close(fd);
    return -1;
  }
  const mode_t previous = umask(0177);
  const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  const int bindErrno = errno;
  umask(previous);
  if (bound != 0) {
    errno = bindErrno;
    bool busy = errno == EADDRINUSE;
    failure = {busy ? kExitBusy : kExitFailure,
               busy ? "another listener took " + path + " just now" : ErrnoText("bind " + path)};
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string DefaultSocketPath() {
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
  return vx380::posix::DebugSocketPath();
#else
  return "";
#endif
}

std::unique_ptr<Listener> OpenListener(const ListenOptions& options, OpenFailure& failure) {
  const std::string path = options.socketPath.empty() ? DefaultSocketPath() : options.socketPath;
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    failure = {kExitFailure, path.empty() ? "this build does not know the channel's path; pass --socket"
                                          : "socket path is too long: " + path};
    return nullptr;
  }
  bool replacedStale = false;
  if (!ClearThePath(path, addr, failure, replacedStale)) return nullptr;
  int fd = BindPrivately(path, addr, failure);
  if (fd < 0) return nullptr;
  // Bursts of trace lines queue here while the reader thread catches up.
  int size = 4 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    failure = {kExitFailure, ErrnoText("set up " + path)};
    unlink(path.c_str());
    close(fd);
    return nullptr;
  }
  auto listener = std::make_unique<SocketListener>(fd, path, st.st_dev, st.st_ino, options.anyUser, replacedStale);
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
  // Offered only once the socket is ours: a second vxtrace must not take the first one's ring.
  if (options.ring) listener->OfferRing(RingPathFor(path, path == DefaultSocketPath()));
#endif
  return listener;
}

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns so the flag is seen
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed pipe ends the output loop instead
}

bool Interrupted() { return gInterrupted; }

bool PrepareConsole() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !(noColor && *noColor) && !(term && std::strcmp(term, "dumb") == 0);
}

void KeepFilesPrivate() { umask(umask(0) | 077); }

double WallClockSeconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  // Whole microseconds: what a recording keeps, so a replay computes the same times.
  return static_cast<double>(static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000) / 1e6;
}

}  // namespace vxtrace
