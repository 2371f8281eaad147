// Settings read on every call are read again only after a change: each key is watched with a
// registry change notification, and a thread-pool wait bumps the key's number when it fires,
// so asking whether a key changed costs no call into the system.
#include "Win32Platform.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vx380::win32 {

namespace {

#ifndef REG_NOTIFY_THREAD_AGNOSTIC
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000L
#endif
constexpr DWORD kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_THREAD_AGNOSTIC;

// One watched key: the nearest key that exists on the path asked for, watched with its subtree,
// so a value or key created later below it counts as a change too. Never freed: the pool's
// callback may run at any time.
struct Watch {
  HKEY key = nullptr;
  HANDLE event = nullptr;
  HANDLE wait = nullptr;
  std::atomic<std::uint64_t> generation{1};
};

bool Arm(Watch& watch) {
  return ::RegNotifyChangeKeyValue(watch.key, TRUE, kWatchFilter, watch.event, TRUE) == ERROR_SUCCESS;
}

// The registration keeps firing: each signal counts as a change and arms the next one. A
// notification that cannot be armed again leaves the number moving, so reads go on as before.
void CALLBACK Fired(void* context, BOOLEAN) {
  auto* watch = static_cast<Watch*>(context);
  watch->generation.fetch_add(1, std::memory_order_release);
  if (!Arm(*watch)) watch->generation.store(0, std::memory_order_release);
}

HKEY OpenNearest(HKEY root, std::string path) {
  for (;;) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_NOTIFY, &key) == ERROR_SUCCESS) return key;
    if (path.empty()) return nullptr;
    const std::size_t cut = path.find_last_of('\\');
    path = cut == std::string::npos ? std::string() : path.substr(0, cut);
  }
}

Watch* StartWatch(Long root, const std::string& subKey) {
  auto* watch = new Watch;
  watch->key = OpenNearest(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root))), subKey);
  watch->event = watch->key ? ::CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
  if (!watch->event || !Arm(*watch) ||
      !::RegisterWaitForSingleObject(&watch->wait, watch->event, Fired, watch, INFINITE, WT_EXECUTEDEFAULT))
    watch->generation.store(0);  // cannot tell: every read goes to the registry
  return watch;
}

}  // namespace

std::uint64_t Win32Platform::SettingsGeneration(Long key, const std::string& subKey) {
  static std::mutex mutex;
  static std::map<std::pair<Long, std::string>, Watch*> watches;
  Watch* watch;
  {
    std::lock_guard<std::mutex> lock(mutex);
    Watch*& slot = watches[{key, subKey}];
    if (!slot) slot = StartWatch(key, subKey);
    watch = slot;
  }
  return watch->generation.load(std::memory_order_acquire);
}

}  // namespace vx380::win32
