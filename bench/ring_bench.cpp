// The trace ring against the socket: DebugTrace and the entry/exit pair with a listener on the
// ring, against bare datagram sends of the same bytes to a listening socket and against the
// same calls on the socket channel.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "BenchSupport.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/TraceRingPosix.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"
#include "RingFirstPlatform.h"

namespace {
using vx380::String;
using vx380::bench::ChannelListener;
using vx380::bench::RingListener;

const char kLine[] = "ERROR: BenchApp - SaveFile described as: Disk full, Error Number is: 61";
const char kEntryLine[] = "RBDEBUG , BEG>>> , ........ , LoadDrawing , start , EOL \n";
const char kExitLine[] = "RBDEBUG , END<<< ,        0 , LoadDrawing , done , EOL \n";

// A socket listener (the baseline's target, and where the ring's name comes from), a ring
// listener, and the ring-first platform installed for the pair's lifetime.
struct RingState {
  ChannelListener socket;
  RingListener ring;
  int fd = vx380::bench::ConnectedChannel(socket.path());
  vx380::bench::RingFirstPlatform platform{&vx380::posix::TryWriteRing, &vx380::posix::WriteDebugSocketLine};
  vx380::Platform* previous = vx380::SetPlatform(&platform);
  vx380::ErrorLog log;
  std::string line = std::string(kLine) + "\n";
  String text = vx380::FromUtf8(kLine);
  ~RingState() {
    vx380::SetPlatform(previous);
    ::close(fd);
  }
  void Pair() {
    log.RBDEBUGENTER(u"LoadDrawing", u"start");
    log.RBDEBUGEXIT(u"done");
  }
  void TwoSends() {
    ::send(fd, kEntryLine, sizeof kEntryLine - 1, MSG_NOSIGNAL);
    ::send(fd, kExitLine, sizeof kExitLine - 1, MSG_NOSIGNAL);
  }
};

std::shared_ptr<RingState> MakeRingState() {
  auto st = std::make_shared<RingState>();
  st->log.Main();
  return st;
}

vx380::bench::RegisterPair ringWrite("RingWrite", "RawChannelWrite", 0.10, [] {
  auto st = MakeRingState();
  return vx380::bench::PairSides{[st] { vx380::posix::TryWriteRing(st->line); },
                                 [st] { ::send(st->fd, st->line.data(), st->line.size(), MSG_NOSIGNAL); }, st};
});

vx380::bench::RegisterPair ringDebugTrace("DebugTraceOnRing", "RawChannelWrite", 0.10, [] {
  auto st = MakeRingState();
  return vx380::bench::PairSides{[st] { st->log.DebugTrace(st->text); },
                                 [st] { ::send(st->fd, st->line.data(), st->line.size(), MSG_NOSIGNAL); }, st};
});

vx380::bench::RegisterPair ringPairVsSends("EnterExitPairOnRing", "TwoRawChannelWrites", 0.10, [] {
  auto st = MakeRingState();
  return vx380::bench::PairSides{[st] { st->Pair(); }, [st] { st->TwoSends(); }, st};
});

vx380::bench::RegisterPair ringPairVsSocket("EnterExitPairOnRing", "EnterExitPair", 0.10, [] {
  auto st = MakeRingState();
  return vx380::bench::PairSides{[st] {
                                   st->platform.ring = true;
                                   st->Pair();
                                 },
                                 [st] {
                                   st->platform.ring = false;
                                   st->Pair();
                                 },
                                 st};
});
// A record's stamp: the time stamp counter where the listener found it fit, against the
// monotonic clock stamps were read from before; it must not cost more than that clock.
vx380::bench::RegisterPair stampTicks("RingStampTicks", "RingStampNowNs", 1.0, [] {
  vx380::channel::RingSystem& system = vx380::posix::PosixRingSystem();
  if (!system.HasTicks()) return vx380::bench::PairSides{{}, {}, {}, "the time stamp counter is not fit here"};
  return vx380::bench::PairSides{[&system] { benchmark::DoNotOptimize(system.Ticks()); },
                                 [&system] { benchmark::DoNotOptimize(system.NowNs()); }, nullptr};
});
}  // namespace
