// A host that loads the COM server on worker threads and frees it again, round after round,
// as the process's only user of it: every thread must end, the process must exit, and
// threads and handles must not grow.
//   vx380_win_load_host.exe load|com ROUNDS DLLPATH
// load: a worker loads the DLL, uses an object, and a tracing thread of its own uses another;
//       the worker frees the DLL before or after the tracing thread ends (rounds alternate);
//       the first round's load is the process's first.
// com:  a worker STA creates the object with CoCreateInstance, releases it, frees unused
//       libraries and leaves its apartment (the server must be registered).
// Prints "ok" and exits 0, or says what went wrong and exits 1.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "VX380ErrorLogging.h"
#include "WinTestSupport.h"

namespace {

constexpr DWORD kThreadEndMs = 60000;  // a thread that has not ended by then never will
const wchar_t* g_dll = nullptr;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// Calls that leave per-thread records behind in the server.
void Use(_ErrorLog* log) {
  BSTR app = SysAllocString(L"LoadHost"), none = SysAllocString(L""), text = SysAllocString(L"load host");
  log->Initialize(app, none);
  VARIANT_BOOL suppress = VARIANT_FALSE;
  log->RBDEBUGENTER(text, &none, &suppress);
  log->DebugTrace(text);
  log->RBDEBUGEXIT(&none);
  SysFreeString(app);
  SysFreeString(none);
  SysFreeString(text);
}

bool UseThroughFactory(HMODULE dll) {
  auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  if (!get || FAILED(get(CLSID_ErrorLog, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return false;
  _ErrorLog* log = nullptr;
  const HRESULT hr = factory->CreateInstance(nullptr, IID__ErrorLog, reinterpret_cast<void**>(&log));
  factory->Release();
  if (FAILED(hr)) return false;
  Use(log);
  log->Release();
  return true;
}

struct Round {
  HMODULE dll = nullptr;
  HANDLE used = nullptr;   // set once the tracer released its objects
  HANDLE freed = nullptr;  // set once the worker freed the DLL
  bool tracerWaitsForFree = false;
  bool ok = true;
};

DWORD WINAPI Tracer(void* context) {
  auto* round = static_cast<Round*>(context);
  if (!UseThroughFactory(round->dll)) round->ok = false;
  SetEvent(round->used);
  if (round->tracerWaitsForFree) WaitForSingleObject(round->freed, kThreadEndMs);
  return 0;
}

bool Ends(HANDLE thread) {
  const bool ended = WaitForSingleObject(thread, kThreadEndMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

DWORD WINAPI LoadWorker(void* context) {
  auto* round = static_cast<Round*>(context);
  round->dll = LoadLibraryW(g_dll);
  if (!round->dll || !UseThroughFactory(round->dll)) return 1;
  HANDLE tracer = CreateThread(nullptr, 0, Tracer, round, 0, nullptr);
  if (!tracer) return 1;
  // Either way the tracer's objects are gone before the DLL goes; on odd rounds the tracer
  // thread itself ends only after that.
  if (!round->tracerWaitsForFree && !Ends(tracer)) return 2;
  WaitForSingleObject(round->used, kThreadEndMs);
  FreeLibrary(round->dll);
  SetEvent(round->freed);
  if (round->tracerWaitsForFree && !Ends(tracer)) return 2;
  return 0;
}

DWORD WINAPI ComWorker(void*) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  _ErrorLog* log = nullptr;
  HRESULT hr =
      CoCreateInstance(CLSID_ErrorLog, nullptr, CLSCTX_INPROC_SERVER, IID__ErrorLog, reinterpret_cast<void**>(&log));
  if (SUCCEEDED(hr)) {
    Use(log);
    log->Release();
  }
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}

bool RunRound(bool com, int n) {
  Round round;
  round.used = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  round.freed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  round.tracerWaitsForFree = n % 2 == 1;
  HANDLE worker = CreateThread(nullptr, 0, com ? ComWorker : LoadWorker, &round, 0, nullptr);
  DWORD code = 99;
  const bool ended = worker && WaitForSingleObject(worker, kThreadEndMs) == WAIT_OBJECT_0;
  if (worker) GetExitCodeThread(worker, &code);
  if (worker) CloseHandle(worker);
  CloseHandle(round.used);
  CloseHandle(round.freed);
  if (!ended) std::printf("round %d: the worker thread did not end\n", n);
  else if (code != 0 || !round.ok) std::printf("round %d: the worker failed (%lu)\n", n, code);
  else return true;
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 64;
  const bool com = std::wstring(argv[1]) == L"com";
  const int rounds = _wtoi(argv[2]);
  g_dll = argv[3];
  if (GetModuleHandleW(L"VX380ErrorLog.dll")) return 64;  // the first load is the worker's
  unsigned long handles = 0, threads = 0;
  for (int n = 0; n < rounds; ++n) {
    if (!RunRound(com, n)) return 1;
    if (n == rounds / 10) {  // after warming up: what every later round must stay within
      handles = vx380::wintest::HandleCount();
      threads = vx380::wintest::ThreadCount();
    }
  }
  const unsigned long handlesAfter = vx380::wintest::HandleCount(), threadsAfter = vx380::wintest::ThreadCount();
  std::printf("handles %lu -> %lu, threads %lu -> %lu\n", handles, handlesAfter, threads, threadsAfter);
  if (handlesAfter > handles + 20 || threadsAfter > threads + 1) return 1;
  std::printf("ok\n");
  std::fflush(stdout);
  return 0;
}
