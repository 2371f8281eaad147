// vxtrace on Windows: a debug-output listener over the DBWIN protocol. Writers of
// OutputDebugStringA wait for DBWIN_BUFFER_READY, put their process id and text in
// the shared DBWIN_BUFFER, and signal DBWIN_DATA_READY; there can be one listener.
#include <windows.h>

#include <io.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Capture.h"
#include "platform/win32/OwnedHandles.h"

#ifdef VXTRACE_TRACE_RING
#include "MessageQueue.h"
#include "RingFeed.h"
#include "platform/win32/TraceRingSystemWin32.h"
#include "platform/win32/TraceRingWin32.h"
#endif

namespace vxtrace {
namespace {

using vx380::win32::MappedView;
using vx380::win32::UniqueHandle;

constexpr DWORD kBufferSize = 4096;  // a DWORD process id, then the text and its NUL

std::atomic<bool> gInterrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD) {
  gInterrupted = true;
  return TRUE;
}

std::string LastErrorText(const char* what) {
  return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

// The image's file name without its folder, as the process list shows it; "" once
// the process is gone.
std::string ProcessName(DWORD pid) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return "";
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  std::string name;
  if (QueryFullProcessImageNameW(process.get(), 0, path, &size)) {
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
      if (*p == L'\\' || *p == L'/') base = p + 1;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, base, -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 1) {
      name.resize(static_cast<size_t>(bytes));
      WideCharToMultiByte(CP_UTF8, 0, base, -1, name.data(), bytes, nullptr, nullptr);
      name.resize(static_cast<size_t>(bytes - 1));
    }
  }
  return name;
}

class DbwinListener : public Listener {
 public:
  WaitResult Wait(Message& message, int timeoutMs) override { return Take(message, timeoutMs, nullptr, nullptr); }

  // As Wait; a message taken holds `handOver` (when given) in `held` from before the buffer
  // is handed back, so the writer learns its line was read only once the line can be queued
  // ahead of its next ones. A hand-over held up longer than a moment is not waited for: the
  // writers wait for the buffer meanwhile, and would give up on their lines.
  WaitResult Take(Message& message, int timeoutMs, std::timed_mutex* handOver,
                  std::unique_lock<std::timed_mutex>* held) {
    DWORD r = WaitForSingleObject(dataReady_.get(), static_cast<DWORD>(timeoutMs));
    if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
    if (r != WAIT_OBJECT_0) {
      error_ = LastErrorText("WaitForSingleObject");
      return WaitResult::Failed;
    }
    DWORD pid;
    const char* buffer = static_cast<const char*>(view_.get());
    std::memcpy(&pid, buffer, sizeof pid);
    const char* text = buffer + sizeof pid;
    message.text.assign(text, strnlen(text, kBufferSize - sizeof pid));
    message.time = WallClockSeconds();
    message.pid = pid;
    message.tid = 0;  // the protocol does not tell threads apart
    // Once per process, before the buffer is handed back: the writer may end soon
    // after its last line.
    auto known = names_.find(pid);
    if (known == names_.end()) known = names_.emplace(pid, ProcessName(pid)).first;
    message.process = known->second;
    if (handOver && held) {
      *held = std::unique_lock<std::timed_mutex>(*handOver, std::defer_lock);
      (void)held->try_lock_for(std::chrono::milliseconds(100));
    }
    // Hand the buffer back at once: writers are blocked until they may write again.
    SetEvent(bufferReady_.get());
    return WaitResult::Received;
  }

  std::string Describe() const override { return "listening for debug output (DBWIN)" + note_; }
  std::string LastError() const override { return error_; }
  // Writers wait for the buffer, so nothing is dropped here, and the session's
  // objects admit no other user.
  CaptureLosses Losses() const override { return {}; }

  UniqueHandle mapping_, bufferReady_, dataReady_;
  MappedView view_;  // unmapped before the handles close
  std::string error_;
  std::string note_;
  std::map<DWORD, std::string> names_;
};

#ifdef VXTRACE_TRACE_RING
// From the ring's clock (the performance counter) to the Unix epoch, as DBWIN arrival times.
std::int64_t RingClockOffsetNs() {
  const double wall = WallClockSeconds();
  const std::uint64_t ring = vx380::win32::RingClockNs();
  return static_cast<std::int64_t>(wall * 1e6) * 1000 - static_cast<std::int64_t>(ring);
}

