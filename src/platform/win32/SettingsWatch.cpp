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
constexpr DWORD kFirstRunWaitMs = 5000;
constexpr DWORD kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_THREAD_AGNOSTIC;

// One watched key: the nearest key that exists on the path asked for, watched with its subtree,
// so a value or key created later below it counts as a change too. Never freed: the pool's
// callback may run at any time.
struct Watch {
  HKEY key = nullptr;
  HANDLE event = nullptr;
  HANDLE wait = nullptr;
  HANDLE firstRun = nullptr;
  std::atomic<std::uint64_t> generation{1};
};

bool Arm(Watch& watch) {
  return ::RegNotifyChangeKeyValue(watch.key, TRUE, kWatchFilter, watch.event, TRUE) == ERROR_SUCCESS;
}

// Zero means "cannot tell, read every time" and stays so.
void Bump(Watch& watch, bool armed) {
  std::uint64_t now = watch.generation.load(std::memory_order_relaxed);
  while (now != 0 && !watch.generation.compare_exchange_weak(now, armed ? now + 1 : 0, std::memory_order_release)) {
  }
}

// Runs in the pool's wait thread, so a change never makes the pool start a thread. The next
// notification is armed before the number moves: a change in between still brings a read.
void CALLBACK Fired(void* context, BOOLEAN) {
  auto* watch = static_cast<Watch*>(context);
  Bump(*watch, Arm(*watch));
  ::SetEvent(watch->firstRun);
}

// The wait outlives every object of a COM server, and the pool would call into a DLL that a host
// unloaded: the module that registers a wait stays loaded.
bool PinThisModule() {
  HMODULE self = nullptr;
  return ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&Fired), &self) != FALSE;
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

// The first notification is armed by a first run of the callback, which also shows the pool's
// wait thread is up: a host that exits right after its first read never has a thread starting.
Watch* StartWatch(Long root, const std::string& subKey) {
  static const bool pinned = PinThisModule();
  auto* watch = new Watch;
  watch->key = OpenNearest(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root))), subKey);
  if (watch->key) {
    watch->event = ::CreateEventW(nullptr, FALSE, TRUE, nullptr);
    watch->firstRun = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  if (!pinned || !watch->event || !watch->firstRun ||
      !::RegisterWaitForSingleObject(&watch->wait, watch->event, Fired, watch, INFINITE, WT_EXECUTEINWAITTHREAD) ||
      ::WaitForSingleObject(watch->firstRun, kFirstRunWaitMs) != WAIT_OBJECT_0)
    Bump(*watch, false);  // cannot tell: every read goes to the registry
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
