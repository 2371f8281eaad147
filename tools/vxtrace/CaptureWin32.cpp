// vxtrace on Windows: a debug-output listener over the DBWIN protocol. Writers of
// OutputDebugStringA wait for DBWIN_BUFFER_READY, put their process id and text in
// the shared DBWIN_BUFFER, and signal DBWIN_DATA_READY; there can be one listener.
#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    message.source = pid;
    // Hand the buffer back at once: the writer is blocked until it may write again.
    SetEvent(bufferReady_.h);
    return WaitResult::Received;
  }

  std::string Describe() const override { return "listening for debug output (DBWIN)"; }
  std::string LastError() const override { return error_; }

  ~DbwinListener() override {
    if (view_) UnmapViewOfFile(view_);
  }

  Handle mapping_, bufferReady_, dataReady_;
  const char* view_ = nullptr;
  std::string error_;
};

}  // namespace

std::string DefaultSocketPath() { return ""; }

std::unique_ptr<Listener> OpenListener(const std::string& socketPath, OpenFailure& failure) {
  if (!socketPath.empty()) {
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
