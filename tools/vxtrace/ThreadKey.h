// vxtrace: which writer a line came from: a thread, or a whole process where the
// channel does not tell threads apart (tid 0), or nobody known (pid 0).
#pragma once

#include <string>
#include <tuple>

namespace vxtrace {

struct ThreadKey {
  unsigned long pid = 0;
  unsigned long long tid = 0;
  ThreadKey(unsigned long p = 0, unsigned long long t = 0) : pid(p), tid(t) {}  // NOLINT
  bool operator<(const ThreadKey& o) const { return std::tie(pid, tid) < std::tie(o.pid, o.tid); }
  bool operator==(const ThreadKey& o) const { return pid == o.pid && tid == o.tid; }
  // "4242" or "4242/4243".
  std::string Label() const { return tid ? std::to_string(pid) + "/" + std::to_string(tid) : std::to_string(pid); }
};

}  // namespace vxtrace
