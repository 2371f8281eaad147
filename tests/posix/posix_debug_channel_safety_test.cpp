// The debug channel on a shared machine: only the user's own listener gets the lines, one
// stalled listener costs only its own lines, threads are told apart by their socket's name,
// and any number of threads holds a bounded number of descriptors.
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <thread>
#include <vector>

#include "DatagramListener.h"
#include "PosixSecondUser.h"
#include "vx380/Platform.h"
#include "vx380/TraceChannel.h"

namespace vx380::testing {
namespace {

void Trace(const std::string& line) { SystemPlatform().WriteDebugLine(line); }

TEST(DebugChannelSafety, AnotherUsersSocketAtThePathReceivesNothing) {
  if (!CanActAsAnotherUser()) GTEST_SKIP() << "needs root to act as a second user (setpriv)";
  SharedFolder folder;
  const std::string path = folder.File("debug.sock");
  HelperAs other(kOtherUid, "listen", path);
  ASSERT_EQ(other.ReadLine(), "ready");

  // The other user's socket does take datagrams: one sent to it directly arrives.
  const int raw = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::sendto(raw, "x", 1, 0, reinterpret_cast<sockaddr*>(&address), sizeof address), 1);
  ::close(raw);

  ScopedEnv socket("VX380_DEBUG_SOCKET", path);
  for (int i = 0; i < 50; ++i) Trace("ERROR: secret " + std::to_string(i) + "\n");
  std::thread([] { Trace("ERROR: from another thread\n"); }).join();
  std::vector<std::thread> many;  // beyond the per-thread sockets, on the shared one
  for (int i = 0; i < 80; ++i) many.emplace_back([] { Trace("ERROR: from one of many\n"); });
  for (auto& t : many) t.join();
  other.Say("count");
  EXPECT_EQ(other.ReadLine(), "1") << "only the datagram sent to it on purpose";
  EXPECT_EQ(other.Wait(), 0);
}

// However many listeners the process wrote to before.
TEST(DebugChannelSafety, AStalledListenerCostsAHealthyOneNoLine) {
  ScratchDir dir;
  for (int i = 0; i < 100; ++i) {
    const std::string path = dir.File("earlier" + std::to_string(i) + ".sock");
    DatagramListener earlier(path);
    ScopedEnv socket("VX380_DEBUG_SOCKET", path);
    Trace("to an earlier one\n");
  }
  DatagramListener deaf(dir.File("deaf.sock")), healthy(dir.File("healthy.sock"));
  ASSERT_TRUE(deaf.bound() && healthy.bound());
  constexpr int kLines = 300;
  std::vector<std::string> got;
  std::atomic<bool> done{false};
  // Every line is queued before done is set, so the take after seeing it gets all the rest.
  std::thread reader([&] {
    for (bool last = false; got.size() < kLines && !last;) {
      last = done.load();
      for (auto& d : healthy.Take(last ? 0 : 20)) got.push_back(d.text);
    }
  });
  for (int i = 0; i < kLines; ++i) {
    {
      ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("deaf.sock"));
      Trace("to the deaf one\n");
    }
    ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("healthy.sock"));
    Trace("line " + std::to_string(i) + "\n");
  }
  done = true;
  reader.join();
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kLines));
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(got[i], "line " + std::to_string(i) + "\n");
  EXPECT_FALSE(deaf.Take(0).empty());
}

TEST(DebugChannelSafety, EachThreadsLinesComeFromANameThatTellsTheThread) {
  ScratchDir dir;
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("names.sock"));
  DatagramListener listener(dir.File("names.sock"));
  long tid = 0;
  std::thread([&] {
    tid = ::gettid();
    Trace("named\n");
  }).join();
  auto got = listener.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].sender, channel::SenderName(::getpid(), tid));

  // A name somebody else holds already: the thread's lines come from the shared, unnamed socket.
  std::thread([&] {
    const int squatter = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::string name = channel::SenderName(::getpid(), ::gettid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    ASSERT_EQ(::bind(squatter, reinterpret_cast<sockaddr*>(&address),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
              0);
    Trace("unnamed\n");
    ::close(squatter);
  }).join();
  got = listener.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "unnamed\n");
  EXPECT_EQ(got[0].sender, "");

  // A child after fork sends under its own process's name.
  Trace("parent\n");
  listener.Take();
  const int child = InChildWithin(3000, [] {
    Trace("child\n");
    return 0;
  });
  EXPECT_EQ(child, 0);
  got = listener.Take();
  ASSERT_EQ(got.size(), 1u);
  long pid = 0, childTid = 0;
  ASSERT_TRUE(channel::ParseSenderName(got[0].sender, pid, childTid)) << got[0].sender;
  EXPECT_NE(pid, ::getpid());
}

// Descriptors open now; a great many when not even the count can be taken.
int OpenDescriptors() {
  std::error_code error;
  std::filesystem::directory_iterator fds("/proc/self/fd", error);
  return error ? 1 << 20 : static_cast<int>(std::distance(fds, {}));
}

// In a child: 1,100 threads that all trace while all alive, under a 1,024 descriptor limit.
// 0 when the process could still open files; 10 + n for n descriptors over the bound.
int ManyThreadsUnderTheLimit() {
  const rlimit limit{1024, 1024};
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
  constexpr int kThreads = 1100;
  const int before = OpenDescriptors();
  pthread_barrier_t traced, release;
  pthread_barrier_init(&traced, nullptr, kThreads + 1);
  pthread_barrier_init(&release, nullptr, kThreads + 1);
  struct Shared {
    pthread_barrier_t* traced;
    pthread_barrier_t* release;
  } shared{&traced, &release};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 128 * 1024);
  std::vector<pthread_t> threads(kThreads);
  for (pthread_t& t : threads) {
    if (pthread_create(
            &t, &attr,
            [](void* arg) -> void* {
              auto* s = static_cast<Shared*>(arg);
              Trace("RBDEBUGENTER one of many\n");
              pthread_barrier_wait(s->traced);
              pthread_barrier_wait(s->release);
              return nullptr;
            },
            &shared) != 0)
      return 3;
  }
  pthread_barrier_wait(&traced);
  const int held = OpenDescriptors() - before;
  const int file = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  pthread_barrier_wait(&release);
  for (pthread_t& t : threads) pthread_join(t, nullptr);
  if (file < 0) return 4;
  ::close(file);
  constexpr int kBound = 64 + 1;  // the threads' own sockets and the shared one
  return held > kBound ? 10 + (held - kBound) : 0;
}

TEST(DebugChannelSafety, ManyThreadsHoldABoundedNumberOfDescriptors) {
  ScratchDir dir;
  ScopedEnv socket("VX380_DEBUG_SOCKET", dir.File("many.sock"));
  DatagramListener listener(dir.File("many.sock"));
  // Forked before the reader thread starts: a thread inside the allocator at the fork would
  // leave the child a lock it can never take.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(ManyThreadsUnderTheLimit());
  ASSERT_GT(child, 0);
  std::atomic<bool> done{false};
  std::size_t received = 0;
  std::thread reader([&] {
    while (!done) received += listener.Take(20).size();
  });
  // 1,100 threads under a sanitizer on a busy machine: minutes, not seconds.
  const int result = WaitWithin(child, 240000);
  done = true;
  reader.join();
  EXPECT_EQ(result, 0) << "4: no file could be opened; 10 + n: n descriptors over the bound; -1: hung";
  EXPECT_GT(received, 0u);
}

}  // namespace
}  // namespace vx380::testing
