// LogError with logging on against a raw open-append-close of the same line, and DebugTrace
// against a raw datagram of the same text to the debug channel.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "BenchSupport.h"
#include "vx380/ErrorLog.h"
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
  for (auto _ : state)
    log.LogError(u"BenchApp", u"Disk full", u"", 0, number, procedure);
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

vx380::bench::RegisterRatio logErrorRatio("BM_LogErrorLoggingOn", "BM_RawOpenAppendClose", 1.2);
vx380::bench::RegisterRatio debugTraceRatio("BM_DebugTrace", "BM_RawChannelWrite", 1.1);
}  // namespace
