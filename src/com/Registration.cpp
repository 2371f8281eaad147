// Registration driven by one table of classes. Everything goes below
// HKEY_CLASSES_ROOT, which Windows maps to HKLM\Software\Classes for an
// administrator (and 32-bit registrations into its WOW6432Node view).
#include "Registration.h"

#include <olectl.h>

#include <string>

#include "ComSupport.h"
#include "Module.h"
#include "TypeInfoCache.h"
#include "VX380ErrorLogging.h"

namespace vx380::com {
namespace {

struct ClassEntry {
  const CLSID& clsid;
  const wchar_t* progId;
};

const ClassEntry kClasses[] = {
    {CLSID_ErrorLog, L"VX380ErrorLogging.ErrorLog"},
    {CLSID_CErrorStatus, L"VX380ErrorLogging.CErrorStatus"},
};

constexpr WORD kLibMajor = 1, kLibMinor = 0;
constexpr LCID kLibLocale = 0x409;
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Creates key (and its parents) and sets one string value ("" names the default value).
bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LSTATUS s = RegSetValueExW(h, name && *name ? name : nullptr, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
  return s == ERROR_SUCCESS;
}

bool CreateKey(const std::wstring& key) {
  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(h);
  return true;
}

bool DeleteTree(const std::wstring& key) {
  LSTATUS s = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (s == ERROR_SUCCESS) s = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND;
}

bool RegisterClass(const ClassEntry& c, const std::wstring& modulePath) {
  const std::wstring clsid = GuidText(c.clsid);
  const std::wstring key = L"CLSID\\" + clsid;
  return SetString(c.progId, L"", c.progId) &&
         SetString(std::wstring(c.progId) + L"\\Clsid", L"", clsid) &&
         SetString(key, L"", c.progId) &&
         SetString(key + L"\\InprocServer32", L"", modulePath) &&
         SetString(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
         SetString(key + L"\\ProgID", L"", c.progId) &&
         SetString(key + L"\\VersionIndependentProgID", L"", c.progId) &&
         SetString(key + L"\\TypeLib", L"", GuidText(LIBID_VX380ErrorLogging)) &&
         SetString(key + L"\\Version", L"", L"1.0") &&
         CreateKey(key + L"\\Programmable");
}

}  // namespace

HRESULT RegisterServer() {
  const std::wstring path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  for (const ClassEntry& c : kClasses) {
    if (!RegisterClass(c, path)) {
      UnregisterServer();
      return SELFREG_E_CLASS;
    }
  }
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadOwnTypeLib(lib.Put());
  if (SUCCEEDED(hr)) {
    std::wstring registeredPath = path;  // the DLL itself: its TYPELIB resource 1
    hr = RegisterTypeLib(lib.get(), registeredPath.data(), nullptr);
  }
  if (FAILED(hr)) {
    UnregisterServer();
    return SELFREG_E_TYPELIB;
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  bool ok = true;
  for (const ClassEntry& c : kClasses) {
    ok = DeleteTree(L"CLSID\\" + GuidText(c.clsid)) && ok;
    ok = DeleteTree(c.progId) && ok;
  }
  // Whatever UnRegisterTypeLib answers for a library that is not registered, what
  // counts is that none is registered afterwards: unregistering twice succeeds.
  UnRegisterTypeLib(LIBID_VX380ErrorLogging, kLibMajor, kLibMinor, kLibLocale, kSysKind);
  const std::wstring ownEntry = L"TypeLib\\" + GuidText(LIBID_VX380ErrorLogging) + L"\\1.0\\409\\" +
                                (kSysKind == SYS_WIN64 ? L"win64" : L"win32");
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, ownEntry.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
    RegCloseKey(h);
    ok = false;
  }
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace vx380::com
