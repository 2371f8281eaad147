// vxtrace: recognises the component's trace line shapes. Every branch checks what
// it reads and falls back to Other, so garbage, truncated datagrams and lines
// written by hosts through the free-text members are shown rather than misread.
#include "TraceParser.h"

#include <charconv>
#include <optional>

#include "vx380/TraceChannel.h"

namespace vxtrace {
namespace {

namespace ch = vx380::channel;
constexpr std::string_view kSep = ch::kSeparator.str();
// The end of line marker without its trailing blank, which editors tend to drop.
// What the warning line starts with; the routines it names may be spelled otherwise later.
const std::string_view kLineWithoutEntryStart =
    ch::kLineWithoutEntry.str().substr(0, ch::kLineWithoutEntry.str().find("RBDEBUGENTER"));
const std::string_view kEndOfLineTrimmed = ch::kEndOfLine.str().substr(0, ch::kEndOfLine.str().size() - 1);

bool ConsumePrefix(std::string_view& s, std::string_view prefix) {
  // Most prefixes share their start: their last byte tells them apart at once.
  if (s.size() < prefix.size() || (!prefix.empty() && s[prefix.size() - 1] != prefix.back())) return false;
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

bool ConsumeSuffix(std::string_view& s, std::string_view suffix) {
  if (s.size() < suffix.size() || s.substr(s.size() - suffix.size()) != suffix) return false;
  s.remove_suffix(suffix.size());
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

int CountLeading(std::string_view& s, char c) {
  int n = 0;
  while (!s.empty() && s.front() == c) {
    s.remove_prefix(1);
    ++n;
  }
  return n;
}

std::optional<long long> ParseNumber(std::string_view s) {
  s = TrimBlanks(s);
  long long value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// "<dots><name> , <note> , EOL " shared by entry and exit lines. The trailing blank
// after EOL is often lost when a capture passes through an editor, so it is optional.
bool ParseRoutineTail(std::string_view rest, TraceRecord& r) {
  if (!ConsumeSuffix(rest, ch::kEndOfLine.str()) && !ConsumeSuffix(rest, kEndOfLineTrimmed)) return false;
  size_t sep = rest.find(kSep);
  if (sep == std::string_view::npos) return false;
  std::string_view nameField = rest.substr(0, sep);
  r.depth = CountLeading(nameField, ch::kDepthDot) / 2;
  r.name = nameField;
  r.note = rest.substr(sep + kSep.size());
  return true;
}

bool ParseEntry(std::string_view rest, TraceRecord& r) {
  if (!ParseRoutineTail(rest, r)) return false;
  r.kind = RecordKind::Entry;
  return true;
}

bool ParseExit(std::string_view rest, TraceRecord& r) {
  size_t sep = rest.find(kSep);
  if (sep == std::string_view::npos) return false;
  auto ms = ParseNumber(rest.substr(0, sep));
  if (!ms || !ParseRoutineTail(rest.substr(sep + kSep.size()), r)) return false;
  r.ms = *ms;
  r.kind = RecordKind::Exit;
  return true;
}

// After "RBDEBUG , L(": "<n>)<pad> , <ms> , <blanks><name> <note>".
bool ParseLineMarker(std::string_view rest, TraceRecord& r) {
  size_t close = rest.find(')');
  if (close == std::string_view::npos) return false;
  auto number = ParseNumber(rest.substr(0, close));
  if (!number) return false;
  rest.remove_prefix(close + 1);
  CountLeading(rest, ' ');  // the label's padding; the separator's own blank goes too
  if (!ConsumePrefix(rest, kSep.substr(1))) return false;
  size_t sep = rest.find(kSep);
  if (sep == std::string_view::npos) return false;
  auto ms = ParseNumber(rest.substr(0, sep));
  if (!ms) return false;
  rest.remove_prefix(sep + kSep.size());
  r.depth = CountLeading(rest, ' ') / 2;
  size_t blank = rest.find(' ');
  r.name = rest.substr(0, blank);
  if (blank != std::string_view::npos) r.note = rest.substr(blank + 1);
  r.lineNumber = *number;
  r.ms = *ms;
  r.kind = RecordKind::LineMarker;
  return true;
}

// After "RBDEBUGTIMING , timestamp , ": "<note> , <time> , <tick>". The note is free
// text, so the two fixed fields are taken from the right.
bool ParseTiming(std::string_view rest, TraceRecord& r) {
  size_t tickSep = rest.rfind(kSep);
  if (tickSep == std::string_view::npos) return false;
  auto tick = ParseNumber(rest.substr(tickSep + kSep.size()));
  if (!tick) return false;
  rest = rest.substr(0, tickSep);
  size_t timeSep = rest.rfind(kSep);
  if (timeSep == std::string_view::npos) return false;
  r.timeOfDay = rest.substr(timeSep + kSep.size());
  r.note = rest.substr(0, timeSep);
  r.ms = *tick;
  r.kind = RecordKind::Timing;
  return true;
}

bool ParseHierarchy(std::string_view rest, TraceRecord& r) {
  std::string_view trimmed = TrimBlanks(rest);
  if (trimmed == ch::kHierarchyBegin.str().substr(ch::kHierarchyPrefix.str().size())) {
    r.kind = RecordKind::HierarchyBegin;
    return true;
  }
  if (trimmed == ch::kHierarchyEnd.str().substr(ch::kHierarchyPrefix.str().size())) {
    r.kind = RecordKind::HierarchyEnd;
    return true;
  }
  r.depth = CountLeading(rest, ' ') / 2;
  const std::string_view nameSep = ch::kHierarchyNameSeparator.str();
  size_t sep = rest.find(nameSep);
  if (sep == std::string_view::npos) return false;
  r.name = rest.substr(0, sep);
  r.note = rest.substr(sep + nameSep.size());
  r.kind = RecordKind::HierarchyObject;
  return true;
}

}  // namespace

std::string_view StripLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

TraceRecord ParseTraceLine(std::string_view line) {
  TraceRecord r;
  ParseTraceLine(line, r);
  return r;
}

// Every field is set afresh; the strings keep their memory for the next line.
void ParseTraceLine(std::string_view line, TraceRecord& r) {
  line = StripLineEnd(line);
  const auto reset = [&r] {
    r.kind = RecordKind::Other;
    r.depth = 0;
    r.ms = r.lineNumber = 0;
    r.name.clear();
    r.note.clear();
    r.timeOfDay.clear();
  };
  reset();
  r.text = line;
  std::string_view rest = line;
  bool ok = false;
  if (ConsumePrefix(rest, ch::kEntryPrefix.str())) {
    ok = ParseEntry(rest, r);
  } else if (ConsumePrefix(rest, ch::kExitPrefix.str())) {
    ok = ParseExit(rest, r);
  } else if (ConsumePrefix(rest, ch::kLineMarkerPrefix.str()) && ConsumePrefix(rest, "(")) {
    ok = ParseLineMarker(rest, r);
  } else if (ConsumePrefix(rest, ch::kLogPrefix.str()) ||
             ConsumePrefix(rest, ch::kLogPrefix.str().substr(0, ch::kLogPrefix.str().size() - 1))) {
    r.note = rest;
    r.kind = RecordKind::Log;
    ok = true;
  } else if (TrimBlanks(line) == ch::kStackEmpty.str()) {
    r.kind = RecordKind::StackEmpty;
    ok = true;
  } else if (ConsumePrefix(rest, kLineWithoutEntryStart)) {
    r.kind = RecordKind::LineWithoutEntry;
    ok = true;
  } else if (ConsumePrefix(rest, ch::kTimingPrefix.str())) {
    ok = ParseTiming(rest, r);
  } else if (ConsumePrefix(rest, ch::kHierarchyPrefix.str())) {
    ok = ParseHierarchy(rest, r);
  } else if (ConsumePrefix(rest, ch::kErrorPrefix.str())) {
    r.note = rest;
    r.kind = RecordKind::Error;
    ok = true;
  }
  if (!ok) reset();  // a half-recognised line must not leak fields into the verbatim record
}

}  // namespace vxtrace