// vxtrace --fast: the trace ring beside DBWIN. DBWIN is drained by a thread of its own so
// that both feed one queue; processes a debugger is attached to keep writing to DBWIN.
class FastListener : public Listener {
 public:
  FastListener(std::unique_ptr<DbwinListener> dbwin, std::unique_ptr<vx380::win32::TraceRingListener> ring)
      : dbwin_(std::move(dbwin)),
        ring_(std::move(ring)),
        feed_(*ring_, queue_, &ProcessName, RingClockOffsetNs(), &handOver_) {
    pump_ = std::thread([this] { Pump(); });
  }
  ~FastListener() override {
    stop_ = true;
    pump_.join();
    feed_.Stop();
  }

  WaitResult Wait(Message& message, int timeoutMs) override { return queue_.Pop(message, timeoutMs); }
  std::string Describe() const override { return dbwin_->Describe() + " and offering the trace ring (--fast)"; }
  std::string LastError() const override { return queue_.Error(); }
  CaptureLosses Losses() const override {
    CaptureLosses losses = dbwin_->Losses();
    losses.dropped += queue_.Dropped();
    feed_.AddTo(losses);
    return losses;
  }

 private:
  void Pump() {
    std::vector<Message> one;
    while (!stop_) {
      Message m;
      std::unique_lock<std::timed_mutex> held;  // until the message is queued
      const WaitResult r = dbwin_->Take(m, 100, &handOver_, &held);
      if (r == WaitResult::Failed) {
        queue_.Fail(dbwin_->LastError());
        return;
      }
      if (r != WaitResult::Received) continue;
      one.push_back(std::move(m));
      queue_.PushAll(one);
    }
  }

  std::unique_ptr<DbwinListener> dbwin_;
  std::unique_ptr<vx380::win32::TraceRingListener> ring_;
  // Held by each reader from taking lines to queueing them: a writer's lines reach the queue
  // in the order the two channels took them.
  std::timed_mutex handOver_;
  MessageQueue queue_{kQueueLimitBytes};
  RingFeed<vx380::win32::TraceRingListener> feed_;
  std::atomic<bool> stop_{false};
  std::thread pump_;
};
#endif

// DBWIN alone, or with the trace ring when asked for and it can be had (else says why).
std::unique_ptr<Listener> WithRing(std::unique_ptr<DbwinListener> dbwin, bool ring) {
  if (!ring) return dbwin;
#ifdef VXTRACE_TRACE_RING
  auto listener = std::make_unique<vx380::win32::TraceRingListener>();
  std::string error;
  if (listener->Open(error)) return std::make_unique<FastListener>(std::move(dbwin), std::move(listener));
  dbwin->note_ = "; no trace ring (" + error + "), DBWIN alone";
#else
  dbwin->note_ = "; no trace ring in this build, DBWIN alone";
#endif
  return dbwin;
}

}  // namespace

std::string DefaultSocketPath() { return ""; }

std::unique_ptr<Listener> OpenListener(const ListenOptions& options, OpenFailure& failure) {
  if (!options.socketPath.empty()) {
    failure = {kExitFailure, "--socket is for POSIX; on Windows vxtrace listens through DBWIN"};
    return nullptr;
  }
  auto l = std::make_unique<DbwinListener>();
  l->mapping_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, "DBWIN_BUFFER"));
  if (!l->mapping_) {
    failure = {kExitFailure, LastErrorText("CreateFileMapping DBWIN_BUFFER")};
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    failure = {kExitBusy,
               "another debug-output listener (a viewer or another vxtrace) is running; stop it "
               "first"};
    return nullptr;
  }
  l->bufferReady_.reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY"));
  l->dataReady_.reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY"));
  if (!l->bufferReady_ || !l->dataReady_) {
    failure = {kExitFailure, LastErrorText("CreateEvent DBWIN_*")};
    return nullptr;
  }
  l->view_.reset(MapViewOfFile(l->mapping_.get(), FILE_MAP_READ, 0, 0, 0));
  if (!l->view_) {
    failure = {kExitFailure, LastErrorText("MapViewOfFile DBWIN_BUFFER")};
    return nullptr;
  }
  SetEvent(l->bufferReady_.get());  // ready for the first message
  return WithRing(std::move(l), options.ring);
}

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool Interrupted() { return gInterrupted; }

void KeepFilesPrivate() {}

double WallClockSeconds() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  constexpr unsigned long long kEpochDifference = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
  // Whole microseconds: what a recording keeps, so a replay computes the same times.
  return static_cast<double>((t.QuadPart - kEpochDifference) / 10) / 1e6;
}

bool PrepareConsole() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!_isatty(_fileno(stdout)) || !GetConsoleMode(out, &mode)) return false;
  SetConsoleOutputCP(CP_UTF8);  // the tree is drawn in UTF-8
  const char* noColor = std::getenv("NO_COLOR");
  if (noColor && *noColor) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace vxtrace
