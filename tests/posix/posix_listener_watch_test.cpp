// Nobody listening, known without a clock: whatever way a listener comes to the socket, and
// whatever the host does meanwhile (changes its environment, forks), its lines reach it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DatagramListener.h"
#include "PosixTestSupport.h"
#include "platform/posix/ListenerWatch.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

bool Heard() { return dynamic_cast<ListenerAwarePlatform&>(SystemPlatform()).DebugOutputHeard(); }

// Traces to nobody until the process knows it, as a host does between listeners.
void BecomeQuiet(ErrorLog& log) {
  for (int i = 0; i < 200 && Heard(); ++i) {
    log.DebugTrace(u"to nobody");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Traces until `listener` hears a line; false after `seconds`.
bool TracesUntilHeard(ErrorLog& log, DatagramListener& listener, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    log.DebugTrace(u"are you there");
    if (!listener.Take(1).empty()) return true;
  }
  return false;
}

struct Arrival {
  const char* how;
  // Puts a listener at `socket`, in a folder that is there and was traced to while quiet.
  std::function<std::unique_ptr<DatagramListener>(const std::string& folder, const std::string& socket)> come;
  void (*before)(const std::string& socket) = nullptr;  // what is there while quiet
};

// A socket file whose listener is gone, as one killed leaves it.
void LeaveASocketFile(const std::string& socket) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

TEST(ListenerWatch, AListenerThatComesToAQuietSocketIsHeardHoweverItComes) {
  const std::vector<Arrival> arrivals = {
      {"binds the socket",
       [](const std::string&, const std::string& socket) { return std::make_unique<DatagramListener>(socket); }},
      {"binds elsewhere in the folder and moves it into place",
       [](const std::string& folder, const std::string& socket) {
         auto listener = std::make_unique<DatagramListener>(folder + "/staging.sock");
         EXPECT_EQ(::rename((folder + "/staging.sock").c_str(), socket.c_str()), 0);
         return listener;
       }},
      {"takes the place of the socket file a listener left behind",
       [](const std::string&, const std::string& socket) {
         EXPECT_EQ(::unlink(socket.c_str()), 0);
         return std::make_unique<DatagramListener>(socket);
       },
       LeaveASocketFile},
      {"comes with a new folder in place of the old",
       [](const std::string& folder, const std::string& socket) {
         std::filesystem::remove_all(folder);
         std::filesystem::create_directory(folder);
         return std::make_unique<DatagramListener>(socket);
       }},
  };
  for (const Arrival& arrival : arrivals) {
    ScratchDir dir;
    const std::string folder = dir.File("run");
    std::filesystem::create_directory(folder);
    const std::string socket = folder + "/debug.sock";
    if (arrival.before) arrival.before(socket);
    ScopedEnv env("VX380_DEBUG_SOCKET", socket);
    ErrorLog log;
    BecomeQuiet(log);
    ASSERT_FALSE(Heard()) << arrival.how;
    auto listener = arrival.come(folder, socket);
    ASSERT_TRUE(listener->bound()) << arrival.how;
    EXPECT_TRUE(TracesUntilHeard(log, *listener)) << arrival.how;
  }
}

TEST(ListenerWatch, ASocketInAFolderThatIsNotThereYetIsHeardOnceItIs) {
  ScratchDir dir;
  const std::string folder = dir.File("later");
  ScopedEnv env("VX380_DEBUG_SOCKET", folder + "/debug.sock");
  ErrorLog log;
  BecomeQuiet(log);
  std::filesystem::create_directory(folder);
  DatagramListener listener(folder + "/debug.sock");
  EXPECT_TRUE(TracesUntilHeard(log, listener));
}

// A folder higher up the path renamed, and the path made again: the watched folder saw
// nothing, so only the watch's second-long limit on what a writer relies on finds the listener.
TEST(ListenerWatch, ASocketBehindAFolderRenamedHigherUpIsHeardWithinASecond) {
  ScratchDir dir;
  const std::string folder = dir.File("top/run");
  std::filesystem::create_directories(folder);
  ScopedEnv env("VX380_DEBUG_SOCKET", folder + "/debug.sock");
  ErrorLog log;
  BecomeQuiet(log);
  ASSERT_FALSE(Heard());
  std::filesystem::rename(dir.File("top"), dir.File("top.old"));
  std::filesystem::create_directories(folder);
  DatagramListener listener(folder + "/debug.sock");
  ASSERT_TRUE(listener.bound());
  EXPECT_TRUE(TracesUntilHeard(log, listener));
}

// The process knows nobody listens at one socket; a host that names another, where someone
// listens, is heard at its very next line, on any thread.
TEST(ListenerWatch, AChangedEnvironmentIsFollowedAtTheNextLine) {
  ScratchDir dir;
  DatagramListener listener(dir.File("listening.sock"));
  ScopedEnv env("VX380_DEBUG_SOCKET", dir.File("nobody.sock"));
  ErrorLog log;
  BecomeQuiet(log);
  ASSERT_FALSE(Heard());
  {
    ScopedEnv to("VX380_DEBUG_SOCKET", dir.File("listening.sock"));
    log.DebugTrace(u"from this thread");
    std::thread([&] { log.DebugTrace(u"from another"); }).join();
    EXPECT_EQ(listener.Received(), (std::vector<std::string>{"from this thread\n", "from another\n"}));
  }
  BecomeQuiet(log);
  ASSERT_FALSE(Heard());
  {
    ScopedEnv unset("VX380_DEBUG_SOCKET", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
    DatagramListener inRuntime(dir.File("vx380-debug.sock"));
    log.DebugTrace(u"to the runtime folder");
    EXPECT_EQ(inRuntime.Received(), std::vector<std::string>{"to the runtime folder\n"});
  }
}

// A child has none of its parent's threads, the watch's among them: what the parent knew of
// nobody listening must not keep the child quiet.
TEST(ListenerWatch, AChildOfAQuietProcessHearsAListenerItStarts) {
  ScratchDir dir;
  const std::string socket = dir.File("debug.sock");
  ScopedEnv env("VX380_DEBUG_SOCKET", socket);
  ErrorLog log;
  BecomeQuiet(log);
  ASSERT_FALSE(Heard());
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DatagramListener listener(socket);
    ::_exit(listener.bound() && TracesUntilHeard(log, listener) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// The /proc/self/task folders of the process's watch threads.
std::vector<std::string> Watchers() {
  std::vector<std::string> watchers;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string comm;
    std::getline(std::ifstream(task.path() / "comm"), comm);
    if (comm == "vx380-watch") watchers.push_back(task.path());
  }
  return watchers;
}

// The watch runs on a thread of its own, one per process however many folders it watches;
// signals the host sends its process are never handled there.
TEST(ListenerWatch, OneThreadThatTakesNoSignalOfTheHosts) {
  ErrorLog log;
  std::vector<std::unique_ptr<ScratchDir>> dirs;
  for (int i = 0; i < 3; ++i) {
    dirs.push_back(std::make_unique<ScratchDir>());
    ScopedEnv env("VX380_DEBUG_SOCKET", dirs.back()->File("debug.sock"));
    BecomeQuiet(log);
  }
  const std::vector<std::string> watchers = Watchers();
  ASSERT_EQ(watchers.size(), 1u);
  std::ifstream status(watchers[0] + "/status");
  unsigned long long blocked = 0;
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigBlk:", 0) == 0) blocked = std::stoull(line.substr(7), nullptr, 16);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD, SIGPIPE})
    EXPECT_TRUE(blocked & (1ull << (sig - 1))) << "signal " << sig;
}

posix::SchedAttr SchedulingOf(pid_t tid) {
  posix::SchedAttr attr{};
  attr.size = sizeof attr;
  if (::syscall(SYS_sched_getattr, tid, &attr, sizeof attr, 0) != 0) attr.size = 0;
  return attr;
}

// The watch asks for short time slices, so that it is not kept waiting behind a thread that
// traces without pause; the host's niceness and policy it keeps. In a child, whose niceness is
// its own and which starts its own watch.
TEST(ListenerWatch, TheWatchRunsAtOnceYetNoHigherThanTheHostPutIt) {
  ScratchDir dir;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setpriority(PRIO_PROCESS, 0, 7) != 0) ::_exit(2);
    // A kernel that keeps a slice asked of a fair thread says so, asked on a thread of its own:
    // the one that starts the watch passes its own on.
    bool slices = false;
    std::thread([&] {
      posix::SchedAttr probe = SchedulingOf(0);
      probe.runtime = 100 * 1000;
      slices = ::syscall(SYS_sched_setattr, 0, &probe, 0) == 0 && SchedulingOf(0).runtime == 100 * 1000;
    }).join();
    ErrorLog log;
    ScopedEnv env("VX380_DEBUG_SOCKET", dir.File("debug.sock"));
    BecomeQuiet(log);
    // A start the parent saw refused a moment ago (another test ran it out of descriptors) is
    // tried again a second later: the child goes on tracing to nobody until its watch runs.
    for (int i = 0; i < 600 && Watchers().size() != 1; ++i) {
      log.DebugTrace(u"to nobody");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::vector<std::string> watchers = Watchers();
    if (watchers.size() != 1) ::_exit(3);
    const posix::SchedAttr watch = SchedulingOf(std::stoi(std::filesystem::path(watchers[0]).filename()));
    if (watch.size == 0) ::_exit(4);
    if (watch.policy != SCHED_OTHER || watch.nice != 7) ::_exit(5);
    ::_exit(slices && watch.runtime != 100 * 1000 ? 6 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
}  // namespace vx380::testing
