// vx380_ring_win_bench: under Wine, the trace ring against OutputDebugStringA, and the switches
// read at every call (message log, time stamps) with their switch off. A listener on the ring
// runs in this process; whether a DBWIN listener is present (start dbwin_listen to have one)
// is detected and printed. Batches of each candidate and the baseline are interleaved over
// the rounds; a ratio is the median of the rounds' candidate/baseline quotients.
//
//   vx380_ring_win_bench.exe [--calls N] [--rounds R]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "../RingFirstPlatform.h"
#include "platform/win32/TraceRingWin32.h"
#include "vx380/ErrorLog.h"

namespace {

const char kRawLine[] = "RBDEBUG: benchmark line\n";

double Seconds() {
  LARGE_INTEGER f, t;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Batch(const std::function<void()>& call, int calls) {
  const double start = Seconds();
  for (int i = 0; i < calls; ++i) call();
  return Seconds() - start;
}

double At(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[static_cast<size_t>(q * (v.size() - 1) + 0.5)];
}

struct Row {
  const char* name;
  std::function<void()> call;
  double target;  // against OutputDebugStringA with nobody listening; ring rows 0.02 with a listener
  std::vector<double> quotients, perCall;
};

bool DbwinListening() {
  HANDLE h = ::OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY");
  if (h) ::CloseHandle(h);
  return h != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  int calls = 50, rounds = 201;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--calls") calls = std::max(1, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  ::SetEnvironmentVariableA("VX380_TRACE_RING", ("bench-" + std::to_string(::GetCurrentProcessId())).c_str());
  vx380::win32::TraceRingListener ring;
  std::string error;
  if (!ring.Open(error)) {
    std::fprintf(stderr, "vx380_ring_win_bench: %s\n", error.c_str());
    return 1;
  }
  std::atomic<bool> stop{false};
  std::atomic<long long> captured{0};
  std::thread reader([&] {
    auto count = [](void* c, const vx380::channel::RingRecord&) { ++*static_cast<std::atomic<long long>*>(c); };
    while (!stop)
      if (ring.Poll(count, &captured) == 0) ring.Wait(10);
  });
  vx380::bench::RingFirstPlatform platform{&vx380::win32::TryWriteRing};
  vx380::SetPlatform(&platform);
  vx380::ErrorLog log;
  log.Initialize(u"RingBench", u"");  // no Timing switch, no LogMessageLevel: both off
  const vx380::String text = u"RBDEBUG: benchmark line";
  const std::string line = kRawLine;
  while (!vx380::win32::TryWriteRing("warm up\n")) ::Sleep(1);

  const auto baseline = [&] { ::OutputDebugStringA(kRawLine); };
  std::vector<Row> rows;
  rows.push_back({"ring write (TryWriteRing)", [&] { vx380::win32::TryWriteRing(line); }, 0.10});
  rows.push_back({"DebugTrace on the ring", [&] { log.DebugTrace(text); }, 0.10});
  rows.push_back({"LogMsg, switch off", [&] { log.LogMsg(u"message"); }, 1.2});
  rows.push_back({"RBDEBUGTIMESTAMP, switch off", [&] { log.RBDEBUGTIMESTAMP(u"note"); }, 1.2});
  for (Row& r : rows) Batch(r.call, calls);
  Batch(baseline, calls);
  for (int round = 0; round < rounds; ++round)
    for (Row& r : rows) {
      const bool baseFirst = round % 2;
      const double b1 = baseFirst ? Batch(baseline, calls) : 0;
      const double c = Batch(r.call, calls);
      const double b = baseFirst ? b1 : Batch(baseline, calls);
      r.quotients.push_back(c / b);
      r.perCall.push_back(c / calls * 1e6);
    }
  stop = true;
  reader.join();
  ::Sleep(20);
  while (ring.Poll([](void* c, const vx380::channel::RingRecord&) { ++*static_cast<std::atomic<long long>*>(c); },
                   &captured) > 0) {
  }
  vx380::SetPlatform(nullptr);
  std::printf(
      "vx380_ring_win_bench: %d rounds x %d calls, interleaved; DBWIN listener %s; %lld lines captured "
      "from the ring, %llu dropped\n",
      rounds, calls, DbwinListening() ? "present" : "absent", captured.load(),
      static_cast<unsigned long long>(ring.Dropped()));
  std::printf("%-32s %10s %10s %17s %8s   (baseline: bare OutputDebugStringA)\n", "candidate", "us/call", "ratio",
              "p25-p75", "target");
  const bool listener = DbwinListening();
  for (const Row& r : rows)
    std::printf("%-32s %10.3f %10.4f %8.4f-%-8.4f %8.2f\n", r.name, At(r.perCall, 0.5), At(r.quotients, 0.5),
                At(r.quotients, 0.25), At(r.quotients, 0.75), listener && r.target == 0.10 ? 0.02 : r.target);
  return 0;
}
