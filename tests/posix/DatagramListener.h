// A datagram socket bound at a path, standing in for a debug channel listener: what came, and
// which abstract name sent each datagram.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace vx380::testing {

class DatagramListener {
 public:
  explicit DatagramListener(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~DatagramListener() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  DatagramListener(const DatagramListener&) = delete;
  DatagramListener& operator=(const DatagramListener&) = delete;
  bool bound() const { return bound_; }

  struct Datagram {
    std::string text;
    std::string sender;  // the abstract name without its leading NUL; "" when unbound
  };
  // What has come, after waiting up to waitMs for the first.
  std::vector<Datagram> Take(int waitMs = 200) {
    std::vector<Datagram> got;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return got;
    std::vector<char> buffer(1 << 17);
    while (true) {
      sockaddr_un from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) break;
      const std::size_t header = offsetof(sockaddr_un, sun_path) + 1;
      const std::size_t nameLength = length > header ? length - header : 0;
      got.push_back(
          {std::string(buffer.data(), static_cast<std::size_t>(n)), std::string(from.sun_path + 1, nameLength)});
    }
    return got;
  }
  // The texts of what has come.
  std::vector<std::string> Received(int waitMs = 200) {
    std::vector<std::string> texts;
    for (Datagram& d : Take(waitMs)) texts.push_back(std::move(d.text));
    return texts;
  }

 private:
  std::string path_;
  int fd_;
  bool bound_ = false;
};

}  // namespace vx380::testing
