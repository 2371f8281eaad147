#include "platform/posix/DescriptorPassing.h"

#include <sys/socket.h>

#include <cstring>

namespace vx380::posix {

namespace {
// The message with room for one descriptor; `byte` and `control` must outlive it.
msghdr OneDescriptorMessage(char& byte, iovec& data, char* control, std::size_t controlBytes) {
  data = {&byte, 1};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = controlBytes;
  return message;
}
}  // namespace

bool SendDescriptor(int socket, int fd) {
  char byte = 'R';
  iovec data{};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message = OneDescriptorMessage(byte, data, control, sizeof control);
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  return ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
}

UniqueFd ReceiveDescriptor(int socket, int flags) {
  char byte = 0;
  iovec data{};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message = OneDescriptorMessage(byte, data, control, sizeof control);
  if (::recvmsg(socket, &message, MSG_CMSG_CLOEXEC | flags) != 1) return {};
  const cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(sizeof(int)))
    return {};
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  return UniqueFd(fd);
}

}  // namespace vx380::posix
