// vxtrace: capture tool for the debug output channel. Listens (or reads a capture)
// and hands every line to the display until --count, --timeout, Ctrl-C or the end
// of the input.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "Capture.h"
#include "Display.h"
#include "Options.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace vxtrace {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitTimedOut = 4;
constexpr int kSliceMs = 250;  // how often a quiet capture looks at Ctrl-C

int ReadCapture(const Options& o, Display& display, std::ofstream* record) {
  std::FILE* in = stdin;
  if (*o.readFile != "-") {
    in = std::fopen(o.readFile->c_str(), "rb");
    if (!in) {
      std::perror(("vxtrace: " + *o.readFile).c_str());
      return kExitFailure;
    }
  }
#ifdef _WIN32
  else {
    _setmode(_fileno(stdin), _O_BINARY);
  }
#endif
  long long lines = 0;
  std::string line;
  bool more = true;
  while (more && !Interrupted() && std::cout) {
    int c;
    line.clear();
    while ((c = std::getc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    more = c != EOF;
    if (!more && line.empty()) break;
    if (record) *record << line << '\n';
    display.Line(line, 0);
    if (o.count > 0 && ++lines >= o.count) break;
  }
  if (in != stdin) std::fclose(in);
  display.Finish(Interrupted());
  return 0;
}

int Capture(const Options& o, Display& display, std::ofstream* record) {
  OpenFailure failure;
  std::unique_ptr<Listener> listener = OpenListener(o.socketPath, failure);
  if (!listener) {
    std::cerr << "vxtrace: " << failure.message << '\n';
    return failure.exitCode;
  }
  std::cerr << "vxtrace: " << listener->Describe() << "; Ctrl-C stops" << std::endl;

  using Clock = std::chrono::steady_clock;
  const bool limited = o.timeoutSeconds > 0;
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(limited ? o.timeoutSeconds : 0));
  long long received = 0;
  int status = 0;
  Message message;
  for (;;) {
    if (Interrupted() || !std::cout) break;
    int wait = kSliceMs;
    if (limited) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        if (o.count > 0) status = kExitTimedOut;
        break;
      }
      if (left.count() < wait) wait = static_cast<int>(left.count());
    }
    WaitResult result = listener->Wait(message, wait);
    if (result == WaitResult::Failed) {
      std::cerr << "vxtrace: " << listener->LastError() << '\n';
      status = kExitFailure;
      break;
    }
    if (result != WaitResult::Received) continue;
    if (record) {
      *record << message.text;
      if (message.text.empty() || message.text.back() != '\n') *record << '\n';
      record->flush();
    }
    display.Message(message.text, message.source);
    std::cout.flush();
    if (o.count > 0 && ++received >= o.count) break;
  }
  listener.reset();  // gives the socket path back before the summary is printed
  display.Finish(Interrupted());
  return status;
}

int Run(const std::vector<std::string>& args) {
  Options o;
  std::string error;
  if (!ParseOptions(args, o, error)) {
    std::cerr << "vxtrace: " << error << "\n\n" << kUsage;
    return kExitUsage;
  }
  if (o.help) {
    std::cout << kUsage;
    return 0;
  }
  if (o.version) {
    std::cout << "vxtrace 1.0\n";
    return 0;
  }
  const bool terminal = PrepareConsole();
  const bool color = o.color == ColorMode::Always || (o.color == ColorMode::Auto && terminal);

  std::ofstream record;
  if (!o.outFile.empty()) {
    record.open(o.outFile, std::ios::binary | std::ios::trunc);
    if (!record) {
      std::cerr << "vxtrace: cannot write " << o.outFile << '\n';
      return kExitFailure;
    }
  }
  InstallInterruptHandler();
  Display display(std::cout, o, color);
  std::ofstream* recordTo = record.is_open() ? &record : nullptr;
  if (o.readFile) return ReadCapture(o, display, recordTo);
  return Capture(o, display, recordTo);
}

}  // namespace
}  // namespace vxtrace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return vxtrace::Run(std::vector<std::string>(argv + 1, argv + argc));
}
