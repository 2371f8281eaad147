// The watch on the debug socket's folders: its thread, its folders and what a fork leaves of it.
#include "platform/posix/ListenerWatch.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace vx380::posix {

alignas(64) std::atomic<std::uint64_t> g_listenerWatchCount{0};

namespace {

// A listener binds its socket (a new name), moves one into place, or a socket changes hands;
// the folder itself goes away or moves.
constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr std::size_t kMaxFolders = 8;
constexpr std::size_t kMaxNames = 8;
// How long a quiet writer relies on the watch alone before it looks for itself again.
constexpr long long kUnseenChangeMs = 1000;
// A folder or a thread that could not be had is tried again after this long.
constexpr long long kRetryMs = 1000;

long long NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void MoveOn() { g_listenerWatchCount.fetch_add(1, std::memory_order_acq_rel); }

struct Folder {
  int wd;
  std::string path;
  std::vector<std::string> names;  // the socket names in it that writers look for
};

// Never destroyed: the thread may still use it while the process exits.
struct WatchState {
  std::mutex mutex;
  int inotify = -1;
  int wake = -1;  // an eventfd: a writer has begun to rely on the watch
  bool started = false;
  bool relied = false;  // since the count last moved on the clock
  long long startRefusedAt = 0;
  std::vector<Folder> folders;
  std::string refused;  // the folder last refused, and when
  long long refusedAt = 0;
};

WatchState& State() {
  static WatchState* const state = new WatchState;
  return *state;
}

// `close`: false when the descriptors may no longer be ours (closed under the thread, their
// numbers perhaps the host's by now).
void Drop(WatchState& st, bool close) {
  if (close && st.inotify >= 0) ::close(st.inotify);
  if (close && st.wake >= 0) ::close(st.wake);
  st.inotify = st.wake = -1;
  st.started = st.relied = false;
  st.folders.clear();
}

// Whether the events concern a socket name some writer looks for, or a folder as a whole.
bool Relevant(WatchState& st, const char* events, ssize_t size) {
  bool changed = false;
  std::lock_guard<std::mutex> lock(st.mutex);
  for (ssize_t at = 0; at < size;) {
    inotify_event event;
    std::memcpy(&event, events + at, sizeof event);
    const char* name = events + at + sizeof event;
    at += static_cast<ssize_t>(sizeof event + event.len);
    if (event.mask & IN_Q_OVERFLOW) changed = true;
    for (auto f = st.folders.begin(); f != st.folders.end();) {
      if (f->wd != event.wd) {
        ++f;
        continue;
      }
      if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        // Gone from the path it was watched by: a folder made there later is a new one.
        if (!(event.mask & IN_IGNORED)) ::inotify_rm_watch(st.inotify, f->wd);
        f = st.folders.erase(f);
        changed = true;
        continue;
      }
      if (event.len == 0 || std::find(f->names.begin(), f->names.end(), name) != f->names.end()) changed = true;
      ++f;
    }
  }
  return changed;
}

// The watch runs for microseconds when a listener comes. With a short time slice the kernel
// lets it run at once on a core where a host's thread traces without pause, instead of after that
// thread's slice, milliseconds later. Its policy and nice stay as the host left them; a kernel
// that takes no slice of a thread ignores it.
void AskForShortSlices() {
  constexpr std::uint64_t kSliceNs = 100 * 1000;
  SchedAttr attr{};
  if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.policy != SCHED_OTHER) return;
  attr.size = sizeof attr;
  attr.flags = 0;
  attr.runtime = kSliceNs;
  ::syscall(SYS_sched_setattr, 0, &attr, 0);
}

