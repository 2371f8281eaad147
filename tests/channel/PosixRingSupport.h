// Helpers for tests of the ring between processes: writing until a ring is found, draining a
// listener, and getting the ring's memory as any process of the user can.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "PosixTestSupport.h"
#include "RingTestSupport.h"
#include "platform/posix/DescriptorPassing.h"
#include "platform/posix/TraceRingPosix.h"

namespace vx380::testing {

using posix::TraceRingListener;
using posix::TryWriteRing;
using Clock = std::chrono::steady_clock;

// The writer looks for a ring at most every 10 ms: give it a generous while to find one.
inline bool WriteWithin(const std::string& line, std::chrono::milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  while (!TryWriteRing(line)) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline void Drain(TraceRingListener& listener, Collector& sink, std::chrono::milliseconds quiet) {
  auto lastNews = Clock::now();
  while (Clock::now() - lastNews < quiet) {
    if (listener.Poll(&Collector::Sink, &sink) > 0) lastNews = Clock::now();
    else listener.Wait(10);
  }
}

// The ring's memory as any process of the user can get it: asked for at the listener's socket.
inline int ReceiveRing(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
  return posix::ReceiveDescriptor(fd).release();  // the connection stays open, as a writer's does
}

inline unsigned char* MapReceivedRing(const std::string& path) {
  const int fd = ReceiveRing(path);
  void* base = fd < 0 ? MAP_FAILED
                      : ::mmap(nullptr, TraceRingListener::kDefaultBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return base == MAP_FAILED ? nullptr : static_cast<unsigned char*>(base);
}

class PosixRing : public ::testing::Test {
 protected:
  ScratchDir dir;
  ScopedEnv socket{"VX380_DEBUG_SOCKET", dir.File("debug.sock")};
};

}  // namespace vx380::testing
