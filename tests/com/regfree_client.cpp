// A host with no registry entries at all: it reaches the component only through its
// application manifest (the shipped host example) and the DLL's assembly manifest beside
// it. Prints one line per check ("ok: ..." or "FAIL: ...") and exits 0 only when every
// check held, 3 when CoCreateInstance could not find the class at all.
#include <windows.h>

#include <cstdio>
#include <string>

#include "VX380ErrorLogging.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what, HRESULT hr = S_OK) {
  if (ok) {
    std::printf("ok: %s\n", what);
  } else {
    std::printf("FAIL: %s (hr 0x%08lx)\n", what, static_cast<unsigned long>(hr));
    ++failures;
  }
}

// The folder the component was loaded from, lower case, for comparing with ours.
std::wstring FolderOfModule(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  if (!module || !GetModuleFileNameW(module, path, MAX_PATH)) return L"";
  std::wstring text = CharLowerW(path);
  return text.substr(0, text.find_last_of(L'\\'));
}

void UseErrorLog() {
  _ErrorLog* el = nullptr;
  HRESULT hr =
      CoCreateInstance(CLSID_ErrorLog, nullptr, CLSCTX_INPROC_SERVER, IID__ErrorLog, reinterpret_cast<void**>(&el));
  Check(SUCCEEDED(hr) && el, "CoCreateInstance(CLSID_ErrorLog) without registration", hr);
  if (!el) {
    std::fflush(stdout);
    ExitProcess(3);
  }
  BSTR app = SysAllocString(L"RegFreeHost"), none = SysAllocString(L""), name = nullptr;
  hr = el->Initialize(app, none);
  Check(SUCCEEDED(hr), "Initialize", hr);
  hr = el->get_ApplicationName(&name);
  Check(SUCCEEDED(hr) && name && std::wstring(name) == L"RegFreeHost", "ApplicationName reads back", hr);
  SysFreeString(name);
  SysFreeString(app);
  SysFreeString(none);
  el->Release();

  const std::wstring ours = FolderOfModule(GetModuleHandleW(nullptr));
  Check(FolderOfModule(GetModuleHandleW(L"VX380ErrorLog.dll")) == ours, "the DLL beside the host was loaded");
}

void UseStatusByProgId() {
  CLSID clsid = {};
  HRESULT hr = CLSIDFromProgID(L"VX380ErrorLogging.CErrorStatus", &clsid);
  // Wine answers with an alias of its own for the class (not CLSID_CErrorStatus itself),
  // which creates the same class; what a host needs is that creating through it works.
  Check(SUCCEEDED(hr), "CLSIDFromProgID(VX380ErrorLogging.CErrorStatus)", hr);
  IDispatch* status = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&status));
  Check(SUCCEEDED(hr) && status, "CoCreateInstance of the class the ProgID names", hr);
  if (!status) return;
  // Late bound, as a script would: the dispatch ids come from the type information.
  OLECHAR* member = const_cast<OLECHAR*>(L"Status");
  DISPID id = 0;
  hr = status->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id);
  Check(SUCCEEDED(hr) && id == 0x68030000, "GetIDsOfNames(Status)", hr);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I2;
  value.iVal = 1;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&value, &named, 1, 1};
  hr = status->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr);
  DISPPARAMS none = {};
  VARIANT result;
  VariantInit(&result);
  if (SUCCEEDED(hr))
    hr = status->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
  Check(SUCCEEDED(hr) && result.vt == VT_I2 && result.iVal == 1, "Status written and read back late bound", hr);
  status->Release();
}

void LoadTypeLibrary() {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadRegTypeLib(LIBID_VX380ErrorLogging, 1, 0, 0x409, &lib);
  Check(SUCCEEDED(hr) && lib, "LoadRegTypeLib through the manifest's typelib entry", hr);
  if (lib) lib->Release();
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  UseErrorLog();
  UseStatusByProgId();
  LoadTypeLibrary();
  CoUninitialize();
  std::printf("%s\n", failures ? "FAILED" : "COMPLETE");
  return failures ? 1 : 0;
}
