// A trace-ring listener in a process of its own, for the test of a listener that dies: offers
// the ring (named by VX380_TRACE_RING), says "ready", takes exactly COUNT lines, says
// "read COUNT", and then reads no more until it is killed.
//   vx380_win_ring_listener.exe COUNT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/TraceRingWin32.h"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  const std::size_t count = std::strtoul(argv[1], nullptr, 10);
  vx380::win32::TraceRingListener listener;
  std::string error;
  if (!listener.Open(error)) {
    std::printf("cannot listen: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::size_t read = 0;
  auto ignore = [](void*, const vx380::channel::RingRecord&) {};
  while (read < count) {
    const std::size_t got = listener.Poll(ignore, nullptr, count - read);
    read += got;
    if (got == 0) listener.Wait(10);
  }
  std::printf("read %zu\n", read);
  std::fflush(stdout);
  ::Sleep(INFINITE);
  return 0;
}
