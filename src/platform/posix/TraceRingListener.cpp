// The listener's side of the trace ring: creates the ring file for the user only, holds the
// lock that tells writers somebody reads it, and reads records out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/TraceRingPosix.h"

namespace vx380::posix {

namespace {

std::string Reason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// A fresh file next to `path`, created 0600 whatever the umask, sized and locked.
int CreateRingFile(const std::string& path, std::size_t bytes, std::string& temp, std::string& error) {
  temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = Reason(("cannot create " + temp).c_str());
    return -1;
  }
  if (::fchmod(fd, 0600) != 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = Reason(("cannot prepare " + temp).c_str());
    ::close(fd);
    ::unlink(temp.c_str());
    return -1;
  }
  return fd;
}

}  // namespace

TraceRingListener::~TraceRingListener() { Close(); }

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
  std::string temp;
  const int fd = CreateRingFile(path, bytes, temp, error);
  if (fd < 0) return false;
  void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) {
    error = Reason("cannot map the trace ring");
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  channel::InitializeRing(base, bytes);
  // The name only ever shows a complete ring; rename replaces a symlink, it does not follow it.
  if (!reader_.Attach(base, bytes, PosixRingSystem()) || ::rename(temp.c_str(), path.c_str()) != 0) {
    error = Reason(("cannot offer the trace ring at " + path).c_str());
    ::munmap(base, bytes);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  path_ = path;
  fd_ = fd;
  bytes_ = bytes;
  Offer(base);
  return true;
}

void TraceRingListener::Close() {
  void* ring = Withdraw();
  if (!ring) return;
  // Remove the name only while it is still ours: a newer listener may have replaced it.
  struct stat mine{}, named{};
  if (::fstat(fd_, &mine) == 0 && ::lstat(path_.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
      mine.st_ino == named.st_ino)
    ::unlink(path_.c_str());
  ::munmap(ring, bytes_);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vx380::posix
