// DLL bookkeeping: module handle and path.
#include "Module.h"

namespace vx380::com {
namespace {
HMODULE g_module = nullptr;
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

}  // namespace vx380::com
