// What the trace ring takes from Windows: the performance counter as its clock, and an
// auto-reset event to wake the reader. Internal to src/platform/win32.
#pragma once

#include "Win32Platform.h"
#include "channel/TraceRing.h"

namespace vx380::win32 {

// Nanoseconds of the performance counter, the same in every process.
inline std::uint64_t RingClockNs() {
  static const std::uint64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<std::uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
  return ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
}

// A security identifier of this process's token (TokenUser or TokenOwner); sid null if unknown.
class TokenSid {
 public:
  explicit TokenSid(TOKEN_INFORMATION_CLASS what);
  PSID sid = nullptr;

 private:
  alignas(8) unsigned char buffer_[256];
};

class EventRingSystem final : public channel::RingSystem {
 public:
  HANDLE event = nullptr;
  std::uint64_t NowNs() override { return RingClockNs(); }
  void Wake(std::atomic<std::uint32_t>&) override {
    if (event) ::SetEvent(event);
  }
  void Sleep(std::atomic<std::uint32_t>& word, std::uint32_t seen, std::uint32_t ms) override {
    if (event && word.load(std::memory_order_acquire) == seen) ::WaitForSingleObject(event, ms);
  }
  void Pause() override {
    if (!::SwitchToThread()) ::Sleep(0);
  }
};

}  // namespace vx380::win32
