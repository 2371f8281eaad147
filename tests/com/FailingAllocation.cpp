// The program's operator new: counts the allocations of the thread that armed it.
#include "FailingAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<DWORD> g_thread{0};  // the armed thread, 0 when disarmed
long g_remaining = 0;            // allocations before the failing one; touched by that thread only
bool g_failed = false;

}  // namespace

namespace comtest {

void FailAllocation(long index) {
  g_remaining = index;
  g_failed = false;
  g_thread.store(::GetCurrentThreadId(), std::memory_order_release);
}

bool Disarm() {
  g_thread.store(0, std::memory_order_release);
  return g_failed;
}

}  // namespace comtest

void* operator new(std::size_t size) {
  if (g_thread.load(std::memory_order_acquire) == ::GetCurrentThreadId() && !g_failed && g_remaining-- == 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
