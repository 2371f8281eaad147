// A host of the installed library: initialises from its settings file and reports one error,
// which the settings send to the error log. Built as C++17, the oldest standard supported.
#if __cplusplus != 201703L
#error "the consumers check the public headers on C++17"
#endif

#include <cstdio>

#include "vx380/CErrorStatus.h"
#include "vx380/ErrorLog.h"

int main() {
  try {
    vx380::ErrorLog log;
    log.Initialize(u"PkgConsumer", u"");
    if (log.ReportingLevel() != vx380::mxReportingLevelLog) {
      std::fprintf(stderr, "reporting level %d, the settings file says Log\n", int(log.ReportingLevel()));
      return 1;
    }
    vx380::CErrorStatus status;
    status.Status(vx380::FAILURE);
    const vx380::Long number = 61;
    log.LogError(u"PkgConsumer", u"Disk full", u"", 0, number, u"SaveDrawing");
    if (status.Status() != vx380::FAILURE) return 1;
  } catch (const vx380::AutomationError& e) {
    std::fprintf(stderr, "raised %d: %s\n", int(e.number()), e.what());
    return 1;
  }
  // An error raised inside the library is caught here by its type.
  try {
    vx380::RaiseRuntime(vx380::rt::kOverflow);
  } catch (const vx380::AutomationError& e) {
    if (e.number() == vx380::rt::kOverflow &&
        e.error().description == vx380::AutomationError::Runtime(e.number()).error().description)
      return 0;
    std::fprintf(stderr, "raised %d: %s\n", int(e.number()), e.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "the library's error was not caught as vx380::AutomationError\n");
    return 1;
  }
  std::fprintf(stderr, "RaiseRuntime returned\n");
  return 1;
}
