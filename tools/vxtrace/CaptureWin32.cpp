// vxtrace on Windows: a debug-output listener over the DBWIN protocol. Writers of
// OutputDebugStringA wait for DBWIN_BUFFER_READY, put their process id and text in
// the shared DBWIN_BUFFER, and signal DBWIN_DATA_READY; there can be one listener.
#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "Capture.h"

namespace vxtrace {
namespace {

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
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return "";
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  std::string name;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
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
  CloseHandle(process);
  return name;
}

struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h) CloseHandle(h);
  }
};

class DbwinListener : public Listener {
 public:
  WaitResult Wait(Message& message, int timeoutMs) override {
    DWORD r = WaitForSingleObject(dataReady_.h, static_cast<DWORD>(timeoutMs));
    if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
    if (r != WAIT_OBJECT_0) {
      error_ = LastErrorText("WaitForSingleObject");
      return WaitResult::Failed;
    }
    DWORD pid;
    std::memcpy(&pid, view_, sizeof pid);
    const char* text = view_ + sizeof pid;
    message.text.assign(text, strnlen(text, kBufferSize - sizeof pid));
    message.time = WallClockSeconds();
    message.pid = pid;
    message.tid = 0;  // the protocol does not tell threads apart
    // Once per process, before the buffer is handed back: the writer may end soon
    // after its last line.
    auto known = names_.find(pid);
    if (known == names_.end()) known = names_.emplace(pid, ProcessName(pid)).first;
    message.process = known->second;
    // Hand the buffer back at once: writers are blocked until they may write again.
    SetEvent(bufferReady_.h);
    return WaitResult::Received;
  }

  std::string Describe() const override { return "listening for debug output (DBWIN)"; }
  std::string LastError() const override { return error_; }
  // Writers wait for the buffer, so nothing is dropped here, and the session's
  // objects admit no other user.
  CaptureLosses Losses() const override { return {}; }

  ~DbwinListener() override {
    if (view_) UnmapViewOfFile(view_);
  }

  Handle mapping_, bufferReady_, dataReady_;
  const char* view_ = nullptr;
  std::string error_;
  std::map<DWORD, std::string> names_;
};

}  // namespace

std::string DefaultSocketPath() { return ""; }

std::unique_ptr<Listener> OpenListener(const ListenOptions& options, OpenFailure& failure) {
  if (!options.socketPath.empty()) {
    failure = {kExitFailure, "--socket is for POSIX; on Windows vxtrace listens through DBWIN"};
    return nullptr;
  }
  auto l = std::make_unique<DbwinListener>();
  l->mapping_.h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     kBufferSize, "DBWIN_BUFFER");
  if (!l->mapping_.h) {
    failure = {kExitFailure, LastErrorText("CreateFileMapping DBWIN_BUFFER")};
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    failure = {kExitBusy,
               "another debug-output listener (a viewer or another vxtrace) is running; stop it "
               "first"};
    return nullptr;
  }
  l->bufferReady_.h = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  l->dataReady_.h = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  if (!l->bufferReady_.h || !l->dataReady_.h) {
    failure = {kExitFailure, LastErrorText("CreateEvent DBWIN_*")};
    return nullptr;
  }
  l->view_ = static_cast<const char*>(MapViewOfFile(l->mapping_.h, FILE_MAP_READ, 0, 0, 0));
  if (!l->view_) {
    failure = {kExitFailure, LastErrorText("MapViewOfFile DBWIN_BUFFER")};
    return nullptr;
  }
  SetEvent(l->bufferReady_.h);  // ready for the first message
  return l;
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
