// The exports of VX380ErrorLog.dll and its DllMain.
#include <windows.h>
#include <olectl.h>

#include "ClassFactory.h"
#include "EntryPoint.h"
#include "Module.h"
#include "Registration.h"
#include "TypeInfoCache.h"

namespace {

// Loaded once, the server stays for the life of the process. Each unload would leave behind
// the threading library's records of every thread that used it and the locks it made (four
// handles a time, for ever), and a host that loads and frees it on worker threads would pay
// that again and again.
void StayLoaded(HINSTANCE instance) {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(instance), &self);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      vx380::com::SetThisModule(instance);
      StayLoaded(instance);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != null) other DLLs may already be gone: leave the cache be.
      if (!reserved) vx380::com::ReleaseTypeInfoCache();
      break;
    default:
      break;
  }
  return TRUE;
}

using vx380::com::CatchReturn;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  return CatchReturn([&] { return vx380::com::GetClassFactory(clsid, riid, out); });
}

// Never S_OK: the server cannot unload (see StayLoaded).
STDAPI DllCanUnloadNow() { return S_FALSE; }

// Registration's own failures are SELFREG_E_CLASS; so is anything unforeseen on the way.
STDAPI DllRegisterServer() {
  return CatchReturn([] { return vx380::com::RegisterServer(); }, SELFREG_E_CLASS);
}

STDAPI DllUnregisterServer() {
  return CatchReturn([] { return vx380::com::UnregisterServer(); }, SELFREG_E_CLASS);
}

// regsvr32 /n /i:user registers for the current user only; /u /n /i:user removes that.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  return CatchReturn([&] { return vx380::com::Install(install != FALSE, commandLine); }, SELFREG_E_CLASS);
}
