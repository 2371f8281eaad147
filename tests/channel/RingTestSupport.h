// A ring in ordinary memory, and a sink that keeps what a reader delivers.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "channel/TraceRing.h"

namespace vx380::testing {

struct Region {
  explicit Region(std::size_t size) : bytes(size), base(std::aligned_alloc(4096, (size + 4095) / 4096 * 4096)) {
    channel::InitializeRing(base, bytes);
  }
  ~Region() { std::free(base); }
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  std::size_t bytes;
  void* base;
};

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
