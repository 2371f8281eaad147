// Every entry point of the server answers an allocation failure with an HRESULT: the objects,
// the class factory, type information, dispatch and registration, each run with every one of
// its allocations failing in turn. This program holds the server's objects itself (not the
// DLL), so its own operator new reaches them; it registers itself in a Wine prefix of its own.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <memory>
#include <string>

#include "ComSupport.h"
#include "FailingAllocation.h"
#include "TypeInfoCache.h"
#include "VX380ErrorLogging.h"

// The exports the server's .def file names; no system header declares them.
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
STDAPI DllInstall(BOOL install, LPCWSTR commandLine);

namespace comtest {
namespace {

using vx380::com::ComPtr;
using vx380::com::ExcepInfo;
using vx380::com::ReleaseTypeInfoCache;
using vx380::com::Var;

// Long enough to be allocated, not held in a string's own room.
constexpr const wchar_t* kPath =
    L"C:\\Program Files\\VX380 Error Logging\\a folder deep enough to be a real allocation";
constexpr HRESULT kVbOutOfMemory = static_cast<HRESULT>(0x800A0007);  // the runtime's error 7

// AppendSlash gives the path back as it came when it cannot add the backslash: whole either way.
void ExpectAppended(const wchar_t* result) {
  ASSERT_NE(result, nullptr);
  const std::wstring path(kPath);
  EXPECT_TRUE(result == path || result == path + L"\\") << result;
}

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { ::CoUninitialize(); }

  static ComPtr<IClassFactory> Factory(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_HRESULT_SUCCEEDED(::DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())));
    return factory;
  }
  static ComPtr<IDispatch> NewObject(REFCLSID clsid) {
    ComPtr<IDispatch> object;
    ComPtr<IClassFactory> factory = Factory(clsid);
    if (factory) factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.Put()));
    return object;
  }
};

TEST_F(AllocationFailure, TheClassFactoryAndTheObjectsItMakesSayOutOfMemory) {
  for (const CLSID* clsid : {&CLSID_ErrorLog, &CLSID_CErrorStatus}) {
    IClassFactory* factory = nullptr;
    SweepAllocations([&] { return ::DllGetClassObject(*clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)); },
                     {E_OUTOFMEMORY},
                     [&](HRESULT) {
                       if (factory) factory->Release();
                       factory = nullptr;
                     });
    ComPtr<IClassFactory> made = Factory(*clsid);
    ASSERT_TRUE(made);
    IDispatch* object = nullptr;
    const int runs = SweepAllocations(
        [&] { return made->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)); },
        {E_OUTOFMEMORY},
        [&](HRESULT hr) {
          EXPECT_EQ(object != nullptr, SUCCEEDED(hr));
          if (object) object->Release();
          object = nullptr;
        });
    EXPECT_GT(runs, 0) << "an object is made of allocations";
  }
}

// While the type information is read and indexed (the first call of a process) and after.
TEST_F(AllocationFailure, TypeInformationSaysOutOfMemoryAndIsBuiltOnceMemoryIsBack) {
  ComPtr<IDispatch> log = NewObject(CLSID_ErrorLog);
  ASSERT_TRUE(log);
  ComPtr<IProvideClassInfo> classInfo = log.As<IProvideClassInfo>(IID_IProvideClassInfo);
  ASSERT_TRUE(classInfo);
  ITypeInfo* info = nullptr;
  auto fresh = [&](HRESULT) {
    if (info) info->Release();
    info = nullptr;
    ReleaseTypeInfoCache();  // the next run reads the library again
  };
  auto handedOut = [&](HRESULT hr) {
    EXPECT_EQ(info != nullptr, SUCCEEDED(hr));
    fresh(hr);
  };
  ReleaseTypeInfoCache();
  EXPECT_GT(SweepAllocations([&] { return log->GetTypeInfo(0, 0, &info); }, {E_OUTOFMEMORY}, handedOut), 0);
  EXPECT_GT(SweepAllocations([&] { return classInfo->GetClassInfo(&info); }, {E_OUTOFMEMORY}, handedOut), 0);

  wchar_t name[] = L"appendslash";
  LPOLESTR names[] = {name};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_GT(SweepAllocations([&] { return log->GetIDsOfNames(IID_NULL, names, 1, 0, &id); }, {E_OUTOFMEMORY}, fresh),
            0);
  ASSERT_NE(id, DISPID_UNKNOWN);
}

