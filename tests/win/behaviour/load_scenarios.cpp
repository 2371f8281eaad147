// Many writers, one error log: threads of this process and child processes all report
// errors into the same file at once.
#include <chrono>

#include "Scenarios.h"

namespace vx380::behaviour {
namespace {

// One writer: its own banner, then COUNT errors, each naming the writer and its number.
bool ReportErrors(const String& path, const String& writer, Long count) {
  try {
    ErrorLog log;
    log.Initialize(u"BhLoad", u"");
    log.LogFilename(path);
    log.ReportingLevel(mxReportingLevelLog);
    for (Long i = 0; i < count; ++i)
      log.LogError(writer, u"Disk full while saving the drawing named in the title block", u"", 0, i, u"Save");
    return true;
  } catch (const AutomationError& e) {
    Say(ToUtf8(writer) + " failed: " + Fields(e.error()));
    return false;
  }
}

Long Number(const String& text) { return std::stol(ToUtf8(text)); }

String Decimal(long long n) { return FromUtf8(std::to_string(n)); }

}  // namespace

// load-child FILE WRITER COUNT READY GO: tells the parent it is ready through the semaphore
// READY, waits for the event GO, then writes.
int LoadChild(const Args& args) {
  HANDLE ready = ::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, win32::Wide(args.at(3)));
  HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, win32::Wide(args.at(4)));
  if (!ready || !go) {
    Say("cannot open the start signals");
    return 1;
  }
  ::ReleaseSemaphore(ready, 1, nullptr);
  ::WaitForSingleObject(go, INFINITE);
  return ReportErrors(args.at(0), args.at(1), Number(args.at(2))) ? 0 : 1;
}

// load FILE THREADS PROCESSES COUNT: starts PROCESSES children (writers P0, P1, ...) and
// THREADS threads (T0, T1, ...), lets them all go at once and waits for every one of them.
int LoadParent(const Args& args) {
  const String& path = args.at(0);
  const Long threads = Number(args.at(1)), processes = Number(args.at(2)), count = Number(args.at(3));
  const String tag = Decimal(::GetCurrentProcessId());
  const String readyName = u"Local\\VX380BehaviourReady" + tag, goName = u"Local\\VX380BehaviourGo" + tag;
  HANDLE ready = ::CreateSemaphoreW(nullptr, 0, processes + 1, win32::Wide(readyName));
  HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, win32::Wide(goName));

  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::vector<HANDLE> children;
  for (Long p = 0; p < processes; ++p) {
    std::wstring line = L"\"" + std::wstring(self) + L"\" load-child \"" + win32::Wide(path) + L"\" P" +
                        std::to_wstring(p) + L" " + std::to_wstring(count) + L" " + win32::Wide(readyName) + L" " +
                        win32::Wide(goName);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
      Say("cannot start a child: error " + std::to_string(::GetLastError()));
      return 1;
    }
    ::CloseHandle(pi.hThread);
    children.push_back(pi.hProcess);
  }
  for (Long p = 0; p < processes; ++p) {
    if (::WaitForSingleObject(ready, 120000) != WAIT_OBJECT_0) {
      Say("a child never got ready");
      return 1;
    }
  }

  std::vector<std::thread> writers;
  std::vector<char> ok(static_cast<size_t>(threads), 0);
  for (Long t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      ::WaitForSingleObject(go, INFINITE);
      ok[static_cast<size_t>(t)] = ReportErrors(path, u"T" + Decimal(t), count);
    });
  }
  const auto started = std::chrono::steady_clock::now();
  ::SetEvent(go);
  for (auto& w : writers) w.join();
  int failures = 0;
  for (char good : ok) failures += good ? 0 : 1;
  for (HANDLE child : children) {
    DWORD code = 1;
    ::WaitForSingleObject(child, INFINITE);
    ::GetExitCodeProcess(child, &code);
    ::CloseHandle(child);
    if (code != 0) ++failures;
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  Say("writers done in " + std::to_string(ms) + " ms, " + std::to_string(failures) + " failed");
  return failures ? 1 : 0;
}

}  // namespace vx380::behaviour
