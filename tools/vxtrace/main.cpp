// vxtrace: capture tool for the debug output channel. Listens (or reads a recording)
// and hands every message to the display until --count, --timeout, Ctrl-C or the end
// of the input; then writes the pictures asked for.
#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <vector>

#include "Capture.h"
#include "ChromeTrace.h"
#include "Display.h"
#include "HtmlReport.h"
#include "InputReader.h"
#include "Options.h"
#include "Recording.h"
#include "RecordingWriter.h"
#include "TerminalView.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vxtrace {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitTimedOut = 4;
constexpr int kSliceMs = 250;  // how often a quiet capture looks at Ctrl-C

using Clock = std::chrono::steady_clock;

int OpenForReading(const std::string& path) {
#ifdef _WIN32
  return _open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

// When --timeout ends the run; also tells how long a wait may be.
class Deadline {
 public:
  explicit Deadline(double seconds)
      : limited_(seconds > 0),
        end_(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))) {}
  bool Passed() const { return limited_ && Clock::now() >= end_; }
  int SliceMs() const {
    if (!limited_) return kSliceMs;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left, kSliceMs)));
  }

 private:
  bool limited_;
  Clock::time_point end_;
};

void Record(std::ofstream* record, const Message& m) {
  if (record) *record << ToJsonLine(m);
}

// The recording's last line, when a replay needs it to close as this run closes.
void RecordEnd(std::ofstream* record, const RunEnd& end) {
  if (!record || (!end.interrupted && end.notes.empty())) return;
  *record << ToJsonLine(end);
  record->flush();
}

void ReportUnmatched(const Display& display) {
  for (const std::string& sentence : display.UnmatchedFilters()) std::cerr << "vxtrace: " << sentence << '\n';
}

// Read lines longer than a capture passes, told once at the end.
struct LineCuts {
  long long count = 0;
  long long firstLine = 0;
  void Add(long long line) {
    if (count++ == 0) firstLine = line;
  }
};

void ReportCuts(const LineCuts& cuts, const std::string& file) {
  if (cuts.count == 0) return;
  std::cerr << "vxtrace: " << cuts.count << (cuts.count == 1 ? " line" : " lines") << " of "
            << (file == "-" ? "standard input" : file) << " cut at " << kMaxMessageBytes
            << " bytes, the longest a capture passes (the first at line " << cuts.firstLine
            << "); the rest of each is not shown\n";
}

int ReadCapture(const Options& o, Display& display, std::ofstream* record) {
  int fd = 0;
  if (*o.readFile != "-") {
    fd = OpenForReading(*o.readFile);
    if (fd < 0) {
      std::cerr << "vxtrace: " << *o.readFile << ": " << std::strerror(errno) << '\n';
      return kExitFailure;
    }
  }
#ifdef _WIN32
  _setmode(fd, _O_BINARY);
#endif
  InputReader in(fd, o.follow, *o.readFile == "-" ? "" : *o.readFile, kMaxRecordingLine);
  const Deadline deadline(o.timeoutSeconds);
  long long messages = 0;
  int status = 0;
  LineCuts cuts;
  RunEnd end;  // as the recording says the capture ended
  std::string line;
  const auto flush = [&] {
    std::cout.flush();
    if (record) record->flush();
  };
  while (!Interrupted() && std::cout && !deadline.Passed()) {
    InputReader::Result r = in.Next(line, flush);
    if (r == InputReader::Result::End) break;
    if (r == InputReader::Result::Failed) {
      std::cerr << "vxtrace: reading " << *o.readFile << ": " << std::strerror(errno) << '\n';
      status = kExitFailure;
      break;
    }
    if (r == InputReader::Result::Notice) std::cerr << "vxtrace: " << *o.readFile << ' ' << in.Notice() << '\n';
    if (r != InputReader::Result::Line || (!in.LineCut() && FromJsonLine(line, end))) continue;
    Message m;
    if (MessageFromLine(line, in.LineCut(), m)) cuts.Add(in.LineNumber());
    Record(record, m);
    display.Show(m);
    if (o.count > 0 && ++messages >= o.count) break;
  }
  end.interrupted = end.interrupted || Interrupted();
  RecordEnd(record, end);
  display.Finish(end.interrupted, end.notes);
  ReportCuts(cuts, *o.readFile);
  return status;
}

void ReportLosses(const CaptureLosses& losses) {
  for (const std::string& sentence : LossSentences(losses)) std::cerr << "vxtrace: " << sentence << "\n";
}

// Only where the view is tested to skip safely: POSIX terminals.
bool LiveViewMaySkip() {
#ifdef _WIN32
  return false;
#else
  return OutputIsTerminal();
#endif
}

// The ring is the default on POSIX; on Windows it is asked for, since writers that use it
// stop writing to other debug-output viewers.
bool OfferRing(const Options& o) {
#ifdef _WIN32
  return o.fast;
#else
  return !o.noRing;
#endif
}

// Shows (and records) one batch; false once --count messages came.
bool ShowBatch(const Options& o, std::vector<Message>& batch, Display& display, Recorder* recorder,
               TerminalView* terminal, long long& received) {
  bool more = true;
  if (o.count > 0 && static_cast<long long>(batch.size()) >= o.count - received) {
    batch.resize(static_cast<std::size_t>(o.count - received));
    more = false;
  }
  received += static_cast<long long>(batch.size());
  for (const Message& m : batch) display.Show(m);
  display.Flush();
  if (terminal) terminal->Commit();
  if (recorder) recorder->Hand(batch);
  return more;
}

