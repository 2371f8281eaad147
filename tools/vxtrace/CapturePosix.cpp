// vxtrace on POSIX: binds the component's debug socket. The component sends one
// datagram per line without blocking and drops lines when nobody listens, so the
// listener only has to hold the path and read fast.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Capture.h"

#ifdef VXTRACE_PLATFORM_SOCKET_PATH
#include "vx380/PosixPlatform.h"
#endif

namespace vxtrace {
namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

// The kernel queues only a handful of datagrams per socket (net.unix.max_dgram_qlen,
// often 10) and the component drops a line rather than wait, so a reader thread does
// nothing but drain the socket into memory; parsing and printing happen elsewhere.
class SocketListener : public Listener {
 public:
  SocketListener(int fd, std::string path, dev_t dev, ino_t ino)
      : fd_(fd), path_(std::move(path)), dev_(dev), ino_(ino) {
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    reader_ = std::thread([this] { Drain(); });
  }

  ~SocketListener() override {
    stop_ = true;
    if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
    reader_.join();
    // Remove the path only while it is still ours: a later vxtrace may have
    // replaced it after finding this one gone.
    struct stat st;
    if (lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
      unlink(path_.c_str());
    close(fd_);
    for (int w : wake_)
      if (w >= 0) close(w);
  }

  WaitResult Wait(Message& message, int timeoutMs) override {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !queue_.empty() || !error_.empty(); }))
      return WaitResult::TimedOut;
    if (queue_.empty()) return WaitResult::Failed;
    message = std::move(queue_.front());
    queue_.pop_front();
    return WaitResult::Received;
  }

  std::string Describe() const override { return "listening on " + path_; }
  std::string LastError() const override {
    std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  void Drain() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);  // Ctrl-C is the main thread's business
    std::vector<char> buffer(256 * 1024);
    std::vector<Message> batch;
    while (!stop_) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(p, wake_[0] >= 0 ? 2 : 1, wake_[0] >= 0 ? -1 : 100) < 0 && errno != EINTR) {
        Fail(ErrnoText("poll"));
        return;
      }
      for (;;) {
        Message m;
        ssize_t n = Receive(buffer, m);
        if (n < 0) {
          if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
          Fail(ErrnoText("recvmsg"));
          return;
        }
        batch.push_back(std::move(m));
      }
      if (!batch.empty()) {
        std::lock_guard lock(mutex_);
        for (Message& m : batch) queue_.push_back(std::move(m));
        batch.clear();
        arrived_.notify_one();
      }
    }
  }

  ssize_t Receive(std::vector<char>& buffer, Message& message) {
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
#ifdef SCM_CREDENTIALS
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
#endif
    ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT);
    if (n < 0) return n;
    message.text.assign(buffer.data(), static_cast<size_t>(n));
#ifdef SCM_CREDENTIALS
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
        ucred cred;
        std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
        message.source = static_cast<unsigned long>(cred.pid);
      }
    }
#endif
    return n;
  }

  void Fail(std::string error) {
    std::lock_guard lock(mutex_);
    error_ = std::move(error);
    arrived_.notify_one();
  }

  int fd_;
  std::string path_;
  dev_t dev_;
  ino_t ino_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Message> queue_;
  std::string error_;
};

// A datagram socket file accepts a connect() only while some process has it bound.
bool SomeoneListens(const sockaddr_un& addr) {
  int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  bool live = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(probe);
  return live;
}

}  // namespace

std::string DefaultSocketPath() {
#ifdef VXTRACE_PLATFORM_SOCKET_PATH
  return vx380::posix::DebugSocketPath();
#else
  const char* explicitPath = std::getenv("VX380_DEBUG_SOCKET");
  if (explicitPath && *explicitPath) return explicitPath;
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir && *runtimeDir) return std::string(runtimeDir) + "/vx380-debug.sock";
  return "/tmp/vx380-debug-" + std::to_string(getuid()) + ".sock";
#endif
}

std::unique_ptr<Listener> OpenListener(const std::string& socketPath, OpenFailure& failure) {
  const std::string path = socketPath.empty() ? DefaultSocketPath() : socketPath;
  sockaddr_un addr;
  if (!FillAddress(path, addr)) {
    failure = {kExitFailure, "socket path is empty or too long: " + path};
    return nullptr;
  }

  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      failure = {kExitFailure, path + " exists and is not a socket; leaving it alone"};
      return nullptr;
    }
    if (SomeoneListens(addr)) {
      failure = {kExitBusy, "another listener (probably vxtrace) already holds " + path +
                                "; stop it first or pass --socket"};
      return nullptr;
    }
    unlink(path.c_str());  // stale: left behind by a listener that died
  }

  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = {kExitFailure, ErrnoText("socket")};
    return nullptr;
  }
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    bool busy = errno == EADDRINUSE;
    failure = {busy ? kExitBusy : kExitFailure,
               busy ? "another listener took " + path + " just now" : ErrnoText("bind " + path)};
    close(fd);
    return nullptr;
  }
  // Bursts of trace lines queue here while the terminal catches up.
  int size = 4 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
#ifdef SO_PASSCRED
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
#endif
  if (lstat(path.c_str(), &st) != 0) {
    failure = {kExitFailure, ErrnoText("stat " + path)};
    close(fd);
    return nullptr;
  }
  return std::make_unique<SocketListener>(fd, path, st.st_dev, st.st_ino);
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
  return isatty(STDOUT_FILENO) && !(noColor && *noColor) &&
         !(term && std::strcmp(term, "dumb") == 0);
}

}  // namespace vxtrace
