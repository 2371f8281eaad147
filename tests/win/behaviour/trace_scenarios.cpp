// Tracing scenario: the module stack, line markers, time stamps and the debug prompt,
// through the real debug output channel and real boxes.
#include "Scenarios.h"

namespace vx380::behaviour {

namespace {
constexpr int kStackCapacity = 16384;
}

// trace: needs BhTrace's timing switch on (current user), BhTraceMachine's only in the
// machine hive and BhTraceOff's set to another text. Shows five boxes: the failure of a
// line marker outside any routine, the notice of a suppressed prompt, a Yes/No prompt
// twice, and the overflow of the module stack.
int Trace(const Args&) {
  ErrorLog log;
  log.Initialize(u"BhTrace", u"");

  Mark("before any entry");
  log.RBDEBUGLINE();
  log.RBDEBUGEXIT();
  log.RBDEBUGEXIT(u"again");

  Mark("call tree");
  log.RBDEBUGENTER(u"Startup", u"start");
  ::Sleep(40);
  log.RBDEBUGLINE();
  log.RBDEBUGENTER(u"Load");
  ::Sleep(10);
  log.RBDEBUGLINE(120, u"x");
  log.RBDEBUGEXIT();
  log.RBDEBUGENTER(u"Quiet", u"hidden", kTrue);
  log.RBDEBUGLINE();
  Say("prompt while suppressed: " + std::to_string(log.RBDEBUGMESSAGE(u"Continue?", 4 + 32, u"Check")));
  log.RBDEBUGTIMESTAMP(u"quiet");
  log.RBDEBUGEXIT(u"left quietly");
  Say("prompt: " + std::to_string(log.RBDEBUGMESSAGE(u"Continue?", 4 + 32, u"Check")));
  Say("prompt: " + std::to_string(log.RBDEBUGMESSAGE(u"Continue?", 4 + 32, u"Check")));
  log.RBDEBUGLINE();
  log.RBDEBUGEXIT(u"done");

  Mark("time stamps");
  log.RBDEBUGTIMESTAMP(u"stamp");
  for (const String app : {u"BhTraceMachine", u"BhTraceOff"}) {
    OnFreshThread([&] {
      ErrorLog other;
      other.Initialize(app, u"");
      other.RBDEBUGTIMESTAMP(app);
    });
  }

  Mark("deep stack");
  for (int i = 0; i < kStackCapacity; ++i) log.RBDEBUGENTER(u"Level", u"", kTrue);
  log.RBDEBUGENTER(u"OneTooMany");
  for (int i = 0; i < kStackCapacity; ++i) log.RBDEBUGEXIT();
  log.RBDEBUGEXIT();
  Mark("end");
  return 0;
}

}  // namespace vx380::behaviour
