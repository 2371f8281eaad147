// What the benchmarks share: a listener that drains the debug channel (socket or ring), a
// scratch directory, and the registry of baseline/candidate pairs whose time ratio the run
// reports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx380::bench {

// Binds a private debug socket (and points the component at it) and drains it on a thread.
class ChannelListener {
 public:
  ChannelListener();
  ~ChannelListener();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  struct Thread;
  Thread* thread_;
};

// Offers the trace ring where the component looks for it (next to the socket $VX380_DEBUG_SOCKET
// names, so make a ChannelListener first) and drains it on a thread.
class RingListener {
 public:
  RingListener();
  ~RingListener();
  std::uint64_t lines() const;
  std::uint64_t dropped() const;

 private:
  struct Thread;
  std::unique_ptr<Thread> thread_;
};

// The best a raw writer can do: a datagram socket connected to the listener, blocking when the
// listener's queue is full (as the component waits for a slow listener).
int ConnectedChannel(const std::string& path);

// A fresh directory under the system's temporary folder, removed at exit.
std::string ScratchDirectory();

// A pair measured interleaved: each round times a batch of calls of one side, then of the
// other (alternating which goes first), and the ratio reported is the median over the rounds
// of the candidate's batch time over the baseline's, with its spread. Batches a few
// milliseconds apart see the same load, so this holds steady on a busy machine where the
// ratio of two separately measured medians wanders.
struct PairSides {
  std::function<void()> candidate;  // one call each
  std::function<void()> baseline;
  std::shared_ptr<void> state;  // what both sides use, released when the pair is done
  std::string skipped{};        // why the pair cannot run here; then nothing else is set
};
struct Pair {
  std::string candidate;
  std::string baseline;
  double target;
  std::function<PairSides()> setUp;
  // 0: a side's batch runs on the measuring thread and is timed by the clock. N: it runs on
  // N threads at once and its time is their processor time per call, so that sides with
  // more threads than cores still compare by the work each event costs.
  int candidateThreads = 0;
  int baselineThreads = 0;
  // The threads are started afresh for every batch, so that each one's first call counts;
  // or they live across the rounds, as a host's threads do, and only their calls count.
  bool threadsLive = false;
};
std::vector<Pair>& Pairs();
struct RegisterPair {
  RegisterPair(std::string candidate, std::string baseline, double target, std::function<PairSides()> setUp,
               int candidateThreads = 0, int baselineThreads = 0, bool threadsLive = false) {
    Pairs().push_back({std::move(candidate), std::move(baseline), target, std::move(setUp), candidateThreads,
                       baselineThreads, threadsLive});
  }
};
struct PairResult {
  double median, p25, p75, min, max;
  double candidateNs, baselineNs;              // medians per call
  double candidateSwitches, baselineSwitches;  // the process's context switches per call
  std::string skipped{};
};
PairResult RunPair(const Pair& pair, int rounds, int calls);

// Ratios of two Google Benchmark medians (--benchmark_repetitions), for benchmarks that do
// not fit a pair.
struct Ratio {
  std::string candidate;
  std::string baseline;
  double target;
};
std::vector<Ratio>& Ratios();
struct RegisterRatio {
  RegisterRatio(std::string candidate, std::string baseline, double target) {
    Ratios().push_back({std::move(candidate), std::move(baseline), target});
  }
};

}  // namespace vx380::bench
