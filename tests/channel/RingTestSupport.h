// A sink that keeps what a ring's reader delivers.
#pragma once

#include <string>
#include <vector>

#include "channel/TraceRing.h"

namespace vx380::testing {

struct Captured {
  std::uint32_t pid;
  std::uint32_t tid;
  std::uint64_t timeNs;
  std::string text;
};

struct Collector {
  std::vector<Captured> lines;
  static void Sink(void* context, const channel::RingRecord& r) {
    static_cast<Collector*>(context)->lines.push_back({r.pid, r.tid, r.timeNs, std::string(r.text)});
  }
};

}  // namespace vx380::testing
