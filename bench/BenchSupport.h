// What the benchmarks share: a listener that drains the debug channel, a scratch directory,
// and the registry of baseline/candidate pairs whose time ratio the run reports.
#pragma once

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

// The best a raw writer can do: a datagram socket connected to the listener, blocking when the
// listener's queue is full (as the component waits for a slow listener).
int ConnectedChannel(const std::string& path);

// A fresh directory under the system's temporary folder, removed at exit.
std::string ScratchDirectory();

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
