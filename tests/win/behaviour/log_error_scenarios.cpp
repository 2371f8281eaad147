// Error reporting scenarios: LogError at every reporting level, the error log file, settings
// from the registry, and the message log.
#include "Scenarios.h"

namespace vx380::behaviour {
namespace {

const char* const kLevelNames[] = {"Off", "Log", "Display", "LogAndDisplay"};

// What a call did, as the host sees it: returned or raised, and the pending error afterwards.
template <typename Call>
std::string Outcome(Call call) {
  std::string outcome;
  try {
    call();
    outcome = "returned";
  } catch (const AutomationError& e) {
    outcome = "raised " + Fields(e.error());
  }
  return outcome + "; err " + Fields(Err());
}

}  // namespace

// table FOLDER: one full LogError per reporting level and raise switch, each on a fresh
// thread with a log of its own in FOLDER, once on a fresh log and once on a log this thread
// started earlier; then a Yes/No box, the source and description fallbacks, and raise
// requests without a positive number. The host's pending error is 53 before every call.
int LogErrorTable(const Args& args) {
  const String folder = args.at(0) + u"\\";
  for (int level = 0; level < 4; ++level) {
    for (bool raise : {false, true}) {
      for (bool earlier : {false, true}) {
        const std::string name =
            std::string(kLevelNames[level]) + (raise ? "-raise" : "-noraise") + (earlier ? "-earlier" : "-fresh");
        Mark(name);
        OnFreshThread([&] {
          ErrorLog log;
          log.Initialize(u"BhTable", u"");
          log.LogFilename(folder + FromUtf8(name) + u".log");
          if (earlier) {
            log.ReportingLevel(mxReportingLevelLog);
            log.LogError(u"Pre", u"earlier", u"", 0, 1);
          }
          log.ReportingLevel(static_cast<mxReportingLevelConstants>(level));
          Err() = PendingError();
          Say(name + ": " + Outcome([&] {
                log.LogError(u"App1", u"Disk full", u"help.chm", 77, 1000, u"SaveFile", 48, 0, raise ? kTrue : kFalse);
              }));
        });
      }
    }
  }

  Mark("buttons-20");
  OnFreshThread([&] {
    ErrorLog log;
    log.Initialize(u"BhTable", u"");
    log.LogFilename(folder + u"buttons-20.log");
    log.ReportingLevel(mxReportingLevelLogAndDisplay);
    for (const char* which : {"first", "second"}) {
      Err() = PendingError();
      Say(std::string("buttons-20 ") + which + ": " +
          Outcome([&] { log.LogError(u"App1", u"Disk full", u"", 0, 20, u"", 20); }));
    }
  });

  Mark("fallbacks");
  OnFreshThread([&] {
    ErrorLog log;
    log.Initialize(u"BhTable", u"");
    log.ReportingLevel(mxReportingLevelDisplay);
    Err() = PendingError();
    Say("fallbacks shown: " + Outcome([&] { log.LogError(u"", u""); }));
    Err() = PendingError();
    Say("fallbacks raised: " + Outcome([&] { log.LogError(u"", u"", u"", 0, 9, u"", 48, 0, kTrue); }));
  });

  Mark("raise-without-number");
  OnFreshThread([&] {
    ErrorLog log;
    log.Initialize(u"BhTable", u"");
    for (Long number : {0, -1}) {
      Err() = PendingError();
      Say("raise with " + std::to_string(number) + ": " +
          Outcome([&] { log.LogError(u"App1", u"Disk full", u"", 0, number, u"", 48, 0, kTrue); }));
    }
  });
  return 0;
}

// logfile FOLDER: two threads share FOLDER\shared.log; a third logs into a folder that does
// not exist yet, which is made between its two calls.
int ErrorLogFile(const Args& args) {
  const String shared = args.at(0) + u"\\shared.log";
  const String missing = args.at(0) + u"\\missing";
  auto start = [&](ErrorLog& log, const String& file) {
    log.Initialize(u"BhLogFile", u"");
    log.LogFilename(file);
    log.ReportingLevel(mxReportingLevelLog);
  };

  ErrorLog log;
  start(log, shared);
  Say("first thread: " + Outcome([&] {
        log.LogError(u"A", u"one");
        log.LogError(u"A", u"two");
      }));
  OnFreshThread([&] {
    ErrorLog other;
    start(other, shared);
    Say("second thread: " + Outcome([&] { other.LogError(u"B", u"three"); }));
  });
  Say("first thread again: " + Outcome([&] { log.LogError(u"A", u"four"); }));

  OnFreshThread([&] {
    ErrorLog third;
    start(third, missing + u"\\retry.log");
    Err() = PendingError();
    Say("folder missing: " + Outcome([&] { third.LogError(u"C", u"first"); }));
    if (!::CreateDirectoryW(win32::Wide(missing), nullptr)) {
      Say("cannot make the folder");
      return;
    }
    Err() = PendingError();
    Say("folder made: " + Outcome([&] { third.LogError(u"C", u"second"); }));
  });
  return 0;
}

// settings APP...: Initialize each application on a thread of its own, show what it read
// from the registry, and report one error under those settings.
int Settings(const Args& args) {
  for (const String& app : args) {
    OnFreshThread([&] {
      ErrorLog log;
      log.Initialize(app, u"");
      Say(ToUtf8(app) + ": level " + std::to_string(log.ReportingLevel()) + " file " + ToUtf8(log.LogFilename()));
      Err().Clear();
      Say(ToUtf8(app) + ": " + Outcome([&] { log.LogError(u"", u"set from the registry", u"", 0, 7); }));
    });
  }
  return 0;
}

// msglog: names the message log in %TEMP%, leaves a line of an earlier run in it, then logs
// three messages.
int MessageLog(const Args&) {
  wchar_t temp[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    Say("TEMP is not set");
    return 1;
  }
  const String path = win32::FromWide(temp, n) + u"\\Corvane.Log";
  Say("message log " + ToUtf8(path));
  HANDLE file = ::CreateFileW(win32::Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const char earlier[] = "left over from an earlier run\r\n";
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE || !::WriteFile(file, earlier, sizeof earlier - 1, &written, nullptr)) {
    Say("cannot prepare the message log");
    return 1;
  }
  ::CloseHandle(file);

  ErrorLog log;
  Say("logged: " + Outcome([&] {
        log.LogMsg(u"one");
        log.LogMsg(u"");
        log.LogMsg(u"two");
      }));
  return 0;
}

}  // namespace vx380::behaviour
