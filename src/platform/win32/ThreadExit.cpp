// Destructors of thread_local objects, run when their thread ends.
//
// MinGW's own registration takes a reference on the module for every thread that has such
// objects, and gives it back from that thread's exit clean-up, which runs inside the module's
// own thread-exit callback. A DLL that a worker thread loaded and freed was then unloaded from
// inside that callback, and the thread never ended (nor did ExitProcess); nor could a COM
// server unload while any thread that had used it lived. Here nothing holds the module: a
// module unloaded before one of its threads ends leaves that thread's objects behind, and
// the thread's end calls nothing of it.
//
// MinGW keeps thread_local objects in emulated storage that another thread-exit hook frees; the
// hooks run in the order they were made, and the storage's is made by the first thread_local
// touched. The destructors' hook is made first, before anything touches a thread_local, so
// they run on live objects.
#if defined(__MINGW32__)
#include <pthread.h>

#include <cstdlib>
#include <new>

namespace {

// A destructor is called as the member it is: on i686 "this" goes in a register.
#if defined(__i386__)
using Destroy = void(__attribute__((thiscall)) *)(void*);
#else
using Destroy = void (*)(void*);
#endif

struct Destructor {
  Destroy destroy;
  void* object;
  Destructor* next;
};

pthread_key_t g_key;
pthread_once_t g_once = PTHREAD_ONCE_INIT;

// Newest first, as objects are destroyed in the reverse order of their construction.
void RunList(void* list) {
  for (auto* d = static_cast<Destructor*>(list); d;) {
    Destructor* done = d;
    d->destroy(d->object);
    d = d->next;
    delete done;
  }
}

// When the process exits or this module unloads, the thread doing it destroys its objects
// now: its thread-exit hook would come too late, or not at all.
void RunThisThread() {
  void* list = pthread_getspecific(g_key);
  pthread_setspecific(g_key, nullptr);
  RunList(list);
}

void MakeKey() {
  pthread_key_create(&g_key, RunList);
  std::atexit(RunThisThread);
}

__attribute__((constructor(101))) void ThreadLocalDestructorsFirst() { pthread_once(&g_once, MakeKey); }

}  // namespace

extern "C" int __cxa_thread_atexit(Destroy destroy, void* object, void* /*module*/) noexcept {
  pthread_once(&g_once, MakeKey);
  auto* d = new (std::nothrow) Destructor{destroy, object, static_cast<Destructor*>(pthread_getspecific(g_key))};
  if (!d) std::abort();  // as the library does: an object that cannot be destroyed is not made
  pthread_setspecific(g_key, d);
  return 0;
}
#endif
