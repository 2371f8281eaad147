#include "BenchSupport.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/posix/TraceRingPosix.h"

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

constexpr std::size_t kRingBytes = vx380::channel::kRingHeaderBytes + (std::size_t{4} << 20);

struct RingListener::Thread {
  vx380::posix::TraceRingListener ring;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> lines{0};
  std::thread worker;
};

RingListener::RingListener() : thread_(new Thread) {
  std::string error;
  // The size vxtrace offers: a ring that fits the caches costs its writers less.
  if (!thread_->ring.Open(vx380::posix::TraceRingPath(), kRingBytes, error)) {
    std::fprintf(stderr, "vx380_bench: no trace ring: %s\n", error.c_str());
    std::exit(1);
  }
  thread_->worker = std::thread([t = thread_.get()] {
    auto count = [](void* context, const vx380::channel::RingRecord&) {
      static_cast<std::atomic<std::uint64_t>*>(context)->fetch_add(1, std::memory_order_relaxed);
    };
    while (!t->stop.load())
      if (t->ring.Poll(count, &t->lines) == 0) t->ring.Wait(10);
  });
}

RingListener::~RingListener() {
  thread_->stop = true;
  thread_->worker.join();
  thread_->ring.Close();
}

std::uint64_t RingListener::lines() const { return thread_->lines.load(); }
std::uint64_t RingListener::dropped() const { return thread_->ring.Dropped(); }

int ConnectedChannel(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

// Never destroyed: the clean-up at exit still needs the name.
std::string ScratchDirectory() {
  static const std::string& dir = *new std::string([] {
    std::string templ = (std::filesystem::temp_directory_path() / "vx380-bench-XXXXXX").string();
    const char* made = ::mkdtemp(templ.data());
    std::string path = made ? made : "/tmp";
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDirectory(), ignored);
    });
    return path;
  }());
  return dir;
}

std::vector<Pair>& Pairs() {
  static std::vector<Pair> pairs;
  return pairs;
}

namespace {
// Context switches of the whole process, the listener threads' included.
long Switches() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

double BatchNs(const std::function<void()>& call, int calls, long& switches) {
  const long before = Switches();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) call();
  const auto end = std::chrono::steady_clock::now();
  switches += Switches() - before;
  return std::chrono::duration<double, std::nano>(end - start).count();
}

double ThreadCpuNs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e9 + now.tv_nsec;
}

// Threads that run each batch together, `calls` calls on each, and give their processor time
// per thread, so that a batch compares with one thread's batch of the same calls. They live
// until the crew ends: across batches, or for one batch only.
class Crew {
 public:
  explicit Crew(int threads) : spent_(threads) {
    for (int t = 0; t < threads; ++t) threads_.emplace_back([this, t] { Serve(t); });
  }
  ~Crew() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    start_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  double BatchNs(const std::function<void()>& call, int calls, long& switches) {
    const long before = Switches();
    std::unique_lock<std::mutex> lock(mutex_);
    call_ = &call;
    calls_ = calls;
    finished_ = 0;
    ready_ = 0;
    ++generation_;
    start_.notify_all();
    done_.wait(lock, [&] { return finished_ == static_cast<int>(threads_.size()); });
    switches += Switches() - before;
    double total = 0;
    for (double ns : spent_) total += ns;
    return total / static_cast<double>(threads_.size());
  }

 private:
  void Serve(int t) {
    unsigned seen = 0;
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      const std::function<void()>& call = *call_;
      const int calls = calls_;
      lock.unlock();
      ready_.fetch_add(1);
      while (ready_.load() < static_cast<int>(threads_.size())) std::this_thread::yield();
      const double start = ThreadCpuNs();
      for (int i = 0; i < calls; ++i) call();
      spent_[t] = ThreadCpuNs() - start;
      lock.lock();
      if (++finished_ == static_cast<int>(threads_.size())) done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable start_, done_;
  const std::function<void()>* call_ = nullptr;
  int calls_ = 0, finished_ = 0;
  unsigned generation_ = 0;
  bool stop_ = false;
  std::atomic<int> ready_{0};
  std::vector<double> spent_;
  std::vector<std::thread> threads_;
};

// A batch on `threads` threads started for it alone, their start and end counted in the
// process's switches.
double ThreadedBatchNs(const std::function<void()>& call, int calls, int threads, long& switches) {
  const long before = Switches();
  long inBatch = 0;
  double ns = 0;
  {
    Crew crew(threads);
    ns = crew.BatchNs(call, calls, inBatch);
  }
  switches += Switches() - before;
  return ns;
}

double SideNs(const std::function<void()>& call, int calls, int threads, Crew* crew, long& switches) {
  if (crew) return crew->BatchNs(call, calls, switches);
  return threads == 0 ? BatchNs(call, calls, switches) : ThreadedBatchNs(call, calls, threads, switches);
}

double At(const std::vector<double>& sorted, double q) {
  return sorted.empty() ? 0 : sorted[static_cast<std::size_t>(q * (sorted.size() - 1) + 0.5)];
}
}  // namespace

PairResult RunPair(const Pair& pair, int rounds, int calls) {
  PairSides sides = pair.setUp();
  if (!sides.skipped.empty()) return PairResult{0, 0, 0, 0, 0, 0, 0, 0, 0, sides.skipped};
  long candidateSwitches = 0, baselineSwitches = 0;
  std::unique_ptr<Crew> candidateCrew, baselineCrew;
  if (pair.threadsLive && pair.candidateThreads) candidateCrew = std::make_unique<Crew>(pair.candidateThreads);
  if (pair.threadsLive && pair.baselineThreads) baselineCrew = std::make_unique<Crew>(pair.baselineThreads);
  const auto candidateNs = [&] {
    return SideNs(sides.candidate, calls, pair.candidateThreads, candidateCrew.get(), candidateSwitches);
  };
  const auto baselineNs = [&] {
    return SideNs(sides.baseline, calls, pair.baselineThreads, baselineCrew.get(), baselineSwitches);
  };
  candidateNs();  // first-call costs: lookups, connections, caches
  baselineNs();
  candidateSwitches = baselineSwitches = 0;
  std::vector<double> quotients, candidate, baseline;
  for (int round = 0; round < rounds; ++round) {
    double c, b;
    if (round % 2) {
      b = baselineNs();
      c = candidateNs();
    } else {
      c = candidateNs();
      b = baselineNs();
    }
    quotients.push_back(c / b);
    candidate.push_back(c / calls);
    baseline.push_back(b / calls);
  }
  std::sort(quotients.begin(), quotients.end());
  std::sort(candidate.begin(), candidate.end());
  std::sort(baseline.begin(), baseline.end());
  const double allCalls = double(rounds) * calls;
  return {At(quotients, 0.5),         At(quotients, 0.25), At(quotients, 0.75), quotients.front(),
          quotients.back(),           At(candidate, 0.5),  At(baseline, 0.5),   candidateSwitches / allCalls,
          baselineSwitches / allCalls};
}

std::vector<Ratio>& Ratios() {
  static std::vector<Ratio> ratios;
  return ratios;
}

}  // namespace vx380::bench
