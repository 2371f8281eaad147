// The module stack: RBDEBUGENTER, RBDEBUGEXIT and RBDEBUGMODULE trace routine entry and exit
// as an indented call tree with elapsed milliseconds. Entry and exit do constant work apart
// from the line they write, so a deep stack costs no more than a shallow one.
#include "core/Internal.h"
#include "vx380/ErrorLog.h"
#include "core/ModuleState.h"
#include "vx380/TraceChannel.h"

namespace vx380 {

namespace {
// How far an entry or exit got, for the failure report; its text is built only on failure.
struct Progress {
  enum Stage { kEntry, kExit, kExitCounted } stage = kEntry;
  Long count = 0;

  String Text() const {
    switch (stage) {
      case kEntry: return u"Processing entry to module";
      case kExit: return u"Processing exit from module";
      case kExitCounted: break;
    }
    return u"Processing exit from module lLastInStack = " + core::Decimal(count);
  }
};

// The line straight as bytes when nothing can tell the difference (see DirectDebugLines); and
// then no line at all while nobody listens.
bool Direct(const ErrorLog& self, const String& name, const String& note) {
  return core::AllAscii(name) && core::AllAscii(note) && core::DirectDebugLines(self);
}
bool Heard() { return core::DebugOutputHeard(); }

// The rest of an entry or exit line after its head: "<dots><name> , <note> , EOL ".
void WriteRoutineLine(core::DebugLineBuffer& line, size_t dots, const String& name, const String& note) {
  std::string& bytes = line.bytes();
  bytes.append(dots, channel::kDepthDot);
  line.AppendAscii(name);
  bytes.append(channel::kSeparator.str());
  line.AppendAscii(note);
  bytes.append(channel::kEndOfLine.str());
  line.Write(CurrentPlatform());
}

void WriteEntryLine(size_t dots, const String& name, const String& note) {
  core::DebugLineBuffer line;
  line.bytes().reserve(48 + dots + name.size() + note.size());
  line.bytes().append(channel::kEntryPrefix.str());
  WriteRoutineLine(line, dots, name, note);
}

// The decimal of `value` right-aligned in 8 columns, whole when longer (as "%8d").
void AppendRightAligned8(std::string& bytes, long long value) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* at = end;
  unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) *--at = '-';
  const size_t length = static_cast<size_t>(end - at);
  if (length < 8) bytes.append(8 - length, ' ');
  bytes.append(at, length);
}

void WriteExitLine(Long elapsed, size_t dots, const String& name, const String& note) {
  core::DebugLineBuffer line;
  std::string& bytes = line.bytes();
  bytes.reserve(56 + dots + name.size() + note.size());
  bytes.append(channel::kExitPrefix.str());
  AppendRightAligned8(bytes, elapsed);
  bytes.append(channel::kSeparator.str());
  WriteRoutineLine(line, dots, name, note);
}

void Enter(ErrorLog& self, core::ModuleStack& stack, const String& name, const String& note, Boolean suppress,
           Progress& progress) {
  progress.stage = Progress::kEntry;
  const Integer dots = CheckedInteger(2LL * stack.depth());
  if (dots < 0) RaiseRuntime(rt::kInvalidProcedureCall);
  const Long t = CurrentPlatform().TickCount();
  if (!suppress && Direct(self, name, note)) {
    if (Heard()) WriteEntryLine(static_cast<size_t>(dots), name, note);
  } else if (!suppress) {
    String line;
    line.reserve(48 + dots + name.size() + note.size());
    line.append(channel::kEntryPrefix.u16()).append(static_cast<size_t>(dots), channel::kDepthDot).append(name);
    line.append(channel::kSeparator.u16()).append(note).append(channel::kEndOfLine.u16());
    self.DebugTrace(std::move(line));
  }
  stack.Push(name, t, suppress);
}

void Exit(ErrorLog& self, core::ModuleStack& stack, const String& note, Progress& progress) {
  progress.stage = Progress::kExit;
  const Long count = stack.NameCount();
  progress = {Progress::kExitCounted, count};
  if (count < 1) {
    self.DebugTrace(String(channel::kStackEmpty.u16()));
    return;
  }
  const Integer below = CheckedInteger(stack.depth() - 1LL);
  const Integer dots = CheckedInteger(2LL * below);
  if (dots < 0) RaiseRuntime(rt::kInvalidProcedureCall);
  if (!stack.Suppressed(stack.depth())) {
    const Long elapsed = core::Elapsed(CurrentPlatform().TickCount(), stack.EntryTime(stack.depth()));
    const String& name = stack.TopName();
    if (Direct(self, name, note)) {
      if (Heard()) WriteExitLine(elapsed, static_cast<size_t>(dots), name, note);
      stack.Pop();
      return;
    }
    String line;
    line.reserve(48 + dots + name.size() + note.size());
    line.append(channel::kExitPrefix.u16()).append(core::RightAlign(core::Decimal(elapsed), 8));
    line.append(channel::kSeparator.u16()).append(static_cast<size_t>(dots), channel::kDepthDot).append(name);
    line.append(channel::kSeparator.u16()).append(note).append(channel::kEndOfLine.u16());
    self.DebugTrace(std::move(line));
  }
  stack.Pop();
}
}  // namespace

void ErrorLog::RBDEBUGMODULE(String strModuleName, const Boolean& bEntry, const String& strNote,
                             const Boolean& bSuppressDebug) {
  core::ModuleStack& stack = ThisThreadState().moduleStack;
  Progress progress;
  try {
    if (bEntry)
      Enter(*this, stack, strModuleName, strNote, bSuppressDebug, progress);
    else
      Exit(*this, stack, strNote, progress);
  } catch (...) {
    core::ReportTrapped(u"RBDEBUGMODULE ", box::kExclamation, u"\r\nProgress was: " + progress.Text());
  }
}

void ErrorLog::RBDEBUGENTER(String strModuleName, const String& strNote, const Boolean& bSuppressDebug) {
  const Boolean entry = kTrue;
  RBDEBUGMODULE(std::move(strModuleName), entry, strNote, bSuppressDebug);
}

void ErrorLog::RBDEBUGEXIT(const String& strNote) {
  const Boolean entry = kFalse;
  const Boolean suppress = kFalse;
  RBDEBUGMODULE(String{}, entry, strNote, suppress);
}

}  // namespace vx380
