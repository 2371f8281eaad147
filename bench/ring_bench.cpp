// The trace ring against the socket: DebugTrace and the entry/exit pair with a listener on the
// ring, against bare datagram sends of the same bytes to a listening socket and against the
// same calls on the socket channel.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "BenchSupport.h"
#include "platform/posix/TraceRingPosix.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace {
using vx380::bench::ChannelListener;
using vx380::bench::RingListener;
using vx380::String;

// The system platform with the ring tried first, as the socket channel does once it is wired;
// `ring` off sends on the socket alone.
class RingFirstPlatform final : public vx380::Platform {
 public:
  bool ring = true;
  void OutputDebugString(const std::string& ansi) override {
    if (ring && vx380::posix::TryWriteRing(ansi)) return;
    sys_.OutputDebugString(ansi);
  }
  bool RegOpenKey(vx380::Long key, const std::string& subKey, vx380::RegKeyHandle& opened) override {
    return sys_.RegOpenKey(key, subKey, opened);
  }
  bool RegQueryValue(vx380::RegKeyHandle key, const std::string& name, unsigned char* data,
                     std::uint32_t* size) override {
    return sys_.RegQueryValue(key, name, data, size);
  }
  void RegCloseKey(vx380::RegKeyHandle key) override { sys_.RegCloseKey(key); }
  vx380::Long MessageBox(const String& p, vx380::Long s, const String& t, const String& h, vx380::Long c) override {
    return sys_.MessageBox(p, s, t, h, c);
  }
  vx380::Long TickCount() override { return sys_.TickCount(); }
  vx380::Long OpenTextFile(const String& path, bool truncate, vx380::FileHandle& file) override {
    return sys_.OpenTextFile(path, truncate, file);
  }
  vx380::Long WriteTextFile(vx380::FileHandle file, const std::string& bytes) override {
    return sys_.WriteTextFile(file, bytes);
  }
  void CloseTextFile(vx380::FileHandle file) override { sys_.CloseTextFile(file); }
  vx380::ModuleHandle LoadResourceModule(const String& path) override { return sys_.LoadResourceModule(path); }
  void FreeResourceModule(vx380::ModuleHandle module) override { sys_.FreeResourceModule(module); }
  std::string LoadResourceString(vx380::ModuleHandle m, vx380::Long id, int chars) override {
    return sys_.LoadResourceString(m, id, chars);
  }
  bool DesktopFolder(String& path) override { return sys_.DesktopFolder(path); }
  bool GetEnvironment(const String& name, String& value) override { return sys_.GetEnvironment(name, value); }
  String CurrentDateText() override { return sys_.CurrentDateText(); }
  String CurrentTimeText() override { return sys_.CurrentTimeText(); }
  String CurrentDateTimeText() override { return sys_.CurrentDateTimeText(); }
  char16_t DecimalSeparator() override { return sys_.DecimalSeparator(); }
  std::string ToAnsi(const String& text) override { return sys_.ToAnsi(text); }
  String FromAnsi(const std::string& bytes) override { return sys_.FromAnsi(bytes); }

 private:
  vx380::Platform& sys_ = vx380::SystemPlatform();
};

const char kLine[] = "ERROR: BenchApp - SaveFile described as: Disk full, Error Number is: 61";
const char kEntryLine[] = "RBDEBUG , BEG>>> , ........ , LoadDrawing , start , EOL \n";
const char kExitLine[] = "RBDEBUG , END<<< ,        0 , LoadDrawing , done , EOL \n";

// A socket listener (the baseline's target, and where the ring's name comes from), a ring
// listener, and the ring-first platform installed for the pair's lifetime.
struct RingState {
  ChannelListener socket;
  RingListener ring;
  int fd = vx380::bench::ConnectedChannel(socket.path());
  RingFirstPlatform platform;
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
}  // namespace
