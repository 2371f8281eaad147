// The component beside what users would pick instead, one 40-byte line through each,
// interleaved in one process: spdlog (its level off), LTTng-UST (a tracepoint no session
// enables, and one an active session records), against DebugTrace with nobody listening and
// with a listener on the ring. The LTTng pairs need a session daemon: the bench starts one
// when none runs, and skips them with the reason where it cannot.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "PeerTracepoint.h"
#include "vx380/ErrorLog.h"

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

vx380::bench::RegisterPair ringFourVsOne(
    "DebugTraceOnRing x4", "DebugTraceOnRing x1", 1.2,
    [] {
      auto ours = std::make_shared<RingListening>();
      return vx380::bench::PairSides{[ours] { ours->traced.Call(); }, [ours] { ours->traced.Call(); }, ours};
    },
    4, 1);

}  // namespace