// A member run through Invoke, with the type information still to be built and with it built:
// out of memory before the member runs, the runtime's error 7 from inside it.
TEST_F(AllocationFailure, InvokeSaysOutOfMemoryOrRaisesTheRuntimesError) {
  ComPtr<IDispatch> log = NewObject(CLSID_ErrorLog);
  ASSERT_TRUE(log);
  wchar_t name[] = L"AppendSlash";
  LPOLESTR names[] = {name};
  DISPID id = DISPID_UNKNOWN;
  ASSERT_HRESULT_SUCCEEDED(log->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  for (const bool coldCache : {true, false}) {
    SCOPED_TRACE(coldCache ? "type information to build" : "type information built");
    Var path, result;
    auto excep = std::make_unique<ExcepInfo>();
    DISPPARAMS params = {path.get(), nullptr, 1, 0};
    auto invoke = [&] {
      path.Clear();
      path->vt = VT_BSTR;
      path->bstrVal = ::SysAllocString(kPath);
      return log->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), excep->get(), nullptr);
    };
    const int runs = SweepAllocations(invoke, {E_OUTOFMEMORY, DISP_E_EXCEPTION, S_OK}, [&](HRESULT hr) {
      if (hr == DISP_E_EXCEPTION) {
        const HRESULT scode = excep->get()->scode;
        EXPECT_TRUE(scode == kVbOutOfMemory || scode == E_OUTOFMEMORY) << std::hex << scode;
      }
      if (SUCCEEDED(hr)) ExpectAppended(result->vt == VT_BSTR ? result->bstrVal : nullptr);
      result.Clear();
      excep = std::make_unique<ExcepInfo>();
      if (coldCache) ReleaseTypeInfoCache();
    });
    EXPECT_GT(runs, 0);
  }
}

// The members called through the vtable, as early-bound clients do.
TEST_F(AllocationFailure, AnEarlyBoundMemberRaisesTheRuntimesError) {
  ComPtr<IDispatch> object = NewObject(CLSID_ErrorLog);
  ComPtr<_ErrorLog> log = object.As<_ErrorLog>(IID__ErrorLog);
  ASSERT_TRUE(log);
  BSTR path = nullptr, result = nullptr;
  const int runs = SweepAllocations(
      [&] {
        path = ::SysAllocString(kPath);
        return log->AppendSlash(&path, &result);
      },
      {kVbOutOfMemory, E_OUTOFMEMORY, S_OK},
      [&](HRESULT hr) {
        if (SUCCEEDED(hr)) ExpectAppended(result);
        ::SysFreeString(path);
        ::SysFreeString(result);
        path = result = nullptr;
      });
  EXPECT_GT(runs, 0);
}

std::wstring ClassKey(const wchar_t* below) {
  wchar_t guid[64];
  ::StringFromGUID2(CLSID_ErrorLog, guid, 64);
  return std::wstring(below) + L"CLSID\\" + guid;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

// A registration stopped by a failed allocation leaves nothing behind; so, once it runs
// through, does unregistration.
void SweepRegistration(HKEY root, const std::wstring& key, HRESULT (*registerIt)(), HRESULT (*unregisterIt)()) {
  unregisterIt();  // what a run stopped half-way left in this prefix
  ASSERT_FALSE(KeyExists(root, key));
  const int runs = SweepAllocations(registerIt, {E_OUTOFMEMORY}, [&](HRESULT hr) {
    EXPECT_EQ(KeyExists(root, key), SUCCEEDED(hr)) << "a failed registration leaves its keys";
  });
  EXPECT_GT(runs, 0);
  EXPECT_GT(SweepAllocations(unregisterIt, {E_OUTOFMEMORY}, [](HRESULT) {}), 0);
  EXPECT_FALSE(KeyExists(root, key));
}

TEST_F(AllocationFailure, RegistrationSaysOutOfMemoryAndLeavesNothingHalfDone) {
  SweepRegistration(
      HKEY_CURRENT_USER, ClassKey(L"Software\\Classes\\"), [] { return ::DllInstall(TRUE, L"user"); },
      [] { return ::DllInstall(FALSE, L"user"); });
  SweepRegistration(
      HKEY_CLASSES_ROOT, ClassKey(L""), [] { return ::DllRegisterServer(); }, [] { return ::DllUnregisterServer(); });
}

}  // namespace
}  // namespace comtest
