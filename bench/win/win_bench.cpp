// vx380_win_bench: the cost of one DebugTrace through the COM server, early bound and through
// IDispatch::Invoke, as a ratio of one raw OutputDebugStringA of the same line and Invoke also
// against the early-bound call, all measured in one process and one run. A script engine
// calls by name: it looks the member up and passes its variable by reference on every call.
// ByNameDebugTrace does the same, against Scripting.Dictionary's Exists called that way plus
// one raw OutputDebugStringA, so the server's share of a script's DebugTrace is compared with
// a built-in object's.
//
//   vx380_win_bench.exe [--calls N] [--rounds R] [--target X] [--quiet]
//
// Every round times a short batch of N calls of each candidate back to back, starting with a
// different candidate each round. The reported ratio is the median over the rounds of the
// candidate's batch time over the baseline's batches of the same round: batches a few
// milliseconds apart see the same load, so on a busy machine this pairing is far steadier
// than the ratio of two medians (the detail table shows each median over the raw call's,
// with the spread). The registered server (VX380ErrorLogging.ErrorLog) is used; whether a
// DBWIN listener was present is detected and printed, because a listener makes every
// OutputDebugStringA wait for it.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VX380ErrorLogging.h"

namespace {

// DebugTrace appends the line end itself: both paths hand the same bytes to the system.
const char kRawLine[] = "RBDEBUG: benchmark line\n";
const wchar_t kTraceText[] = L"RBDEBUG: benchmark line";

[[noreturn]] void Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "vx380_win_bench: %s failed (0x%08lx)\n", what, static_cast<unsigned long>(hr));
  std::exit(1);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double Quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[static_cast<size_t>(q * (v.size() - 1) + 0.5)];
}

bool ListenerPresent() {
  HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
  if (!h) return false;
  CloseHandle(h);
  return true;
}

struct Candidate {
  const char* name;
  void (*batch)(void* context, int calls);
  void* context;
  bool traces;                       // sends one debug line per call
  std::vector<double> microseconds;  // per call, one entry per round
};

// A candidate's time over the sum of its baselines' times in the same round.
struct Ratio {
  size_t candidate;
  std::vector<size_t> baselines;
  double target = 0;  // 0: the run's --target
};

struct ComCalls {
  _ErrorLog* early = nullptr;
  IDispatch* dispatch = nullptr;
  DISPID dispid = 0;
  BSTR text = nullptr;
};

void RawBatch(void*, int calls) {
  for (int i = 0; i < calls; ++i) OutputDebugStringA(kRawLine);
}

void EarlyBoundBatch(void* context, int calls) {
  auto* c = static_cast<ComCalls*>(context);
  for (int i = 0; i < calls; ++i) {
    HRESULT hr = c->early->DebugTrace(c->text);
    if (FAILED(hr)) Fail("_ErrorLog::DebugTrace", hr);
  }
}

void InvokeBatch(void* context, int calls) {
  auto* c = static_cast<ComCalls*>(context);
  for (int i = 0; i < calls; ++i) {
    // A script host builds the argument array for every call; so does this loop.
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = c->text;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    HRESULT hr = c->dispatch->Invoke(c->dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                     nullptr, nullptr);
    if (FAILED(hr)) Fail("IDispatch::Invoke(DebugTrace)", hr);
  }
}

// What a script engine does for `obj.Member variable`: look the name up, then invoke with
// the variable passed by reference.
struct ByNameCall {
  IDispatch* target = nullptr;
  const wchar_t* name = nullptr;
  VARIANT variable;
};

