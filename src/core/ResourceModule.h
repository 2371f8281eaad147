// The thread's resource module: released only through the platform installation that loaded
// it, never through whichever platform happens to be current when it goes.
#pragma once

#include <cstdint>
#include <utility>

#include "vx380/Platform.h"

namespace vx380::core {

class ResourceModule {
 public:
  ResourceModule() = default;
  // The end of a thread (or of its record) leaves the module loaded, as it always did: at
  // process exit or module unload its platform may already be gone.
  ~ResourceModule() = default;
  ResourceModule(ResourceModule&& other) noexcept { *this = std::move(other); }
  ResourceModule& operator=(ResourceModule&& other) noexcept;
  ResourceModule(const ResourceModule&) = delete;
  ResourceModule& operator=(const ResourceModule&) = delete;

  // The module's handle for its texts; 0 when there is none.
  ModuleHandle handle() const { return handle_; }
  bool loaded() const { return handle_ > 0; }

  // Loads through the current platform; a module held before is released first.
  void Load(const String& path);
  // Forgets the module as it goes, so it is never used or released again, then frees it
  // through its own platform while that installation is current (a replaced platform may
  // be gone). The platform's failure is passed on.
  void Release();
  // Drops the handle without freeing it.
  void Forget() noexcept { handle_ = 0; }

 private:
  ModuleHandle handle_ = 0;
  Platform* platform_ = nullptr;
  std::uint64_t installation_ = 0;
};

}  // namespace vx380::core
