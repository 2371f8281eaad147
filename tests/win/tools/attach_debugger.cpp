// attach_debugger: attaches to a process as its debugger, for tests of what a process does
// while a debugger is attached.
//
//   attach_debugger.exe PID
//
// Stays attached until its standard input ends (the test closes its end of the pipe), then
// detaches and ends; the process runs on without it, also when this one dies. Every debug
// output line the process sends it prints as "debug: TEXT" (TEXT as sent, its line end
// included), and passes on unhandled, so DBWIN listeners see it as well, from the process
// itself, as with a debugger that does not show debug output. Exit code 0, or 1 when it
// could not attach.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool InputEnded(HANDLE in) {
  DWORD available = 0;
  return !::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr);
}

void PrintDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  if (!process || info.fUnicode || info.nDebugStringLength == 0) return;
  std::string text(info.nDebugStringLength, '\0');
  SIZE_T read = 0;
  if (!::ReadProcessMemory(process, info.lpDebugStringData, text.data(), text.size(), &read)) return;
  text.resize(read);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  std::printf("debug: %s", text.c_str());
  std::fflush(stdout);
}

// How the event is continued: exceptions and debug output go on to the process's own handlers.
DWORD Handle(const DEBUG_EVENT& event, HANDLE* process) {
  switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
      *process = event.u.CreateProcessInfo.hProcess;
      if (event.u.CreateProcessInfo.hFile) ::CloseHandle(event.u.CreateProcessInfo.hFile);
      return DBG_CONTINUE;
    case LOAD_DLL_DEBUG_EVENT:
      if (event.u.LoadDll.hFile) ::CloseHandle(event.u.LoadDll.hFile);
      return DBG_CONTINUE;
    case OUTPUT_DEBUG_STRING_EVENT:
      PrintDebugString(*process, event.u.DebugString);
      return DBG_EXCEPTION_NOT_HANDLED;
    case EXCEPTION_DEBUG_EVENT:
      // The break-in of the attach is the debugger's own; the process's exceptions are not.
      return event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT ? DBG_CONTINUE
                                                                                     : DBG_EXCEPTION_NOT_HANDLED;
    default:
      return DBG_CONTINUE;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: attach_debugger PID\n");
    return 2;
  }
  const DWORD pid = std::strtoul(argv[1], nullptr, 10);
  if (!::DebugActiveProcess(pid)) {
    std::fprintf(stderr, "cannot attach to %lu (error %lu)\n", pid, ::GetLastError());
    return 1;
  }
  ::DebugSetProcessKillOnExit(FALSE);
  _setmode(_fileno(stdout), _O_BINARY);  // each line as sent
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  HANDLE process = nullptr;
  for (;;) {
    DEBUG_EVENT event;
    if (::WaitForDebugEvent(&event, 20)) {
      const DWORD status = Handle(event, &process);
      ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
      if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return 0;
    } else if (InputEnded(in)) {
      break;
    }
  }
  ::DebugActiveProcessStop(pid);
  return 0;
}
