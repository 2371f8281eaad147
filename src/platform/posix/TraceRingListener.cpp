// The listener's side of the trace ring: makes the ring's memory, commits and seals it, hands
// it to writers of its own user over a socket, and reads records out.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>
#include <cerrno>
#include <cstring>

#include "platform/posix/DescriptorPassing.h"
#include "platform/posix/Owned.h"
#include "platform/posix/TraceRingPosix.h"

namespace vx380::posix {

namespace {

std::string Reason(const std::string& what, int error = errno) { return what + ": " + std::strerror(error); }

// Memory nobody can shrink or grow, with every page committed: a write into the ring can
// never fault, whatever anyone does to the file.
UniqueFd MakeSealedMemory(std::size_t bytes, std::string& error) {
  UniqueFd fd(::memfd_create("vx380-trace-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd) {
    error = Reason("cannot make the trace ring's memory");
    return {};
  }
  int failure = 0;
  if (::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) failure = errno;
  else failure = ::posix_fallocate(fd.get(), 0, static_cast<off_t>(bytes));
  if (failure == 0 && ::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) failure = errno;
  if (failure != 0) {
    error = Reason("cannot commit " + std::to_string(bytes >> 20) + " MiB for the trace ring", failure);
    return {};
  }
  return fd;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// A listening socket at `path`: made under a name of its own, for the user only, then moved
// over `path` (rename replaces a symlink or a stale socket, it does not follow it).
UniqueFd OfferSocket(const std::string& path, std::string& error) {
  const std::string temp = path + "." + std::to_string(::getpid()) + ".new";
  sockaddr_un address{};
  if (!FillAddress(temp, address)) {
    error = "the trace ring's socket path is too long: " + path;
    return {};
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (!fd) {
    error = Reason("cannot make the trace ring's socket");
    return {};
  }
  ::unlink(temp.c_str());
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(temp.c_str(), 0600) != 0 || ::listen(fd.get(), 128) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    error = Reason("cannot offer the trace ring at " + path);
    ::unlink(temp.c_str());
    return {};
  }
  return fd;
}

bool SameUser(int connection) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

}  // namespace

TraceRingListener::~TraceRingListener() { Close(); }

bool TraceRingListener::MakeRing(std::size_t bytes, std::string& error) {
  UniqueFd file = MakeSealedMemory(bytes, error);
  if (!file) return false;
  MappedView view(file.get(), bytes);
  if (!view) {
    error = Reason("cannot map the trace ring");
    return false;
  }
  channel::InitializeRing(view.get(), bytes, channel::MeasureTicksPerMs(PosixRingSystem()));
  reader_ = channel::RingReader{};
  if (!reader_.Attach(view.get(), bytes, PosixRingSystem())) {
    error = "cannot lay out the trace ring";
    return false;
  }
  std::lock_guard<std::mutex> guard(fileLock_);
  mapped_ = std::move(view);
  file_ = std::move(file);
  Offer(mapped_.get());
  return true;
}

void TraceRingListener::DropRing() {
  if (!Withdraw()) return;
  earlier_.dropped += reader_.Dropped();
  earlier_.holes += reader_.Holes();
  earlier_.lostEarlier += reader_.LostEarlier();
  if (reader_.Damaged()) {
    ++earlier_.damages;
    earlier_.lostToDamage += reader_.LostToDamage();
    lastDamage_.store(reader_.DamageCause(), std::memory_order_release);
  }
  std::lock_guard<std::mutex> guard(fileLock_);
  mapped_.reset();
  file_.reset();
}

bool TraceRingListener::Open(const std::string& path, std::size_t bytes, std::string& error) {
  Close();
  if (path.empty()) {
    error = "no private runtime folder for the trace ring";
    return false;
  }
  if (channel::RingCapacityFor(bytes) == 0) {
    error = "unsuitable ring size";
    return false;
  }
  if (!MakeRing(bytes, error)) return false;
  socket_ = OfferSocket(path, error);
  int wake[2];
  if (socket_ && ::pipe2(wake, O_CLOEXEC) == 0) {
    wakeRead_.reset(wake[0]);
    wakeWrite_.reset(wake[1]);
  } else {
    if (socket_) error = Reason("cannot make a pipe"), socket_.reset();
    DropRing();
    return false;
  }
  path_ = path;
  struct stat named {};
  if (::lstat(path.c_str(), &named) == 0) nodeDev_ = named.st_dev, nodeIno_ = named.st_ino;
  watched_.reserve(kMaxWriters + 2);
  watched_.assign({{wakeRead_.get(), POLLIN, 0}, {socket_.get(), POLLIN, 0}});
  started_.store(false, std::memory_order_relaxed);
  server_ = std::thread([this] { Serve(); });
  while (!started_.load(std::memory_order_acquire)) std::this_thread::yield();  // up before anyone forks
  return true;
}

// Replaces a ring the reader retired for damage by a fresh one of the same size.
bool TraceRingListener::Renew() {
  const std::size_t bytes = mapped_.size();
  DropRing();
  std::string error;
  return MakeRing(bytes, error);
}

std::size_t TraceRingListener::Poll(channel::RingReader::Sink sink, void* context, std::size_t limit) {
  const std::size_t delivered = channel::RingListener::Poll(sink, context, limit);
  if (is_open() && reader_.Damaged()) Renew();
  return delivered;
}

void TraceRingListener::Close() {
  if (server_.joinable()) {
    (void)!::write(wakeWrite_.get(), "x", 1);
    server_.join();
  }
  wakeRead_.reset();
  wakeWrite_.reset();
  if (socket_) {
    // Remove the name only while it is still ours: a newer listener may have replaced it.
    struct stat named {};
    if (::lstat(path_.c_str(), &named) == 0 && named.st_dev == nodeDev_ && named.st_ino == nodeIno_)
      ::unlink(path_.c_str());
    socket_.reset();
  }
  DropRing();
}

// Hands the ring to a writer of our own user; keeps the connection, whose end tells the
// writer when this listener is gone.
void TraceRingListener::Answer(int connection) {
  bool sent = false;
  if (SameUser(connection) && watched_.size() < watched_.capacity()) {
    std::lock_guard<std::mutex> guard(fileLock_);
    sent = file_ && SendDescriptor(connection, file_.get());
  }
  if (sent) watched_.push_back({connection, POLLIN | POLLRDHUP, 0});
  else ::close(connection);
}

// Allocates nothing (its room is made before it starts): a process that forks while this
// thread runs gives its child no allocator lock held.
void TraceRingListener::Serve() {
  started_.store(true, std::memory_order_release);
  for (;;) {
    if (::poll(watched_.data(), watched_.size(), -1) < 0 && errno != EINTR) break;
    if (watched_[0].revents) break;
    // A writer's process ended (or closed its end): its connection goes.
    for (std::size_t i = 2; i < watched_.size();) {
      if (!watched_[i].revents) {
        ++i;
        continue;
      }
      ::close(watched_[i].fd);
      watched_[i] = watched_.back();
      watched_.pop_back();
    }
    if (watched_[1].revents & POLLIN) {
      const int connection = ::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (connection >= 0) Answer(connection);
    }
    for (pollfd& entry : watched_) entry.revents = 0;
  }
  for (std::size_t i = 2; i < watched_.size(); ++i) ::close(watched_[i].fd);
  watched_.resize(2);
}

}  // namespace vx380::posix