int Capture(const Options& o, Display& display, std::ofstream* record, TerminalView* terminal) {
  OpenFailure failure;
  std::unique_ptr<Listener> listener = OpenListener({o.socketPath, o.anyUser, OfferRing(o)}, failure);
  if (!listener) {
    std::cerr << "vxtrace: " << failure.message << '\n';
    return failure.exitCode;
  }
  std::cerr << "vxtrace: " << listener->Describe() << "; Ctrl-C stops" << std::endl;
  display.HoldOutput(true);  // each batch is drawn in one piece

  const Deadline deadline(o.timeoutSeconds);
  std::optional<Recorder> recording;
  if (record) recording.emplace(*record);
  Recorder* recordTo = recording ? &*recording : nullptr;
  long long received = 0;
  int status = 0;
  std::vector<Message> batch;
  for (;;) {
    if (Interrupted() || !std::cout || (terminal && terminal->Failed())) break;
    if (deadline.Passed()) {
      if (o.count > 0) status = kExitTimedOut;
      break;
    }
    // Output is flushed only when nothing else is waiting, so a burst costs few writes.
    WaitResult result = listener->WaitBatch(batch, 0);
    if (result == WaitResult::TimedOut) {
      std::cout.flush();
      result = listener->WaitBatch(batch, deadline.SliceMs());
    }
    if (result == WaitResult::Failed) {
      std::cerr << "vxtrace: " << listener->LastError() << '\n';
      status = kExitFailure;
      break;
    }
    if (result == WaitResult::Received && !ShowBatch(o, batch, display, recordTo, terminal, received)) break;
  }
  if (recordTo && !recordTo->Finish()) {
    std::cerr << "vxtrace: cannot write " << o.outFile << '\n';
    status = kExitFailure;
  }
  CaptureLosses losses = listener->Losses();
  listener.reset();  // gives the socket path back before the summary is printed
  if (terminal) losses.viewSkipped = terminal->Skipped();
  const RunEnd end{Interrupted(), Display::ClosingNotes(losses)};
  RecordEnd(record, end);
  display.Finish(end.interrupted, end.notes);
  if (terminal) terminal->Close();
  ReportLosses(losses);
  return status;
}

std::string Reason() { return errno != 0 ? std::strerror(errno) : "unknown reason"; }

// Each output file is checked before anything is captured: a bad path costs no run. The
// pictures' files are made (if missing) but not emptied until the pictures are written.
bool OutputsWritable(const Options& o) {
  for (const std::string* path : {&o.chromeFile, &o.htmlFile}) {
    if (path->empty()) continue;
    errno = 0;
    std::ofstream probe(*path, std::ios::binary | std::ios::app);
    if (!probe) {
      std::cerr << "vxtrace: cannot write " << *path << ": " << Reason() << '\n';
      return false;
    }
  }
  return true;
}

bool WritePicture(const std::string& path, const CallModel& model, void (*write)(const CallModel&, std::ostream&)) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) write(model, out);
  out.flush();
  if (!out) std::cerr << "vxtrace: cannot write " << path << ": " << Reason() << '\n';
  return static_cast<bool>(out);
}

int WritePictures(const Options& o, const Display& display) {
  if (o.chromeFile.empty() && o.htmlFile.empty()) return 0;
  const CallModel model = display.Model();
  bool ok = o.chromeFile.empty() || WritePicture(o.chromeFile, model, WriteChromeTrace);
  ok = (o.htmlFile.empty() || WritePicture(o.htmlFile, model, WriteHtmlReport)) && ok;
  return ok ? 0 : kExitFailure;
}

int Run(const std::vector<std::string>& args) {
  Options o;
  std::string error;
  if (!ParseOptions(args, o, error)) {
    std::cerr << "vxtrace: " << error << "\nTry 'vxtrace --help' for more information.\n";
    return kExitUsage;
  }
  if (o.help) {
    std::cout << kUsage;
    return 0;
  }
  if (o.version) {
    std::cout << "vxtrace " VXTRACE_VERSION "\n";
    return 0;
  }
  const bool terminal = PrepareConsole();
  const bool color = o.color == ColorMode::Always || (o.color == ColorMode::Auto && terminal);

  KeepFilesPrivate();
  if (!OutputsWritable(o)) return kExitFailure;
  std::ofstream record;
  if (!o.outFile.empty()) {
    errno = 0;
    record.open(o.outFile, std::ios::binary | std::ios::trunc);
    if (!record) {
      std::cerr << "vxtrace: cannot write " << o.outFile << ": " << Reason() << '\n';
      return kExitFailure;
    }
  }
  InstallInterruptHandler();
  // A live capture does not wait for a slow terminal (a file or a pipe it waits for).
  std::unique_ptr<TerminalView> view;
  if (!o.readFile && LiveViewMaySkip()) view = std::make_unique<TerminalView>(1);
  std::ostream viewOut(view.get());
  Display display(view ? viewOut : std::cout, o, color);
  std::ofstream* recordTo = record.is_open() ? &record : nullptr;
  int status = o.readFile ? ReadCapture(o, display, recordTo) : Capture(o, display, recordTo, view.get());
  ReportUnmatched(display);
  const int pictures = WritePictures(o, display);
  return status != 0 ? status : pictures;
}

}  // namespace
}  // namespace vxtrace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Large writes: output is flushed whenever nothing waits, so a live view is not held back.
  static char outputBuffer[1 << 20];
  std::cout.rdbuf()->pubsetbuf(outputBuffer, sizeof outputBuffer);
  return vxtrace::Run(std::vector<std::string>(argv + 1, argv + argc));
}
