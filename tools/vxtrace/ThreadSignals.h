// vxtrace: Ctrl-C is the main thread's business; helper threads block every signal.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace vxtrace {

inline void LeaveSignalsToTheMainThread() {
#ifndef _WIN32
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
#endif
}

}  // namespace vxtrace
