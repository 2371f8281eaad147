// LogError with logging on against a raw open-append-close of the same line, and DebugTrace
// against a raw datagram of the same text to the debug channel.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "BenchSupport.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"
#include "vx380/PosixPlatform.h"

namespace {
using vx380::bench::ChannelListener;
using vx380::bench::ScratchDirectory;

const char kLine[] = "ERROR: BenchApp - SaveFile described as: Disk full, Error Number is: 61";

void BM_RawOpenAppendClose(benchmark::State& state) {
  const std::string path = ScratchDirectory() + "/raw.log";
  const std::string line = std::string(kLine) + "\r\n";
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
  }
  ::unlink(path.c_str());
}
BENCHMARK(BM_RawOpenAppendClose);

// No debugger listens, as in production: the debug line costs one failed datagram.
void BM_LogErrorLoggingOn(benchmark::State& state) {
  ::setenv("VX380_DEBUG_SOCKET", (ScratchDirectory() + "/nobody-listens.sock").c_str(), 1);
  const std::string path = ScratchDirectory() + "/logerror.log";
  vx380::ErrorLog log;
  log.Main();
  log.Initialize(u"LoadTest", u"");  // before the level: a first LogError would reset it
  log.LogFilename(vx380::FromUtf8(path));
  log.ReportingLevel(vx380::mxReportingLevelLog);
  const vx380::String procedure = u"SaveFile";
  const vx380::Long number = 61;
  for (auto _ : state) log.LogError(u"BenchApp", u"Disk full", u"", 0, number, procedure);
  ::unlink(path.c_str());
}
BENCHMARK(BM_LogErrorLoggingOn);

void BM_RawChannelWrite(benchmark::State& state) {
  ChannelListener listener;
  const int fd = vx380::bench::ConnectedChannel(listener.path());
  const std::string text = std::string(kLine) + "\n";
  for (auto _ : state) benchmark::DoNotOptimize(::send(fd, text.data(), text.size(), MSG_NOSIGNAL));
  ::close(fd);
}
BENCHMARK(BM_RawChannelWrite);

void BM_DebugTrace(benchmark::State& state) {
  ChannelListener listener;
  vx380::ErrorLog log;
  const vx380::String text = vx380::FromUtf8(kLine);
  for (auto _ : state) log.DebugTrace(text);
}
BENCHMARK(BM_DebugTrace);

struct LogErrorState {
  std::string rawPath = ScratchDirectory() + "/raw-pair.log";
  std::string logPath = ScratchDirectory() + "/logerror-pair.log";
  std::string line = std::string(kLine) + "\r\n";
  vx380::ErrorLog log;
  ~LogErrorState() {
    ::unlink(rawPath.c_str());
    ::unlink(logPath.c_str());
  }
};

vx380::bench::RegisterPair logErrorPair("LogErrorLoggingOn", "RawOpenAppendClose", 1.0, [] {
  ::setenv("VX380_DEBUG_SOCKET", (ScratchDirectory() + "/nobody-listens.sock").c_str(), 1);
  auto st = std::make_shared<LogErrorState>();
  st->log.Main();
  st->log.Initialize(u"LoadTest", u"");
  st->log.LogFilename(vx380::FromUtf8(st->logPath));
  st->log.ReportingLevel(vx380::mxReportingLevelLog);
  return vx380::bench::PairSides{[st] {
                                   const vx380::Long number = 61;
                                   st->log.LogError(u"BenchApp", u"Disk full", u"", 0, number, u"SaveFile");
                                 },
                                 [st] {
                                   int fd =
                                       ::open(st->rawPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
                                   benchmark::DoNotOptimize(::write(fd, st->line.data(), st->line.size()));
                                   ::close(fd);
                                 },
                                 st};
});

struct DebugTraceState {
  ChannelListener listener;
  int fd = vx380::bench::ConnectedChannel(listener.path());
  std::string line = std::string(kLine) + "\n";
  vx380::String text = vx380::FromUtf8(kLine);
  vx380::ErrorLog log;
  ~DebugTraceState() { ::close(fd); }
};

vx380::bench::RegisterPair debugTracePair("DebugTrace", "RawChannelWrite", 1.1, [] {
  auto st = std::make_shared<DebugTraceState>();
  return vx380::bench::PairSides{[st] { st->log.DebugTrace(st->text); },
                                 [st] { ::send(st->fd, st->line.data(), st->line.size(), MSG_NOSIGNAL); }, st};
});

// The channel alone, without the component's own work: where the socket channel's cost lies.
vx380::bench::RegisterPair channelLinePair("ChannelWriteLine", "RawChannelWrite", 1.1, [] {
  auto st = std::make_shared<DebugTraceState>();
  return vx380::bench::PairSides{[st] { vx380::SystemPlatform().WriteDebugLine(st->line); },
                                 [st] { ::send(st->fd, st->line.data(), st->line.size(), MSG_NOSIGNAL); }, st};
});
}  // namespace
