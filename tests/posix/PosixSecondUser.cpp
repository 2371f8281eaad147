#include "PosixSecondUser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "vx380/ErrorLog.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testing {

namespace {

constexpr const char* kHelperVar = "VX380_TEST_HELPER";

// Helper "listen PATH": binds a datagram socket at PATH that anybody may send to, says
// "ready", and after a line on its standard input says how many datagrams came.
int ListenHelper(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 2;
  ::chmod(path.c_str(), 0777);
  std::printf("ready\n");
  std::fflush(stdout);
  char go[16];
  if (!std::fgets(go, sizeof go, stdin)) return 3;
  int count = 0;
  char buffer[70000];
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++count;
  std::printf("%d\n", count);
  ::unlink(path.c_str());
  return 0;
}

// Helper "errorlog APP": initialises APP with logging on and reports one error, listening on
// a socket of its own; prints the log's file name, then each line the debug channel carried.
int ErrorLogHelper(const std::string& app) {
  char dir[] = "/tmp/vx380-helper-XXXXXX";
  if (!::mkdtemp(dir)) return 2;
  const std::string path = std::string(dir) + "/debug.sock";
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 3;
  ::setenv("VX380_DEBUG_SOCKET", path.c_str(), 1);
  ErrorLog log;
  log.Initialize(FromUtf8(app), u"");
  log.ReportingLevel(mxReportingLevelLog);
  try {
    log.LogError(u"Helper", u"Disk full", u"", 0, 61);
  } catch (const AutomationError&) {
    return 4;
  }
  std::printf("%s\n", ToUtf8(log.LogFilename()).c_str());
  char buffer[70000];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0) std::printf("%.*s", static_cast<int>(n), buffer);
  ::unlink(path.c_str());
  ::rmdir(dir);
  return 0;
}

// Helper "socketpath": the debug socket's path, twice, with standard error in standard output.
int SocketPathHelper() {
  ::dup2(STDOUT_FILENO, STDERR_FILENO);
  for (int i = 0; i < 2; ++i) {
    const std::string path = posix::DebugSocketPath();
    std::fflush(stderr);
    std::printf("path=%s\n", path.c_str());
    std::fflush(stdout);
  }
  return 0;
}

// Runs a helper instead of the tests when the binary was started as one.
[[maybe_unused]] const bool kHelperRan = [] {
  const char* helper = std::getenv(kHelperVar);
  if (!helper || !*helper) return false;
  const std::string request = helper;
  const std::size_t space = request.find(' ');
  const std::string mode = request.substr(0, space);
  const std::string argument = space == std::string::npos ? "" : request.substr(space + 1);
  int status = 64;
  if (mode == "listen") status = ListenHelper(argument);
  if (mode == "errorlog") status = ErrorLogHelper(argument);
  if (mode == "socketpath") status = SocketPathHelper();
  std::fflush(stdout);
  std::_Exit(status);
}();

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Setpriv(unsigned uid) {
  const std::string id = std::to_string(uid);
  return "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups ";
}

}  // namespace

bool CanActAsAnotherUser() { return ::geteuid() == 0 && std::system("command -v setpriv >/dev/null") == 0; }

int ShellAs(unsigned uid, const std::string& command) {
  const int status = std::system((Setpriv(uid) + "sh -c " + Quoted(command)).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

HelperAs::HelperAs(unsigned uid, const std::string& mode, const std::string& argument,
                   const std::vector<std::string>& environment) {
  int toChild[2], fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return;
  char self[4096] = {};
  if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    ::setenv(kHelperVar, (mode + " " + argument).c_str(), 1);
    for (const std::string& entry : environment) {
      const std::size_t eq = entry.find('=');
      if (eq == std::string::npos) ::unsetenv(entry.c_str());
      else ::setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
    }
    const std::string id = std::to_string(uid);
    const std::string reuid = "--reuid=" + id, regid = "--regid=" + id;
    ::execlp("setpriv", "setpriv", reuid.c_str(), regid.c_str(), "--clear-groups", self, nullptr);
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
}

HelperAs::~HelperAs() {
  if (pid_ > 0) Wait(1000);
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
}

void HelperAs::Say(const std::string& line) {
  const std::string text = line + "\n";
  if (in_ >= 0) (void)!::write(in_, text.data(), text.size());
}

std::string HelperAs::ReadLine(int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (buffered_.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
    char chunk[256];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffered_.append(chunk, static_cast<std::size_t>(n));
  }
  const std::size_t end = buffered_.find('\n');
  std::string line = buffered_.substr(0, end);
  buffered_.erase(0, end + 1);
  return line;
}

int WaitWithin(pid_t pid, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int HelperAs::Wait(int waitMs) {
  if (pid_ <= 0) return -1;
  const int status = WaitWithin(pid_, waitMs);
  pid_ = -1;
  return status;
}

int InChildWithin(int waitMs, const std::function<int()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(work());
  return pid < 0 ? -1 : WaitWithin(pid, waitMs);
}

SharedFolder::SharedFolder() {
  ::chmod(scratch_.path().c_str(), 0755);
  shared_ = scratch_.File("shared");
  ::mkdir(shared_.c_str(), 0777);
  ::chmod(shared_.c_str(), 01777);
}

}  // namespace vx380::testing
