// A sample host: initialises error reporting from its registry settings, reports errors at
// every reporting level, and traces its own routines, drawing dumps included.
//
// Run it through `make demo`, which points the settings, the logs and the debug channel at a
// scratch folder and shows what the component produced.
#include <chrono>
#include <cstdio>
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

// Boxes are answered here, so the demo runs unattended and shows what the user would see.
Long AnswerBox(const String& prompt, Long style, const String& title) {
  std::printf("  [message box \"%s\", style %d]\n", ToUtf8(title).c_str(), static_cast<int>(style));
  std::string text = ToUtf8(prompt);
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.replace(at, 2, "\n    ");
  std::printf("    %s\n", text.c_str());
  return (style & 0xF) == 4 ? 6 : 1;  // Yes to Yes/No questions, OK otherwise
}

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
  app.RBDEBUGMESSAGE(u"Stop here?", 4);
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

void ReportAtEveryLevel(ErrorLog& app) {
  const char* names[] = {"Off", "Log", "Display", "LogAndDisplay"};
  for (Long level = mxReportingLevelOff; level <= mxReportingLevelLogAndDisplay; ++level) {
    app.ReportingLevel(static_cast<mxReportingLevelConstants>(level));
    Say(std::string("- reporting level ") + names[level] + ": an error while saving");
    const Long number = 61;
    app.LogError(u"", u"Disk full", u"", 0, number, u"SaveDrawing");
  }

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
    app.LogError(u"Validator", u"Wall thickness below minimum", u"rules.chm", 40, 1000, u"Check", 48, 0,
                 kTrue);
  } catch (const AutomationError& e) {
    Say("    caught error " + std::to_string(e.number()) + " from " + ToUtf8(e.error().source) + ": " +
        ToUtf8(e.error().description));
  }
}

}  // namespace

int main(int argc, char** argv) {
  posix::SetMessageBoxHandler(AnswerBox);
  const String resources = argc > 1 ? FromUtf8(argv[1]) : String();

  ErrorLog& app = ErrorLog::Default();
  app.RBDEBUGENTER(u"main", u"sample host");
  app.Initialize(u"SampleHost", resources);
  static const char* levels[] = {"Off", "Log", "Display", "LogAndDisplay"};
  Say("Initialised SampleHost: reporting level " + std::string(levels[app.ReportingLevel() & 3]) +
      ", error log " + ToUtf8(app.LogFilename()));

  app.LogMsg(u"Sample host started");
  ReportAtEveryLevel(app);
  app.LogMsg(u"Errors reported; loading the drawing");
  LoadDrawing(app);
  app.LogMsg(u"Sample host done");
  app.RBDEBUGEXIT(u"bye");
  return 0;
}
