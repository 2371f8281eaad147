#include "BenchSupport.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace vx380::bench {

struct ChannelListener::Thread {
  std::atomic<bool> stop{false};
  std::thread worker;
};

ChannelListener::ChannelListener() : thread_(new Thread) {
  path_ = ScratchDirectory() + "/debug.sock";
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
  ::unlink(path_.c_str());
  ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int size = 8 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  timeval timeout{0, 100000};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setenv("VX380_DEBUG_SOCKET", path_.c_str(), 1);
  thread_->worker = std::thread([this] {
    char buffer[70000];
    while (!thread_->stop.load()) ::recv(fd_, buffer, sizeof buffer, 0);
  });
}

ChannelListener::~ChannelListener() {
  thread_->stop = true;
  thread_->worker.join();
  ::close(fd_);
  ::unlink(path_.c_str());
  delete thread_;
}

int ConnectedChannel(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

std::string ScratchDirectory() {
  static const std::string dir = [] {
    std::string templ = (std::filesystem::temp_directory_path() / "vx380-bench-XXXXXX").string();
    const char* made = ::mkdtemp(templ.data());
    std::string path = made ? made : "/tmp";
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDirectory(), ignored);
    });
    return path;
  }();
  return dir;
}

std::vector<Ratio>& Ratios() {
  static std::vector<Ratio> ratios;
  return ratios;
}

}  // namespace vx380::bench
