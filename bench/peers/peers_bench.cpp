// The component beside what users would pick instead, one 40-byte line through each,
// interleaved in one process: spdlog (its level off), LTTng-UST (a tracepoint no session
// enables, and one an active session records), against DebugTrace with nobody listening and
// with a listener on the ring. The LTTng pairs need a session daemon: the bench starts one
// when none runs, and skips them with the reason where it cannot.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "PeerTracepoint.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace {

const char kLine[] = "RBDEBUG: LoadDrawing reached step 12 ok";  // and "\n": 40 bytes
const vx380::String kText = u"RBDEBUG: LoadDrawing reached step 12 ok";

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// DebugTrace as a host calls it, with the debug socket pointed at `socket`: with a literal,
// or with a String the host holds (which the by-value parameter copies).
struct Traced {
  explicit Traced(const std::string& socket) { ::setenv("VX380_DEBUG_SOCKET", socket.c_str(), 1); }
  vx380::ErrorLog log;
  void Call() { log.DebugTrace(u"RBDEBUG: LoadDrawing reached step 12 ok"); }
  void CallWithString() { log.DebugTrace(kText); }
};

struct NobodyListening : Traced {
  NobodyListening() : Traced(vx380::bench::ScratchDirectory() + "/nobody.sock") {}
};

// A socket listener and a ring listener draining on their own threads, as vxtrace does.
struct RingListening {
  vx380::bench::ChannelListener socket;
  vx380::bench::RingListener ring;
  Traced traced{socket.path()};
};

std::shared_ptr<spdlog::logger> LevelOffLogger() {
  auto logger = std::make_shared<spdlog::logger>("off", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger->set_level(spdlog::level::off);
  return logger;
}

void FireTracepoint() { tracepoint(vx380_bench, line, kLine); }

// An LTTng session recording the bench's tracepoint for as long as it lives.
struct LttngSession {
  std::string name = "vx380-bench-" + std::to_string(::getpid());
  std::string skipped;

  LttngSession() {
    if (!Run("lttng list") && !Run("lttng-sessiond --daemonize")) {
      skipped = "no LTTng session daemon runs here, and none could be started";
      return;
    }
    const std::string output = vx380::bench::ScratchDirectory() + "/lttng";
    if (!Run("lttng create " + name + " --output=" + output) ||
        !Run("lttng enable-event --userspace --session=" + name + " vx380_bench:line") || !Run("lttng start " + name)) {
      skipped = "the LTTng session could not be made (lttng create, enable-event, start)";
      return;
    }
    // The process registers with the daemon on its own schedule: wait for the event to be on.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!tracepoint_enabled(vx380_bench, line) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!tracepoint_enabled(vx380_bench, line)) skipped = "this process never registered with the LTTng daemon";
  }
  ~LttngSession() { Run("lttng destroy " + name); }
};

vx380::bench::PairSides NobodyAgainst(std::function<void()> baseline, std::shared_ptr<void> peer) {
  auto ours = std::make_shared<NobodyListening>();
  ours->Call();  // finds nobody
  auto state = std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<void>>>(ours, peer);
  return {[ours] { ours->Call(); }, std::move(baseline), state};
}

vx380::bench::RegisterPair nobodyVsSpdlog("DebugTraceNobodyListening", "SpdlogLevelOff", 1.0, [] {
  auto logger = LevelOffLogger();
  return NobodyAgainst([logger] { logger->info(kLine); }, logger);
});

// A host's String goes to the by-value DebugTrace, whose parameter copies it.
vx380::bench::RegisterPair stringVsSpdlog("DebugTraceStringNobodyListening", "SpdlogLevelOff", 1.0, [] {
  auto logger = LevelOffLogger();
  auto ours = std::make_shared<NobodyListening>();
  ours->CallWithString();  // finds nobody
  auto state = std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<void>>>(ours, logger);
  return vx380::bench::PairSides{[ours] { ours->CallWithString(); }, [logger] { logger->info(kLine); }, state};
});

// That copy alone, before any of the component's code runs: the floor under the pair above.
vx380::bench::RegisterPair copyVsSpdlog("ByValueArgumentCopy", "SpdlogLevelOff", 1.0, [] {
  auto logger = LevelOffLogger();
  return vx380::bench::PairSides{[] {
                                   vx380::String copy = kText;
                                   benchmark::DoNotOptimize(copy.data());
                                 },
                                 [logger] { logger->info(kLine); }, logger};
});

vx380::bench::RegisterPair nobodyVsLttng("DebugTraceNobodyListening", "LttngTracepointNoSession", 3.0, [] {
  if (tracepoint_enabled(vx380_bench, line)) return vx380::bench::PairSides{{}, {}, {}, "a session records it"};
  return NobodyAgainst(FireTracepoint, nullptr);
});

vx380::bench::PairSides RingAgainstSession() {
  auto session = std::make_shared<LttngSession>();
  if (!session->skipped.empty()) return {{}, {}, {}, session->skipped};
  auto ours = std::make_shared<RingListening>();
  auto state = std::make_shared<std::pair<std::shared_ptr<void>, std::shared_ptr<void>>>(ours, session);
  return {[ours] { ours->traced.Call(); }, FireTracepoint, state};
}

vx380::bench::RegisterPair ringVsSession("DebugTraceOnRing", "LttngEventInSession", 0.5, RingAgainstSession);
vx380::bench::RegisterPair ringVsSession4("DebugTraceOnRing x4", "LttngEventInSession x4", 0.5, RingAgainstSession, 4,
                                          4);

// The same with threads that live across the rounds, as a host's do: the calls alone count.
vx380::bench::RegisterPair ringVsSession4Live("DebugTraceOnRing x4 live", "LttngEventInSession x4 live", 0.5,
                                              RingAgainstSession, 4, 4, true);

vx380::bench::RegisterPair ringFourVsOne(
    "DebugTraceOnRing x4", "DebugTraceOnRing x1", 1.2,
    [] {
      auto ours = std::make_shared<RingListening>();
      return vx380::bench::PairSides{[ours] { ours->traced.Call(); }, [ours] { ours->traced.Call(); }, ours};
    },
    4, 1);

vx380::bench::RegisterPair ringFourVsOneLive(
    "DebugTraceOnRing x4 live", "DebugTraceOnRing x1 live", 1.2,
    [] {
      auto ours = std::make_shared<RingListening>();
      return vx380::bench::PairSides{[ours] { ours->traced.Call(); }, [ours] { ours->traced.Call(); }, ours};
    },
    4, 1, true);

// How soon a listener that binds the socket hears a host that traces without pause and had
// found nobody there: from the bind to the first line read, over 101 listeners in turn.
void BM_ListenerHeardAfterItBinds(benchmark::State& state) {
  const std::string socket = vx380::bench::ScratchDirectory() + "/arrives.sock";
  Traced traced(socket);
  auto& platform = dynamic_cast<vx380::ListenerAwarePlatform&>(vx380::SystemPlatform());
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int trial = 0; trial < 101; ++trial) {
      for (int i = 0; i < 1000 && platform.DebugOutputHeard(); ++i) {
        traced.Call();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      const auto bound = std::chrono::steady_clock::now();
      char line[128];
      do traced.Call();
      while (::recv(fd, line, sizeof line, MSG_DONTWAIT) < 0 &&
             std::chrono::steady_clock::now() - bound < std::chrono::seconds(5));
      micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - bound).count());
      ::close(fd);
      ::unlink(socket.c_str());
    }
  }
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p90_us"] = micros[micros.size() * 9 / 10];
  state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_ListenerHeardAfterItBinds)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
