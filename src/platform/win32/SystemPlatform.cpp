// The operating system's platform on Windows.
#include "Win32Platform.h"

#if defined(__MINGW32__)
// MinGW keeps thread_local objects in emulated storage that a thread-exit hook frees, and runs
// their destructors from another such hook; the hooks run in the order they were made, and the
// storage's is made by the first thread_local touched. Left so, every thread_local destructor
// runs on freed memory, and crashes when another thread has reused it. Making the destructors'
// hook first, before anything touches a thread_local, has them run on live objects.
extern "C" int __cxa_thread_atexit(void (*)(void*), void*, void*);

namespace {
void NothingToDestroy(void*) {}
__attribute__((constructor(101))) void ThreadLocalDestructorsFirst() {
  __cxa_thread_atexit(NothingToDestroy, nullptr, nullptr);
}
}  // namespace
#endif

namespace vx380 {

Platform& SystemPlatform() {
  // Never destroyed: objects torn down at process exit may still trace through it.
  static Platform* const platform = new win32::Win32Platform;
  return *platform;
}

}  // namespace vx380
