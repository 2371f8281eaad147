// A sample host: initialises error reporting from its registry settings, reports errors at
// every reporting level, and traces its own routines, drawing dumps included.
//
// Run it through `make demo`, which points the settings, the logs and the debug channel at a
// scratch folder and shows what the component produced.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "Drw2dStandIn.h"
#include "vx380/ErrorLog.h"
#include "vx380/PosixPlatform.h"

using namespace vx380;

namespace {

void Say(const std::string& text) { std::printf("%s\n", text.c_str()); }

// Stands in for the host's real work, so the trace shows some milliseconds.
void Work(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int boxesShown = 0;
int surprises = 0;  // reports that did not do what their level says

// Boxes are answered here, so the demo runs unattended and shows what the user would see.
Long AnswerBox(const String& prompt, Long style, const String& title) {
  ++boxesShown;
  std::printf("  [message box \"%s\", style %d]\n", ToUtf8(title).c_str(), static_cast<int>(style));
  std::string text = ToUtf8(prompt);
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.replace(at, 2, "\n    ");
  std::printf("    %s\n", text.c_str());
  return (style & 0xF) == 4 ? 6 : 1;  // Yes to Yes/No questions, OK otherwise
}

// Counts the lines the component writes to the debug channel: its members write them
// through the object's own DebugTrace, so a derived object sees every one.
class DemoLog : public ErrorLog {
 public:
  void DebugTrace(String strMsg) override {
    ++linesWritten;
    ErrorLog::DebugTrace(std::move(strMsg));
  }
  int linesWritten = 0;
};

std::shared_ptr<drw2d::DrawingObject> SampleDrawing() {
  auto sheet = drw2d::DrawingObject::Make(u"Sheet", u"Sheet A1", drw2d::typecode::kSheet);
  auto frame = drw2d::DrawingObject::Make(u"Group", u"Title block", drw2d::typecode::kGroup);
  frame->AddChild(drw2d::DrawingObject::Make(u"Text", u"Drawing number", drw2d::typecode::kText));
  frame->AddChild(drw2d::DrawingObject::Make(u"Line", u"Border", drw2d::typecode::kLine));
  auto pump = drw2d::DrawingObject::Make(u"Group", u"Pump P-101", drw2d::typecode::kGroup);
  pump->AddChild(drw2d::DrawingObject::Make(u"Circle", u"Impeller", drw2d::typecode::kArc));
  sheet->AddChild(frame);
  sheet->AddChild(pump);
  return sheet;
}

void ReadObjects(ErrorLog& app, const std::shared_ptr<drw2d::DrawingObject>& drawing) {
  app.RBDEBUGENTER(u"ReadObjects");
  Work(12);
  app.RBDEBUGLINE();
  app.RBDEBUGHIERARCHY(drawing);
  Work(30);
  app.RBDEBUGLINE(120, u"objects read");
  app.RBDEBUGEXIT();
}

void ComputePlacement(ErrorLog& app) {
  // A routine too chatty to trace: its lines and its questions stay quiet.
  app.RBDEBUGENTER(u"ComputePlacement", u"", kTrue);
  app.RBDEBUGLINE();
  Work(5);
  Say("- a question to the developer (\"Stop here?\", Yes/No) inside a routine traced with suppress on:\n"
      "  by design the question is not asked; the component's notice that it skipped one is shown instead,\n"
      "  with an OK button (the notice below is expected, not a failure)");
  const Long answer = app.RBDEBUGMESSAGE(u"Stop here?", 4);
  Say("    answered " + std::to_string(answer) + " (OK), as for every skipped question");
  auto matrix = drw2d::Matrix::Make();
  matrix->Set(0, 3, 125.5);
  matrix->Set(1, 3, -40.25);
  app.RBDEBUGLOG(u"placement" + app.RBDEBUGMATRIX(matrix));
  app.RBDEBUGEXIT();
}

void LoadDrawing(ErrorLog& app) {
  app.RBDEBUGENTER(u"LoadDrawing", u"sample.drw");
  Work(8);
  app.RBDEBUGLINE(10, u"header parsed");
  ReadObjects(app, SampleDrawing());
  ComputePlacement(app);
  app.RBDEBUGTIMESTAMP(u"drawing loaded");
  app.RBDEBUGEXIT(u"done");
}

// The size of the error log, or -1 when there is none yet.
long long LogSize(ErrorLog& app) {
  std::string path = ToUtf8(app.LogFilename());
  for (char& c : path)
    if (c == '\\') c = '/';
  struct stat info = {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// What one LogError did, in the words the levels are described with.
struct Outcome {
  bool line = false, box = false, log = false, raise = false;
  std::string Text() const {
    std::string text;
    for (auto [done, name] : {std::pair{line, "line"}, {box, "box"}, {log, "log"}, {raise, "raise"}})
      if (done) text += (text.empty() ? "" : ", ") + std::string(name);
    return text.empty() ? "nothing" : text;
  }
  bool operator==(const Outcome&) const = default;
};

// Reports one error and tells what was expected next to what happened.
void ReportAndCompare(DemoLog& app, const Outcome& expected, const std::string& why, bool raise) {
  const int lines = app.linesWritten, boxes = boxesShown;
  const long long size = LogSize(app);
  Say("    expected: " + expected.Text() + (why.empty() ? "" : " (" + why + ")"));
  Outcome happened;
  try {
    const Long number = raise ? 1000 : 61;
    app.LogError(u"", u"Disk full", u"", 0, number, u"SaveDrawing", 48, 0, raise ? kTrue : kFalse);
  } catch (const AutomationError&) {
    happened.raise = true;
    Err().Clear();
  }
  happened.line = app.linesWritten > lines;
  happened.box = boxesShown > boxes;
  happened.log = LogSize(app) > size;
  Say("    happened: " + happened.Text() + (happened == expected ? "  -- as expected" : "  -- NOT as expected"));
  if (!(happened == expected)) ++surprises;
}

void ReportAtEveryLevel(DemoLog& app) {
  const char* names[] = {"Off", "Log", "Display", "LogAndDisplay"};
  Say("- one error at each reporting level (line: the debug channel, box: a message box for the user,\n"
      "  log: a line in the error log, raise: the error handed back to the caller)");
  bool logStarted = false;  // once started on a thread, the log gets every later line
  for (Long level = mxReportingLevelOff; level <= mxReportingLevelLogAndDisplay; ++level) {
    app.ReportingLevel(static_cast<mxReportingLevelConstants>(level));
    Say(std::string("  reporting level ") + names[level] + ": an error while saving");
    const bool logs = (level & mxReportingLevelLog) != 0;
    const Outcome expected{true, (level & mxReportingLevelDisplay) != 0, logs || logStarted, false};
    ReportAndCompare(app, expected, !logs && logStarted ? "the log was started earlier on this thread" : "", false);
    logStarted = logStarted || logs;
  }
  Say("  reporting level LogAndDisplay, raise asked for: the raise replaces the box");
  ReportAndCompare(app, Outcome{true, false, true, true}, "", true);

  Say("- an error with a text for the user from the resource DLL");
  const Long userText = 101;
  app.LogError(u"Exporter", u"WriteFile failed with 112", u"", 0, 112, u"Export", 48, userText);

  Say("- a host's pending error survives a report that does not raise");
  Err() = ErrObject{53, u"FileOpen", u"File not found", u"sample.chm", 7};
  app.LogError(u"Importer", u"Cannot read the import file", u"", 0, 53, u"Import");
  Say("    pending error afterwards: " + std::to_string(Err().number) + " " + ToUtf8(Err().description));
  Err().Clear();

  Say("- an error raised back to the caller");
  try {
    app.LogError(u"Validator", u"Wall thickness below minimum", u"rules.chm", 40, 1000, u"Check", 48, 0, kTrue);
  } catch (const AutomationError& e) {
    Say("    caught error " + std::to_string(e.number()) + " from " + ToUtf8(e.error().source) + ": " +
        ToUtf8(e.error().description));
  }
}

}  // namespace

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: sample_host [RESOURCE_DLL]\n"
               "       sample_host --help\n"
               "\n"
               "Runs the sample host once: initialises error reporting as \"SampleHost\", reports errors at\n"
               "every reporting level (saying what each level should do next to what it did), traces its\n"
               "routines and dumps a small drawing. RESOURCE_DLL holds the user texts (SampleMessages.dll).\n"
               "\n"
               "Settings are read from $VX380_HKCU and $VX380_HKLM (else ~/.config/vx380/user.reg and\n"
               "/etc/vx380/machine.reg); the trace goes to the debug channel, which vxtrace shows; message\n"
               "boxes are answered by the host itself and printed. `make demo` runs it with the settings in\n"
               "examples/sample_host/*.reg and shows the trace and the logs it produced. It exits 1 when a\n"
               "report did not do what its reporting level says.\n");
}

int main(int argc, char** argv) {
  if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    Usage(stdout);
    return 0;
  }
  if (argc > 2 || (argc > 1 && argv[1][0] == '-')) {
    Usage(stderr);
    return 2;
  }
  posix::SetMessageBoxHandler(AnswerBox);
  const String resources = argc > 1 ? FromUtf8(argv[1]) : String();

  DemoLog app;  // lives as long as the run: the end of an ErrorLog object resets the thread
  app.RBDEBUGENTER(u"main", u"sample host");
  app.Initialize(u"SampleHost", resources);
  static const char* levels[] = {"Off", "Log", "Display", "LogAndDisplay"};
  Say("Initialised SampleHost: reporting level " + std::string(levels[app.ReportingLevel() & 3]) + ", error log " +
      ToUtf8(app.LogFilename()));

  app.LogMsg(u"Sample host started");
  ReportAtEveryLevel(app);
  app.LogMsg(u"Errors reported; loading the drawing");
  LoadDrawing(app);
  app.LogMsg(u"Sample host done");
  app.RBDEBUGEXIT(u"bye");
  return surprises ? 1 : 0;
}
