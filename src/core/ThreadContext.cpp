#include "core/ThreadContext.h"

#include <new>
#include <utility>

namespace vx380::core {

namespace {

// The context lives in the thread's own storage: making it allocates nothing, so no call
// that must not fail (an object's end, a trap) fails for want of memory.
struct alignas(ThreadContext) ContextStorage {
  unsigned char bytes[sizeof(ThreadContext)];
};

constexpr unsigned kCleanUps = 8;

thread_local ContextStorage t_storage;
constinit thread_local ThreadContext* t_context = nullptr;
// How many contexts this thread has begun. Kept in plain thread-local words, which stay
// readable until the thread is gone, so a late call finds that its context has ended.
constinit thread_local unsigned t_begun = 0;

void EndContext() noexcept {
  ThreadContext* ending = t_context;
  if (!ending) return;
  ending->predeclared.Reset();  // first, while everything it may use still lives
  t_context = nullptr;
  ending->~ThreadContext();
}

// One thread-exit clean-up for the whole context, made before the context so that it runs
// after the objects that used it. A call after it (from the end of an object made before the
// context) begins another context with a clean-up of its own; past kCleanUps of them the last
// is left to the thread's end, unreleased.
template <unsigned N>
struct CleanUp {
  ~CleanUp() { EndContext(); }
};
template <unsigned N>
void ArmCleanUp() {
  thread_local CleanUp<N> cleanUp;
  (void)cleanUp;
}
template <unsigned... N>
void ArmCleanUp(unsigned which, std::integer_sequence<unsigned, N...>) {
  constexpr void (*kArm[])() = {ArmCleanUp<N>...};
  kArm[which]();
}

[[gnu::noinline]] ThreadContext& Begin() {  // kept apart: the usual call only loads a pointer
  if (t_begun < kCleanUps) ArmCleanUp(t_begun, std::make_integer_sequence<unsigned, kCleanUps>{});
  ++t_begun;
  t_context = new (t_storage.bytes) ThreadContext;
  return *t_context;
}

}  // namespace

ThreadContext::~ThreadContext() = default;

ThreadContext& ThisThread() {
  if (ThreadContext* context = t_context) return *context;
  return Begin();
}

}  // namespace vx380::core
