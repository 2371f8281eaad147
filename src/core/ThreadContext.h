// Everything the core keeps per thread, in one object with one end. At a thread's end its
// parts go in a fixed order, and a call that comes in after that still finds a context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>

#include "core/ModuleState.h"
#include "vx380/ErrorLog.h"

namespace vx380::core {

// A switch as last read, and the installation and settings generation it was read under.
struct CachedSwitch {
  std::uint64_t installation = 0;
  std::uint64_t generation = 0;
  Boolean found = kFalse;
  String value;
};

// Room for the thread's predeclared ErrorLog, made at the first use of Default().
class PredeclaredSlot {
 public:
  PredeclaredSlot() = default;
  ~PredeclaredSlot() { Reset(); }
  PredeclaredSlot(const PredeclaredSlot&) = delete;
  PredeclaredSlot& operator=(const PredeclaredSlot&) = delete;

  ErrorLog* get() const { return object_; }
  void* storage() { return storage_; }
  void Adopt(ErrorLog* made) { object_ = made; }
  // A call made while it ends still finds it, as with any object that is ending.
  void Reset() noexcept {
    if (!object_) return;
    object_->~ErrorLog();
    object_ = nullptr;
  }

 private:
  alignas(ErrorLog) unsigned char storage_[sizeof(ErrorLog)];
  ErrorLog* object_ = nullptr;
};

struct ThreadContext {
  ThreadContext() = default;
  ~ThreadContext();
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;

  ModuleState state;
  ErrObject error;

  // The objects on the path of the thread's hierarchy dump, and its depth.
  std::unordered_set<const void*> dumpPath;
  size_t dumpDepth = 0;

  // The line buffer the thread reuses, and whether a line is being built in it.
  std::string lineBytes;
  bool lineBusy = false;

  // Whether the platform of this installation keeps ASCII as it is (asked once per installation).
  std::uint64_t asciiInstallation = 0;
  const Platform* asciiPlatform = nullptr;
  bool asciiKept = false;

  // The installed platform, when it can tell that nobody hears the debug channel (looked for
  // once per installation).
  std::uint64_t listenerInstallation = 0;
  ListenerAwarePlatform* listenerAware = nullptr;

  // Per thread, as the switches' readers are; a handful of keys per application.
  std::map<std::pair<Long, String>, CachedSwitch> switches;

  // It ends first, while the rest still lives: its end may trace or log.
  PredeclaredSlot predeclared;
};

// This thread's context. A call that comes after the thread's context has ended (from the
// end of another thread-local object) gets a fresh one, as a new thread would.
ThreadContext& ThisThread();

}  // namespace vx380::core