void* Watch(void*) {
  ::pthread_setname_np(::pthread_self(), "vx380-watch");
  AskForShortSlices();
  WatchState& st = State();
  const int inotify = st.inotify, wake = st.wake;
  alignas(inotify_event) char events[4096];
  long long until = 0;  // when the writers relying on the watch look again; 0: none relies
  for (;;) {
    pollfd fds[2] = {{inotify, POLLIN, 0}, {wake, POLLIN, 0}};
    const int timeout = until ? static_cast<int>(std::max(0LL, until - NowMs())) : -1;
    if (::poll(fds, 2, timeout) < 0 && errno != EINTR) break;
    if ((fds[0].revents | fds[1].revents) & (POLLNVAL | POLLERR)) break;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      if (::read(wake, &count, sizeof count) == sizeof count && !until) until = NowMs() + kUnseenChangeMs;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t got = ::read(inotify, events, sizeof events);
      if (got < 0 && errno != EINTR && errno != EAGAIN) break;
      if (got > 0 && Relevant(st, events, got)) MoveOn();
    }
    if (until && NowMs() >= until) {
      until = 0;
      {
        std::lock_guard<std::mutex> lock(st.mutex);
        st.relied = false;
      }
      MoveOn();
    }
  }
  // The watch is lost (its descriptors closed under it): writers go back to the clock.
  std::lock_guard<std::mutex> lock(st.mutex);
  Drop(st, false);
  MoveOn();
  return nullptr;
}

// A child has no watching thread: its writers look again, and the next one that finds
// nobody starts a watch of the child's own.
void PrepareFork() { State().mutex.lock(); }
void ParentAfterFork() { State().mutex.unlock(); }
void ChildAfterFork() {
  WatchState& st = State();
  Drop(st, true);
  st.mutex.unlock();
  MoveOn();
}

bool Start(WatchState& st) {
  if (st.started) return true;
  if (st.startRefusedAt && NowMs() - st.startRefusedAt < kRetryMs) return false;
  static std::once_flag atFork;
  std::call_once(atFork, [] { ::pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork); });
  st.inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  st.wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  bool made = false;
  if (st.inotify >= 0 && st.wake >= 0) {
    // The thread takes no signal the host directs at its process.
    sigset_t all, old;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    ::pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    made = ::pthread_create(&thread, &attr, Watch, nullptr) == 0;
    ::pthread_attr_destroy(&attr);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
  if (!made) {
    Drop(st, true);
    st.startRefusedAt = NowMs();
    return false;
  }
  st.started = true;
  return true;
}

// Adds a watch on `folder`, which must be its own real path: a symbolic link on the way could
// be turned elsewhere without the watched folder seeing it.
bool AddFolder(WatchState& st, const std::string& folder) {
  char* real = ::realpath(folder.c_str(), nullptr);
  const bool canonical = real && folder == real;
  std::free(real);
  if (!canonical) return false;
  const int wd = ::inotify_add_watch(st.inotify, folder.c_str(), kFolderEvents);
  if (wd < 0) return false;
  if (st.folders.size() >= kMaxFolders) {
    const int oldest = st.folders.front().wd;
    st.folders.erase(st.folders.begin());
    if (oldest != wd &&
        std::none_of(st.folders.begin(), st.folders.end(), [&](const Folder& f) { return f.wd == oldest; }))
      ::inotify_rm_watch(st.inotify, oldest);
  }
  st.folders.push_back(Folder{wd, folder, {}});
  return true;
}

}  // namespace

bool WatchSocketFolder(const char* socketPath) {
  if (!socketPath || socketPath[0] != '/') return false;  // a relative path follows the working folder
  const char* slash = std::strrchr(socketPath, '/');
  const std::string folder(socketPath, slash == socketPath ? 1 : static_cast<std::size_t>(slash - socketPath));
  const std::string name(slash + 1);
  if (name.empty()) return false;
  WatchState& st = State();
  std::lock_guard<std::mutex> lock(st.mutex);
  if (!Start(st)) return false;
  auto f = std::find_if(st.folders.begin(), st.folders.end(), [&](const Folder& x) { return x.path == folder; });
  if (f == st.folders.end()) {
    if (folder == st.refused && NowMs() - st.refusedAt < kRetryMs) return false;
    if (!AddFolder(st, folder)) {
      st.refused = folder;
      st.refusedAt = NowMs();
      return false;
    }
    f = st.folders.end() - 1;
    MoveOn();  // a look made before the watch cannot count on it
  }
  if (std::find(f->names.begin(), f->names.end(), name) == f->names.end()) {
    if (f->names.size() >= kMaxNames) f->names.erase(f->names.begin());
    f->names.push_back(name);
    MoveOn();  // changes to this name were not counted until now
  }
  if (!st.relied) {
    const std::uint64_t one = 1;
    if (::write(st.wake, &one, sizeof one) != sizeof one) return false;
    st.relied = true;
  }
  return true;
}

}  // namespace vx380::posix
