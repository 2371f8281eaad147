// Object lifetime and apartments: per-thread state, the end of an object, many
// create/release cycles without growth, DllCanUnloadNow and server locks.
#include <gtest/gtest.h>

#include <thread>

#include "ComTestSupport.h"
// After windows.h, which it needs.
#include <psapi.h>

using namespace comtest;

namespace {

using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

CanUnloadFn CanUnloadNow() {
  HMODULE dll = GetModuleHandleW(L"VX380ErrorLog.dll");
  return dll ? reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow"))) : nullptr;
}

std::wstring AppName(_ErrorLog* log) {
  Bstr name;
  EXPECT_HRESULT_SUCCEEDED(log->get_ApplicationName(name.Put()));
  return name.get() ? name.get() : L"";
}

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  return counters.PrivateUsage;
}

}  // namespace

TEST(Lifetime, ApartmentThreadsKeepSeparateState) {
  Apartment apartment;
  ComPtr<_ErrorLog> mine = NewErrorLog();
  ASSERT_TRUE(mine);
  Bstr app(u"ThreadOne"), none;
  ASSERT_HRESULT_SUCCEEDED(mine->Initialize(app.get(), none.get()));

  std::wstring seenOnOther = L"<not run>";
  std::wstring seenAfterInit;
  std::thread other([&] {
    Apartment second;
    ComPtr<_ErrorLog> theirs = NewErrorLog();
    if (!theirs) return;
    seenOnOther = AppName(theirs.get());
    Bstr otherApp(u"ThreadTwo");
    theirs->Initialize(otherApp.get(), none.get());
    seenAfterInit = AppName(theirs.get());
  });
  other.join();
  EXPECT_EQ(L"", seenOnOther);
  EXPECT_EQ(L"ThreadTwo", seenAfterInit);
  EXPECT_EQ(L"ThreadOne", AppName(mine.get()));
}

TEST(Lifetime, ObjectsOfOneThreadShareStateAndTheEndOfOneResetsIt) {
  Apartment apartment;
  ComPtr<_ErrorLog> first = NewErrorLog(), second = NewErrorLog();
  ASSERT_TRUE(first && second);
  first->Main();
  Bstr app(u"Shared"), other(u"Other"), none;
  ASSERT_HRESULT_SUCCEEDED(first->Initialize(app.get(), none.get()));
  EXPECT_EQ(L"Shared", AppName(second.get()));
  // Initialised already: a second Initialize changes nothing.
  ASSERT_HRESULT_SUCCEEDED(second->Initialize(other.get(), none.get()));
  EXPECT_EQ(L"Shared", AppName(second.get()));

  first = nullptr;  // the end of an object: the thread is no longer initialised
  ASSERT_HRESULT_SUCCEEDED(second->Initialize(other.get(), none.get()));
  EXPECT_EQ(L"Other", AppName(second.get()));
  SetErrorInfo(0, nullptr);
}

TEST(Lifetime, ManyCreateReleaseCyclesDoNotGrow) {
  Apartment apartment;
  // Through the class factories, as COM creates objects, without its registry lookups.
  ComPtr<IClassFactory> logs, statuses;
  ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_ErrorLog, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                            reinterpret_cast<void**>(logs.Put())));
  ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_CErrorStatus, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                            reinterpret_cast<void**>(statuses.Put())));
  auto cycle = [&](int n) {
    for (int i = 0; i < n; ++i) {
      ComPtr<_ErrorLog> log;
      ComPtr<_CErrorStatus> status;
      if (FAILED(logs->CreateInstance(nullptr, IID__ErrorLog, reinterpret_cast<void**>(log.Put()))) ||
          FAILED(statuses->CreateInstance(nullptr, IID__CErrorStatus, reinterpret_cast<void**>(status.Put()))))
        return false;
      if (i % 16 == 0 && FAILED(status->put_Status(static_cast<SHORT>(i)))) return false;
    }
    return true;
  };
  ASSERT_TRUE(cycle(2000));  // warm up caches and heaps
  SIZE_T before = PrivateBytes();
  ASSERT_TRUE(cycle(100000));
  SIZE_T after = PrivateBytes();
  EXPECT_LT(after, before + 2 * 1024 * 1024) << "grew by " << (after - before) << " bytes";
  // And through CoCreateInstance, a client's usual road.
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(NewErrorLog());
}

