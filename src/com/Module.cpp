// DLL bookkeeping: module handle, path, live objects and locks.
#include "Module.h"

#include <atomic>

namespace vx380::com {
namespace {
HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace

void SetThisModule(HMODULE module) { g_module = module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
void LockServer(bool lock) {
  if (lock) {
    ++g_locks;
  } else {
    // An unbalanced unlock must not make the count negative and keep the DLL pinned or unloadable wrongly.
    long n = g_locks.load();
    while (n > 0 && !g_locks.compare_exchange_weak(n, n - 1)) {
    }
  }
}
bool CanUnload() { return g_objects.load() == 0 && g_locks.load() == 0; }

}  // namespace vx380::com
