// vx380_behaviour.exe SCENARIO [ARGS...]: runs one scenario of the behaviour tests.
// Prints "pid N" first, so a script can tell this process's debug lines from others'.
#include "Scenarios.h"

#include <shellapi.h>

#include <cstdio>
#include <map>

namespace vx380::behaviour {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Fields(const ErrObject& e) {
  return std::to_string(e.number) + "|" + ToUtf8(e.source) + "|" + ToUtf8(e.description) + "|" + ToUtf8(e.helpFile) +
         "|" + std::to_string(e.helpContext);
}

void Mark(const std::string& text) { ::OutputDebugStringA(("== " + text + "\n").c_str()); }

void OnFreshThread(const std::function<void()>& work) {
  std::thread thread(work);
  thread.join();
}

ErrObject PendingError() { return ErrObject{53, u"HostApp", u"File not found", u"host.hlp", 1234}; }

// system COMMAND-LINE: runs a command line from a process of this build's bitness, so that
// reg.exe and cmd.exe are the ones of that bitness too (started by name from the host, the
// 64-bit prefix runs their 32-bit forms, which see the machine hive's 32-bit view).
int RunSystem(const Args& args) {
  std::wstring command(args.at(0).begin(), args.at(0).end());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    Say("cannot start: error " + std::to_string(::GetLastError()));
    return 1;
  }
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

}  // namespace vx380::behaviour

int main() {
  using namespace vx380::behaviour;
  static const std::map<std::wstring, int (*)(const Args&)> scenarios = {
      {L"table", LogErrorTable}, {L"logfile", ErrorLogFile}, {L"settings", Settings}, {L"msglog", MessageLog},
      {L"load", LoadParent},     {L"load-child", LoadChild}, {L"trace", Trace},       {L"system", RunSystem},
  };
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const auto scenario = argc >= 2 ? scenarios.find(argv[1]) : scenarios.end();
  if (scenario == scenarios.end()) {
    std::fputs("usage: vx380_behaviour table|logfile|settings|msglog|load|load-child|trace|system [ARGS...]\n", stderr);
    return 64;
  }
  Args args;
  for (int i = 2; i < argc; ++i) args.push_back(vx380::win32::FromWide(argv[i], wcslen(argv[i])));
  ::LocalFree(argv);
  Say("pid " + std::to_string(::GetCurrentProcessId()));
  try {
    return scenario->second(args);
  } catch (const vx380::AutomationError& e) {
    Say("unexpected error " + Fields(e.error()));
    return 1;
  }
}