// The server stays loaded once loaded: DllCanUnloadNow never lets COM free it, whatever the
// objects and locks, and a host's FreeLibrary leaves it in place.
TEST(Lifetime, DllCanUnloadNowNeverSaysSoAndTheServerStays) {
  Apartment apartment;
  ComPtr<_ErrorLog> log = NewErrorLog();
  ASSERT_TRUE(log);
  CanUnloadFn canUnload = CanUnloadNow();
  ASSERT_NE(nullptr, canUnload);
  EXPECT_EQ(S_FALSE, canUnload());

  ComPtr<IClassFactory> factory;
  ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_CErrorStatus, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.Put())));
  log = nullptr;
  EXPECT_EQ(S_FALSE, canUnload());
  ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
  factory = nullptr;
  EXPECT_EQ(S_FALSE, canUnload());

  ComPtr<IClassFactory> again;
  ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_CErrorStatus, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                            reinterpret_cast<void**>(again.Put())));
  ASSERT_HRESULT_SUCCEEDED(again->LockServer(FALSE));
  again = nullptr;
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(S_FALSE, canUnload()) << "no object and no lock left, and still the server stays";
  CoFreeUnusedLibrariesEx(0, 0);
  HMODULE dll = GetModuleHandleW(L"VX380ErrorLog.dll");
  ASSERT_NE(nullptr, dll);
  FreeLibrary(dll);
  FreeLibrary(dll);
  EXPECT_EQ(dll, GetModuleHandleW(L"VX380ErrorLog.dll"));

  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"VX380ErrorLog.dll"), "DllGetClassObject")));
  ASSERT_NE(nullptr, getClassObject);
  void* unknown = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID__ErrorLog, IID_IClassFactory, &unknown));
  EXPECT_EQ(nullptr, unknown);
}

// A server whose objects are gone and that a host tried to free still reads a setting changed
// after that, afresh.
TEST(Lifetime, ASettingChangedAfterTheServerWasFreedIsHarmless) {
  const wchar_t* key = L"Software\\Meridox\\Applications\\UnloadCheck.Application\\ErrorReporting";
  {
    Apartment apartment;
    ComPtr<_ErrorLog> log = NewErrorLog();
    ASSERT_TRUE(log);
    Bstr app(u"UnloadCheck"), none(u"");
    ASSERT_HRESULT_SUCCEEDED(log->Initialize(app.get(), none.get()));
    ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGTIMESTAMP(nullptr));  // reads the Timing switch
    log = nullptr;
    SetErrorInfo(0, nullptr);
    CanUnloadFn canUnload = CanUnloadNow();
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_FALSE, canUnload());
    CoFreeUnusedLibrariesEx(0, 0);
  }
  // Whatever the runtime decided, unload it as a host's FreeLibrary would.
  for (int i = 0; i < 64; ++i) {
    HMODULE dll = GetModuleHandleW(L"VX380ErrorLog.dll");
    if (!dll) break;
    FreeLibrary(dll);
  }
  EXPECT_NE(nullptr, GetModuleHandleW(L"VX380ErrorLog.dll")) << "the server stays loaded";
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  const wchar_t value[] = L"true";
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(k, L"Timing", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value));
  RegCloseKey(k);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, key));

  // And the server comes back and reads the key afresh.
  Apartment apartment;
  ComPtr<_ErrorLog> log = NewErrorLog();
  ASSERT_TRUE(log);
  Bstr app(u"UnloadCheck"), none(u"");
  EXPECT_HRESULT_SUCCEEDED(log->Initialize(app.get(), none.get()));
  EXPECT_HRESULT_SUCCEEDED(log->RBDEBUGTIMESTAMP(nullptr));
}

#if defined(VX380_LOAD_HOST)
// 500 rounds in a fresh process: a worker STA creates the object, releases it, frees unused
// libraries and leaves its apartment; every worker ends, threads and handles stay put, and the
// process exits.
TEST(Lifetime, WorkerApartmentsThatUsedTheServerEndAndSoDoesTheProcess) {
  std::wstring host = L"Z:" VX380_LOAD_HOST, dll = L"Z:" VX380_COM_DLL;
  for (auto* path : {&host, &dll})
    for (auto& c : *path)
      if (c == L'/') c = L'\\';
  std::wstring command = L"\"" + host + L"\" com 500 \"" + dll + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const DWORD waited = WaitForSingleObject(pi.hProcess, 300000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(WAIT_OBJECT_0, waited) << "the host did not exit";
  EXPECT_EQ(0u, code) << "a worker did not end, failed, or threads or handles grew (the host printed which)";
}
#endif
