#include "TypeLibRegistration.h"

#include <olectl.h>

#include <vector>

#include "ComSupport.h"
#include "RegistryKey.h"
#include "TypeInfoCache.h"
#include "VX380ErrorLogging.h"

namespace vx380::com {
namespace {

constexpr WORD kLibMajor = 1, kLibMinor = 0;
constexpr LCID kLibLocale = 0x409;
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t* kPlatform = L"win64";
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t* kPlatform = L"win32";
#endif
// The standard automation marshaller, which serves every dual or oleautomation interface.
constexpr const wchar_t* kOleAutomationProxy = L"{00020424-0000-0000-C000-000000000046}";

std::wstring LibKey() { return L"TypeLib\\" + GuidText(LIBID_VX380ErrorLogging) + L"\\1.0"; }
std::wstring LocaleKey() { return LibKey() + L"\\409"; }
std::wstring PlatformKey() { return LocaleKey() + L"\\" + kPlatform; }

struct InterfaceEntry {
  GUID iid;
  std::wstring name;
};

// The interfaces a client may marshal: every dual or oleautomation one in the library.
std::vector<InterfaceEntry> MarshalledInterfaces(ITypeLib* lib) {
  std::vector<InterfaceEntry> out;
  for (UINT i = 0, n = lib->GetTypeInfoCount(); i < n; ++i) {
    ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    if (FAILED(lib->GetTypeInfo(i, info.Put())) || FAILED(info->GetTypeAttr(&attr))) continue;
    const bool marshalled = (attr->typekind == TKIND_DISPATCH || attr->typekind == TKIND_INTERFACE) &&
                            (attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    const GUID iid = attr->guid;
    info->ReleaseTypeAttr(attr);
    BSTR name = nullptr;
    if (marshalled && SUCCEEDED(lib->GetDocumentation(i, &name, nullptr, nullptr, nullptr))) {
      out.push_back({iid, name ? name : L""});
      SysFreeString(name);
    }
  }
  return out;
}

std::wstring LibraryTitle(ITypeLib* lib) {
  BSTR doc = nullptr;
  std::wstring title;
  if (SUCCEEDED(lib->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr)) && doc) title = doc;
  SysFreeString(doc);
  return title;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool RegisterInterface(HKEY classes, const InterfaceEntry& entry) {
  const std::wstring key = L"Interface\\" + GuidText(entry.iid);
  return SetKeyString(classes, key, L"", entry.name) &&
         SetKeyString(classes, key + L"\\ProxyStubClsid", L"", kOleAutomationProxy) &&
         SetKeyString(classes, key + L"\\ProxyStubClsid32", L"", kOleAutomationProxy) &&
         SetKeyString(classes, key + L"\\TypeLib", L"", GuidText(LIBID_VX380ErrorLogging)) &&
         SetKeyString(classes, key + L"\\TypeLib", L"Version", L"1.0");
}

}  // namespace

HRESULT RegisterTypeLibMachine(const std::wstring& modulePath) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadOwnTypeLib(lib.Put());
  if (FAILED(hr)) return hr;
  std::wstring registeredPath = modulePath;  // the DLL itself: its TYPELIB resource 1
  return RegisterTypeLib(lib.get(), registeredPath.data(), nullptr);
}

HRESULT UnregisterTypeLibMachine() {
  // Whatever UnRegisterTypeLib answers for a library that is not registered, what
  // counts is that none is registered afterwards: unregistering twice succeeds.
  UnRegisterTypeLib(LIBID_VX380ErrorLogging, kLibMajor, kLibMinor, kLibLocale, kSysKind);
  return KeyExists(HKEY_CLASSES_ROOT, PlatformKey()) ? SELFREG_E_TYPELIB : S_OK;
}

HRESULT RegisterTypeLibUnder(HKEY classes, const std::wstring& modulePath) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadOwnTypeLib(lib.Put());
  if (FAILED(hr)) return hr;
  bool ok = SetKeyString(classes, LibKey(), L"", LibraryTitle(lib.get())) &&
            SetKeyString(classes, LibKey() + L"\\FLAGS", L"", L"0") &&
            SetKeyString(classes, LibKey() + L"\\HELPDIR", L"", FolderOf(modulePath)) &&
            SetKeyString(classes, PlatformKey(), L"", modulePath);
  for (const InterfaceEntry& entry : MarshalledInterfaces(lib.get())) ok = ok && RegisterInterface(classes, entry);
  return ok ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT UnregisterTypeLibUnder(HKEY classes) {
  bool ok = DeleteTree(classes, PlatformKey());
  DeleteIfEmpty(classes, LocaleKey());
  // The interfaces and the version key are shared by both builds: they go with the last one.
  if (!KeyExists(classes, LocaleKey())) {
    ok = DeleteTree(classes, LibKey()) && ok;
    DeleteIfEmpty(classes, L"TypeLib\\" + GuidText(LIBID_VX380ErrorLogging));
    ComPtr<ITypeLib> lib;
    if (SUCCEEDED(LoadOwnTypeLib(lib.Put()))) {
      for (const InterfaceEntry& entry : MarshalledInterfaces(lib.get()))
        ok = DeleteTree(classes, L"Interface\\" + GuidText(entry.iid)) && ok;
    } else {
      ok = false;
    }
  }
  return ok ? S_OK : SELFREG_E_TYPELIB;
}

}  // namespace vx380::com
