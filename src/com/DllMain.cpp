// The exports of VX380ErrorLog.dll and its DllMain.
#include <windows.h>

#include "ClassFactory.h"
#include "Module.h"
#include "Registration.h"
#include "TypeInfoCache.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      vx380::com::SetThisModule(instance);
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

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  return vx380::com::GetClassFactory(clsid, riid, out);
}

STDAPI DllCanUnloadNow() { return vx380::com::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return vx380::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return vx380::com::UnregisterServer(); }

// regsvr32 /n /i:user registers for the current user only; /u /n /i:user removes that.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) { return vx380::com::Install(install != FALSE, commandLine); }
