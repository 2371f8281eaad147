// The DLL's own bookkeeping: its module handle and path, and the count of live
// objects and server locks that DllCanUnloadNow reports on.
#pragma once

#include <windows.h>

#include <string>

namespace vx380::com {

void SetThisModule(HMODULE module);
// Full path of this DLL, as the loader knows it.
std::wstring ModulePath();

// Every COM object handed out (class factories included) counts from construction to destruction.
void ObjectCreated();
void ObjectDestroyed();
void LockServer(bool lock);
bool CanUnload();

// Counts itself as a live object for as long as it exists.
class LiveObject {
 public:
  LiveObject() { ObjectCreated(); }
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;
  ~LiveObject() { ObjectDestroyed(); }
};

}  // namespace vx380::com
