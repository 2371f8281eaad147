// A traced host for the capture tests: THREADS threads, each with a socket bound to
// its own sender name as the library binds them, send a script of lines, waiting
// for room rather than dropping any.
//   channel_sender SOCKET THREADS numbered N   "RBDEBUG: <thread> <i>" for i < N
//   channel_sender SOCKET THREADS nested       nested and recursive routines, with a
//                                              multi-line message and an error
//   channel_sender SOCKET 0 once TEXT          TEXT once from an unbound socket
//   channel_sender SOCKET 0 as PID TID TEXT    TEXT once, claiming to be thread TID of PID
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vx380/TraceChannel.h"

namespace {

int Connect(const char* path, bool bindName, long pid = getpid(), long tid = syscall(SYS_gettid)) {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (bindName) {
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    std::string name = vx380::channel::SenderName(pid, tid);
    std::memcpy(self.sun_path + 1, name.data(), name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&self),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) != 0)
      std::perror("bind");
  }
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  std::strncpy(to.sun_path, path, sizeof to.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) std::perror("connect");
  return fd;
}

void Send(int fd, const std::string& text) {
  while (send(fd, text.data(), text.size(), 0) < 0) {
    if (errno != EINTR) {
      std::perror("send");
      return;
    }
  }
}

std::vector<std::string> Nested() {
  return {"RBDEBUG , BEG>>> , ........ , Main ,  , EOL \n",
          "RBDEBUG , BEG>>> , ........ , ..Load , disk , EOL \n",
          "RBDEBUG , L(10)  ,        4 ,     Load half\n",
          "RBDEBUG , END<<< ,       10 , ..Load ,  , EOL \n",
          "RBDEBUG , BEG>>> , ........ , ..Fib , 3 , EOL \n",
          "RBDEBUG , BEG>>> , ........ , ....Fib , 2 , EOL \n",
          "RBDEBUG , BEG>>> , ........ , ......Fib , 1 , EOL \n",
          "RBDEBUG , END<<< ,        2 , ......Fib ,  , EOL \n",
          "RBDEBUG , END<<< ,        5 , ....Fib ,  , EOL \n",
          "RBDEBUG , END<<< ,        9 , ..Fib ,  , EOL \n",
          "RBDEBUG: matrix\r\n| 1 , 0 |\r\n| 0 , 1 |\r\n\n",
          "ERROR: App - Main described as: late, Error Number is: 5\n",
          "RBDEBUG , END<<< ,       30 , Main ,  , EOL \n"};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* path = argv[1];
  const int threads = std::atoi(argv[2]);
  const std::string mode = argv[3];
  if (mode == "once" && argc > 4) {
    int fd = Connect(path, false);
    Send(fd, argv[4]);
    close(fd);
    return 0;
  }
  if (mode == "as" && argc > 6) {
    int fd = Connect(path, true, std::atol(argv[4]), std::atol(argv[5]));
    Send(fd, argv[6]);
    close(fd);
    return 0;
  }
  const long lines = argc > 4 ? std::atol(argv[4]) : 0;
  std::vector<std::thread> running;
  for (int t = 0; t < threads; ++t) {
    running.emplace_back([=] {
      int fd = Connect(path, true);
      if (mode == "numbered") {
        for (long i = 0; i < lines; ++i) Send(fd, "RBDEBUG: " + std::to_string(t) + " " + std::to_string(i) + "\n");
      } else {
        for (const std::string& line : Nested()) Send(fd, line);
      }
      close(fd);
    });
  }
  for (std::thread& t : running) t.join();
  return 0;
}
