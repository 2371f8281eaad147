// The module stack: RBDEBUGENTER, RBDEBUGEXIT and RBDEBUGMODULE trace routine entry and exit
// as an indented call tree with elapsed milliseconds. Entry and exit do constant work apart
// from the line they write, so a deep stack costs no more than a shallow one.
#include "core/AsciiText.h"
#include "core/CurrentPlatform.h"
#include "core/DebugOutput.h"
#include "core/ErrorTrap.h"
#include "core/LinePieces.h"
#include "core/ModuleState.h"
#include "core/TextFormat.h"
#include "vx380/ErrorLog.h"
#include "vx380/TraceChannel.h"

namespace vx380 {

namespace {
// How far an entry or exit got, for the failure report; its text is built only on failure.
struct Progress {
  enum Stage { kEntry, kExit, kExitCounted } stage = kEntry;
  Long count = 0;

  String Text() const {
    switch (stage) {
      case kEntry:
        return u"Processing entry to module";
      case kExit:
        return u"Processing exit from module";
      case kExitCounted:
        break;
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

// A number right-aligned in 8 columns, whole when longer (as "%8d").
struct Field8 {
  explicit Field8(long long value) {
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
    do {
      *--at = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--at = '-';
  }
  size_t length() const { return static_cast<size_t>(digits + sizeof digits - at); }
  size_t padding() const { return length() < 8 ? 8 - length() : 0; }
  char digits[24];
  char* at = digits + sizeof digits;
};

using core::ByteLine;
using core::TextLine;

// A number right-aligned in 8 columns.
template <typename Line>
void PutField8(Line& out, const Field8& field) {
  out.Repeat(field.padding(), ' ');
  out.PutAscii(std::string_view(field.at, field.length()));
}

// "<dots><name> , <note> , EOL ": the rest of an entry or exit line after its head.
template <typename Line>
void RoutineTail(Line& out, size_t dots, const String& name, const String& note) {
  out.Repeat(dots, channel::kDepthDot);
  out.Put(name);
  out.Put(channel::kSeparator);
  out.Put(note);
  out.Put(channel::kEndOfLine);
}

// Builds the line with `build` into the thread's byte buffer or into text, and sends it.
template <typename Build>
void SendRoutineLine(ErrorLog& self, bool direct, size_t size, const Build& build) {
  if (direct) {
    if (!Heard()) return;
    core::DebugLineBuffer bytes;
    bytes.bytes().reserve(size);
    ByteLine out{bytes};
    build(out);
    bytes.Write(CurrentPlatform());
    return;
  }
  String text;
  text.reserve(size);
  TextLine out{text};
  build(out);
  self.DebugTrace(std::move(text));
}

void Enter(ErrorLog& self, core::ModuleStack& stack, const String& name, const String& note, Boolean suppress,
           Progress& progress) {
  progress.stage = Progress::kEntry;
  const Integer dots = CheckedInteger(2LL * stack.depth());
  if (dots < 0) RaiseRuntime(rt::kInvalidProcedureCall);
  const Long t = CurrentPlatform().TickCount();
  if (!suppress) {
    SendRoutineLine(self, Direct(self, name, note), 48 + dots + name.size() + note.size(), [&](auto& out) {
      out.Put(channel::kEntryPrefix);
      RoutineTail(out, static_cast<size_t>(dots), name, note);
    });
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
    SendRoutineLine(self, Direct(self, name, note), 56 + dots + name.size() + note.size(), [&](auto& out) {
      out.Put(channel::kExitPrefix);
      PutField8(out, Field8(elapsed));
      out.Put(channel::kSeparator);
      RoutineTail(out, static_cast<size_t>(dots), name, note);
    });
  }
  stack.Pop();
}
}  // namespace

void ErrorLog::RBDEBUGMODULE(String strModuleName, const Boolean& bEntry, const String& strNote,
                             const Boolean& bSuppressDebug) {
  core::ModuleStack& stack = ThisThreadState().moduleStack;
  Progress progress;
  try {
    if (bEntry) Enter(*this, stack, strModuleName, strNote, bSuppressDebug, progress);
    else Exit(*this, stack, strNote, progress);
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
