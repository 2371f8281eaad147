// What the trace ring takes from POSIX: the monotonic clock, futex wake-ups on the shared
// word, and where the ring lives.
#include <linux/futex.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include "platform/posix/PosixServices.h"
#include "platform/posix/TraceRingPosix.h"
#include "vx380/PosixPlatform.h"

namespace vx380::posix {

namespace {

// The time stamp counter is fit for stamps where it runs at one rate whatever the processor
// does (invariant) and the kernel keeps its monotonic clock on it: then the kernel found it
// in step across processors.
bool TimeStampCounterFit() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0x80000000u, &a, &b, &c, &d) || a < 0x80000007u) return false;
  if (!__get_cpuid(0x80000007u, &a, &b, &c, &d) || !(d & (1u << 8))) return false;
  std::FILE* f = std::fopen("/sys/devices/system/clocksource/clocksource0/current_clocksource", "re");
  if (!f) return false;
  char name[32] = {};
  const bool tsc = std::fgets(name, sizeof name, f) && std::strcmp(name, "tsc\n") == 0;
  std::fclose(f);
  return tsc;
#else
  return false;
#endif
}

class SystemForRing final : public channel::RingSystem {
 public:
  std::uint64_t NowNs() override {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
  }
  // The word lives in a mapping shared between processes: no FUTEX_PRIVATE_FLAG.
  void Wake(std::atomic<std::uint32_t>& word) override {
    const int saved = errno;
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
    errno = saved;
  }
  void Sleep(std::atomic<std::uint32_t>& word, std::uint32_t seen, std::uint32_t ms) override {
    const timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT, seen, &wait, nullptr, 0);
  }
  void Pause() override {
    const timespec brief{0, 20000};
    ::nanosleep(&brief, nullptr);
  }
  // Found out by whichever threads ask first, with no lock a fork could leave taken.
  bool HasTicks() override {
    int fit = fit_.load(std::memory_order_relaxed);
    if (fit == kUnknown) fit_.store(fit = TimeStampCounterFit() ? kFit : kUnfit, std::memory_order_relaxed);
    return fit == kFit;
  }
  std::uint64_t Ticks() override {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return NowNs();
#endif
  }

 private:
  enum { kUnknown, kFit, kUnfit };
  std::atomic<int> fit_{kUnknown};
};

}  // namespace

channel::RingSystem& PosixRingSystem() {
  static SystemForRing system;
  return system;
}

// The user's private directory; a writer only looks (create false), the listener makes it.
std::string RingRuntimeDir(bool create) {
  std::string dir, why;
  const bool ok = create ? PrivateRuntimeDir(dir, why) : ExistingPrivateRuntimeDir(dir);
  return ok ? dir : "";
}

std::string TraceRingPath(bool create) {
  const char* socket = std::getenv("VX380_DEBUG_SOCKET");
  if (socket && *socket) return std::string(socket) + ".ring";
  const std::string dir = RingRuntimeDir(create);
  return dir.empty() ? "" : dir + "/vx380-trace.ring";
}

}  // namespace vx380::posix
