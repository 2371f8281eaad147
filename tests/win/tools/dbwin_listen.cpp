// dbwin_listen: captures what other processes send to OutputDebugString, the way a
// debug-output viewer does (the DBWIN_BUFFER protocol), into a file.
//
//   dbwin_listen.exe OUTFILE [--ready FILE] [--stop FILE] [--timeout SECONDS] [--pid]
//
// Each message is appended to OUTFILE exactly as sent (the component's lines end in LF);
// with --pid every message is preceded by the sender's process id and a TAB. The file is
// flushed after every message. --ready is created once the listener is in place, so a
// test can start its program only then. The listener ends when the --stop file appears
// or after --timeout seconds (default 120); exit code 0, or 2 when another listener
// already owns the buffer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct DbwinBuffer {
  DWORD processId;
  char data[4096 - sizeof(DWORD)];
};

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

int Usage() {
  std::fprintf(stderr, "usage: dbwin_listen OUTFILE [--ready FILE] [--stop FILE] [--timeout SECONDS] [--pid]\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string out = argv[1], ready, stop;
  double timeout = 120;
  bool withPid = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ready" && i + 1 < argc) ready = argv[++i];
    else if (a == "--stop" && i + 1 < argc) stop = argv[++i];
    else if (a == "--timeout" && i + 1 < argc) timeout = std::atof(argv[++i]);
    else if (a == "--pid") withPid = true;
    else return Usage();
  }

  HANDLE bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  if (bufferReady && GetLastError() == ERROR_ALREADY_EXISTS) {
    std::fprintf(stderr, "dbwin_listen: another debug-output listener is running\n");
    return 2;
  }
  HANDLE dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DbwinBuffer), "DBWIN_BUFFER");
  auto* shared = mapping ? static_cast<DbwinBuffer*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (!bufferReady || !dataReady || !shared) {
    std::fprintf(stderr, "dbwin_listen: cannot create the DBWIN objects (error %lu)\n", GetLastError());
    return 1;
  }
  FILE* file = std::fopen(out.c_str(), "ab");
  if (!file) {
    std::fprintf(stderr, "dbwin_listen: cannot open %s\n", out.c_str());
    return 1;
  }

  SetEvent(bufferReady);
  if (!ready.empty()) Touch(ready);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout * 1000);
  for (;;) {
    DWORD wait = WaitForSingleObject(dataReady, 50);
    if (wait == WAIT_OBJECT_0) {
      const std::size_t length = strnlen(shared->data, sizeof shared->data);
      if (withPid) std::fprintf(file, "%lu\t", static_cast<unsigned long>(shared->processId));
      std::fwrite(shared->data, 1, length, file);
      std::fflush(file);
      SetEvent(bufferReady);
      continue;  // drain everything that is queued before looking at the stop signals
    }
    if (!stop.empty() && Exists(stop)) break;
    if (GetTickCount64() >= deadline) break;
  }
  std::fclose(file);
  UnmapViewOfFile(shared);
  CloseHandle(mapping);
  CloseHandle(dataReady);
  CloseHandle(bufferReady);
  return 0;
}
