// The module stack: an entry/exit pair against two raw channel writes of the same lines, and
// the pair's bookkeeping (level suppressed, so nothing is written) at depth 16,000 against 1.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "BenchSupport.h"
#include "vx380/ErrorLog.h"

namespace {
using vx380::bench::ChannelListener;

void BM_TwoRawChannelWrites(benchmark::State& state) {
  ChannelListener listener;
  const int fd = vx380::bench::ConnectedChannel(listener.path());
  const std::string entry = "RBDEBUG , BEG>>> , ........ , LoadDrawing , start , EOL \n";
  const std::string exit = "RBDEBUG , END<<< ,        0 , LoadDrawing , done , EOL \n";
  for (auto _ : state) {
    ::send(fd, entry.data(), entry.size(), MSG_NOSIGNAL);
    ::send(fd, exit.data(), exit.size(), MSG_NOSIGNAL);
  }
  ::close(fd);
}
BENCHMARK(BM_TwoRawChannelWrites);

void BM_EnterExitPair(benchmark::State& state) {
  ChannelListener listener;
  vx380::ErrorLog log;
  log.Main();
  const vx380::String note = u"start", done = u"done";
  for (auto _ : state) {
    log.RBDEBUGENTER(u"LoadDrawing", note);
    log.RBDEBUGEXIT(done);
  }
}
BENCHMARK(BM_EnterExitPair);

// An exit on a balanced stack says so; DebugTrace is virtual, so the line is caught here.
struct ExitProbe : vx380::ErrorLog {
  vx380::String last;
  void DebugTrace(vx380::String line) override { last = std::move(line); }
};

// Bookkeeping of a suppressed pair on top of `depth` levels already on the stack.
void SuppressedPairAtDepth(benchmark::State& state, int depth) {
  vx380::ErrorLog log;
  const vx380::Boolean suppress = vx380::kTrue;
  for (int i = 1; i < depth; ++i) log.RBDEBUGENTER(u"Level", u"", suppress);
  for (auto _ : state) {
    log.RBDEBUGENTER(u"Routine", u"", suppress);
    log.RBDEBUGEXIT();
  }
  for (int i = 1; i < depth; ++i) log.RBDEBUGEXIT();
  ExitProbe probe;
  probe.RBDEBUGEXIT();
  if (probe.last != u"RBDEBUG Stack is empty") state.SkipWithError("stack not balanced");
}
void BM_SuppressedPairDepth1(benchmark::State& state) { SuppressedPairAtDepth(state, 1); }
void BM_SuppressedPairDepth16000(benchmark::State& state) { SuppressedPairAtDepth(state, 16000); }
BENCHMARK(BM_SuppressedPairDepth1);
BENCHMARK(BM_SuppressedPairDepth16000);

const char kEntryLine[] = "RBDEBUG , BEG>>> , ........ , LoadDrawing , start , EOL \n";
const char kExitLine[] = "RBDEBUG , END<<< ,        0 , LoadDrawing , done , EOL \n";

struct SocketPairState {
  ChannelListener listener;
  int fd = vx380::bench::ConnectedChannel(listener.path());
  vx380::ErrorLog log;
  ~SocketPairState() { ::close(fd); }
};

vx380::bench::RegisterPair enterExitPair("EnterExitPair", "TwoRawChannelWrites", 1.10, [] {
  auto st = std::make_shared<SocketPairState>();
  st->log.Main();
  return vx380::bench::PairSides{[st] {
                                   st->log.RBDEBUGENTER(u"LoadDrawing", u"start");
                                   st->log.RBDEBUGEXIT(u"done");
                                 },
                                 [st] {
                                   ::send(st->fd, kEntryLine, sizeof kEntryLine - 1, MSG_NOSIGNAL);
                                   ::send(st->fd, kExitLine, sizeof kExitLine - 1, MSG_NOSIGNAL);
                                 },
                                 st};
});
// The pair's own bookkeeping (level suppressed: no line) run between the same two bare sends:
// what the component's work costs when every system call leaves the caches and predictors
// cold, next to the few tens of nanoseconds it costs warm.
vx380::bench::RegisterPair pairBetweenSends("SuppressedPairBetweenSends", "TwoRawChannelWrites", 1.10, [] {
  auto st = std::make_shared<SocketPairState>();
  st->log.Main();
  return vx380::bench::PairSides{[st] {
                                   const vx380::Boolean suppress = vx380::kTrue;
                                   st->log.RBDEBUGENTER(u"LoadDrawing", u"start", suppress);
                                   ::send(st->fd, kEntryLine, sizeof kEntryLine - 1, MSG_NOSIGNAL);
                                   st->log.RBDEBUGEXIT(u"done");
                                   ::send(st->fd, kExitLine, sizeof kExitLine - 1, MSG_NOSIGNAL);
                                 },
                                 [st] {
                                   ::send(st->fd, kEntryLine, sizeof kEntryLine - 1, MSG_NOSIGNAL);
                                   ::send(st->fd, kExitLine, sizeof kExitLine - 1, MSG_NOSIGNAL);
                                 },
                                 st};
});
// The two sides of this one cannot share a thread's stack, so it stays a ratio of medians.
vx380::bench::RegisterRatio depthRatio("BM_SuppressedPairDepth16000", "BM_SuppressedPairDepth1", 1.05);
}  // namespace