void ByNameBatch(void* context, int calls) {
  auto* c = static_cast<ByNameCall*>(context);
  LPOLESTR name = const_cast<LPOLESTR>(c->name);
  for (int i = 0; i < calls; ++i) {
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = c->target->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) Fail("GetIDsOfNames (by name)", hr);
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_VARIANT;
    arg.pvarVal = &c->variable;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    hr = c->target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    if (FAILED(hr)) Fail("Invoke (by name)", hr);
    VariantClear(&result);
  }
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Usage() {
  std::fprintf(stderr, "usage: vx380_win_bench [--calls N] [--rounds R] [--target X] [--quiet]\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  int calls = 50, rounds = 401;
  double target = 1.2;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--calls" && i + 1 < argc) calls = std::atoi(argv[++i]);
    else if (a == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (a == "--target" && i + 1 < argc) target = std::atof(argv[++i]);
    else if (a == "--quiet") quiet = true;
    else return Usage();
  }
  if (calls < 1 || rounds < 1 || !(target > 0)) return Usage();

  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) Fail("CoInitializeEx", hr);
  ComCalls com;
  hr = CoCreateInstance(CLSID_ErrorLog, nullptr, CLSCTX_INPROC_SERVER, IID__ErrorLog,
                        reinterpret_cast<void**>(&com.early));
  if (FAILED(hr)) Fail("CoCreateInstance(VX380ErrorLogging.ErrorLog) - is the DLL registered?", hr);
  hr = com.early->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&com.dispatch));
  if (FAILED(hr)) Fail("QueryInterface(IDispatch)", hr);
  // Looked up once, as an early-binding client of the dispatch interface would.
  LPOLESTR member = const_cast<LPOLESTR>(L"DebugTrace");
  hr = com.dispatch->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &com.dispid);
  if (FAILED(hr)) Fail("GetIDsOfNames(DebugTrace)", hr);
  com.text = SysAllocString(kTraceText);

  ByNameCall trace;
  trace.target = com.dispatch;
  trace.name = L"DebugTrace";
  VariantInit(&trace.variable);
  trace.variable.vt = VT_BSTR;
  trace.variable.bstrVal = com.text;
  ByNameCall exists;
  exists.name = L"Exists";
  exists.variable = trace.variable;
  CLSID dictionaryClass;
  hr = CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClass);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(dictionaryClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&exists.target));
  if (FAILED(hr)) Fail("CoCreateInstance(Scripting.Dictionary)", hr);
  {
    // The key is present: Exists finds it and compares the whole string.
    VARIANT key = trace.variable, item;
    VariantInit(&item);
    item.vt = VT_I4;
    item.lVal = 1;
    VARIANTARG args[2] = {item, key};  // right to left
    DISPPARAMS params = {args, nullptr, 2, 0};
    DISPID add = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(L"Add");
    hr = exists.target->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &add);
    if (SUCCEEDED(hr))
      hr = exists.target->Invoke(add, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                 nullptr);
    if (FAILED(hr)) Fail("Scripting.Dictionary.Add", hr);
  }

  enum { kRaw, kEarly, kInvoke, kByName, kDictionary };
  std::vector<Candidate> candidates = {
      {"RawOutputDebugStringA", RawBatch, nullptr, true, {}},
      {"EarlyBoundDebugTrace", EarlyBoundBatch, &com, true, {}},
      {"DispatchInvokeDebugTrace", InvokeBatch, &com, true, {}},
      {"ByNameDebugTrace", ByNameBatch, &trace, true, {}},
      {"ByNameDictExists", ByNameBatch, &exists, false, {}},
  };
  const std::vector<Ratio> ratios = {
      {kEarly, {kRaw}},
      {kInvoke, {kRaw}},
      // What Invoke's own translation adds on top of the vtable call it ends in.
      {kInvoke, {kEarly}, 1.05},
      {kByName, {kDictionary, kRaw}},
  };
  const bool listener = ListenerPresent();
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);

  // One untimed round: first-call costs (type information, the server's per-thread state).
  long long sent = 0;
  for (Candidate& c : candidates) {
    c.batch(c.context, calls);
    if (c.traces) sent += calls;
  }
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < candidates.size(); ++k) {
      Candidate& c = candidates[(round + k) % candidates.size()];
      LARGE_INTEGER start, end;
      QueryPerformanceCounter(&start);
      c.batch(c.context, calls);
      QueryPerformanceCounter(&end);
      c.microseconds.push_back(Seconds(start, end, frequency) * 1e6 / calls);
      if (c.traces) sent += calls;
    }
  }

  const std::string suffix = listener ? "+listener" : "";
  std::printf(
      "vx380_win_bench: %d rounds x %d calls per candidate, interleaved; DBWIN listener %s; "
      "%lld debug lines sent\n",
      rounds, calls, listener ? "present" : "absent", sent);
  if (!quiet) {
    const Candidate& raw = candidates[kRaw];
    std::printf("\n%-44s %12s %12s %12s %16s\n", "candidate", "median us", "p25 us", "p75 us", "median/raw");
    for (const Candidate& c : candidates)
      std::printf("%-44s %12.3f %12.3f %12.3f %16.3f\n", (c.name + suffix).c_str(), Median(c.microseconds),
                  Quantile(c.microseconds, 0.25), Quantile(c.microseconds, 0.75),
                  Median(c.microseconds) / Median(raw.microseconds));
  }
  // Baselines come from the same run, so only the candidate carries the listener mark.
  std::printf("\n%-44s %-40s %8s %8s\n", "candidate", "baseline", "ratio", "target");
  for (const Ratio& ratio : ratios) {
    std::string baseline;
    std::vector<double> paired;
    for (size_t b : ratio.baselines) {
      if (!baseline.empty()) baseline += '+';
      baseline += candidates[b].name;
    }
    for (int r = 0; r < rounds; ++r) {
      double sum = 0;
      for (size_t b : ratio.baselines) sum += candidates[b].microseconds[r];
      paired.push_back(candidates[ratio.candidate].microseconds[r] / sum);
    }
    std::printf("%-44s %-40s %8.3f %8.2f\n", (candidates[ratio.candidate].name + suffix).c_str(), baseline.c_str(),
                Median(paired), ratio.target > 0 ? ratio.target : target);
  }

  exists.target->Release();
  SysFreeString(com.text);
  com.dispatch->Release();
  com.early->Release();
  CoUninitialize();
  return 0;
}
