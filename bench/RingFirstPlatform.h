// A platform for the benchmarks: the system's, with a ring writer tried first for debug
// output, as the channel does; `ring` off takes the channel as it was before the ring, where
// the platform has it apart (the system's own channel would find the listener's ring too).
#pragma once

#include <string_view>

#include "ForwardingPlatform.h"

namespace vx380::bench {

class RingFirstPlatform final : public testcases::ForwardingPlatform<> {
 public:
  using RingWrite = bool (*)(std::string_view line);
  using ChannelWrite = void (*)(std::string_view line);
  // `withoutRing`: the system's channel without its ring, for `ring` off.
  explicit RingFirstPlatform(RingWrite write, ChannelWrite withoutRing = nullptr)
      : write_(write), withoutRing_(withoutRing) {}
  bool ring = true;
  void WriteDebugLine(const std::string& ansi) override {
    if (!ring && withoutRing_) return withoutRing_(ansi);
    if (ring && write_(ansi)) return;
    to_.WriteDebugLine(ansi);
  }

 private:
  RingWrite write_;
  ChannelWrite withoutRing_;
};

}  // namespace vx380::bench
