// vxtrace: statistics of a capture. Entries and exits are paired per thread by
// depth and name, so an exit whose entry was never captured still counts as one
// call, an entry whose exit never came (a crash, a capture stopped early) is listed
// as open, and neither upsets the calls around them.
#include "TraceSummary.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>

#include "DisplayText.h"

namespace vxtrace {
namespace {

constexpr std::size_t kNoSpan = static_cast<std::size_t>(-1);

// The component writes a 32-bit elapsed time; anything outside that is not a time to add.
long long Elapsed(const TraceRecord& r) { return std::clamp<long long>(r.ms, 0, 0x7FFFFFFF); }

void Update(TraceSummary::Routine& r, long long ms, long long self, bool nested) {
  r.minMs = r.timed == 0 ? ms : std::min(r.minMs, ms);
  r.maxMs = r.timed == 0 ? ms : std::max(r.maxMs, ms);
  ++r.timed;
  r.sumMs += ms;
  r.selfMs += self;
  if (!nested) r.totalMs += ms;
}

CallInstant::Kind InstantKind(RecordKind kind) {
  switch (kind) {
    case RecordKind::LineMarker:
      return CallInstant::Kind::LineMarker;
    case RecordKind::Error:
      return CallInstant::Kind::Error;
    case RecordKind::Timing:
      return CallInstant::Kind::TimeStamp;
    case RecordKind::Log:
      return CallInstant::Kind::Log;
    default:
      return CallInstant::Kind::Other;
  }
}

}  // namespace

void TraceSummary::Routine::Merge(const Routine& o) {
  if (o.timed > 0) {
    minMs = timed == 0 ? o.minMs : std::min(minMs, o.minMs);
    maxMs = timed == 0 ? o.maxMs : std::max(maxMs, o.maxMs);
  }
  calls += o.calls;
  timed += o.timed;
  totalMs += o.totalMs;
  selfMs += o.selfMs;
  sumMs += o.sumMs;
}

// Without arrival times (a plain text capture) a thread's clock is moved by the
// times the lines carry, so the calls still nest and last as long as they did.
void TraceSummary::Tick(Thread& t, const TraceRecord& r, double atMs) {
  if (atMs >= 0) {
    t.clockMs = std::max(t.clockMs, atMs);
    return;
  }
  if ((r.kind == RecordKind::Exit || r.kind == RecordKind::LineMarker) && !t.stack.empty() &&
      (r.kind == RecordKind::LineMarker || t.stack.back().name == r.name))
    t.clockMs = std::max(t.clockMs, t.stack.back().beginMs + static_cast<double>(Elapsed(r)));
}

void TraceSummary::Add(const TraceRecord& r, const ThreadKey& key, double atMs, const std::string& process) {
  ++lines_;
  // Lines come in runs from one writer: the last one is looked up first.
  if (!last_ || !(lastKey_ == key)) {
    last_ = &threads_[key];
    lastKey_ = key;
  }
  Thread& t = *last_;
  if (t.track.pid == 0 && t.track.tid == 0) {
    t.track.pid = key.pid;
    t.track.tid = key.tid;
  }
  if (t.track.process.empty()) t.track.process = process;
  Tick(t, r, atMs);
  const bool dateLine = t.afterBegin;
  t.afterBegin = r.kind == RecordKind::HierarchyBegin;
  switch (r.kind) {
    case RecordKind::Entry:
      Enter(t, r);
      return;
    case RecordKind::Exit:
      Leave(t, r);
      return;
    case RecordKind::Error:
      ++errors_;
      break;
    case RecordKind::StackEmpty:
    case RecordKind::LineWithoutEntry:
      ++warnings_;
      break;
    case RecordKind::Other:
      if (!dateLine) ++other_;  // the hierarchy dump's date line has no prefix
      break;
    default:
      break;
  }
  Instant(t, r);
}

void TraceSummary::Instant(Thread& t, const TraceRecord& r) {
  if (r.kind == RecordKind::Error && keepCalls_ && !t.stack.empty() && t.stack.back().span != kNoSpan)
    t.track.spans[t.stack.back().span].hasError = true;
  if (keepCalls_) t.track.instants.push_back({InstantKind(r.kind), t.clockMs, ToDisplay(r.text)});
}

// Frames above keep were left without an exit line we saw.
void TraceSummary::Unwind(Thread& t, std::size_t keep) {
  while (t.stack.size() > keep) {
    ++unbalanced_;
    if (t.stack.back().span != kNoSpan) t.track.spans[t.stack.back().span].endMs = t.clockMs;
    t.stack.pop_back();
  }
}

void TraceSummary::Enter(Thread& t, const TraceRecord& r) {
  std::size_t keep = t.stack.size();
  while (keep > 0 && t.stack[keep - 1].depth >= r.depth) --keep;
  Unwind(t, keep);
  std::size_t span = kNoSpan;
  if (keepCalls_) {
    span = t.track.spans.size();
    t.track.spans.push_back({r.name, r.note, t.clockMs, t.clockMs, static_cast<int>(t.stack.size()), false, false, {}});
  }
  t.stack.push_back({r.depth, r.name, t.clockMs, 0, span});
  t.orphanChildMs.erase(r.depth + 1);
  ++t.routines[r.name].calls;
  ++routines_[r.name].calls;
}

void TraceSummary::Leave(Thread& t, const TraceRecord& r) {
  std::size_t keep = t.stack.size();
  while (keep > 0 && t.stack[keep - 1].depth > r.depth) --keep;
  Unwind(t, keep);
  const bool matched = !t.stack.empty() && t.stack.back().depth == r.depth && t.stack.back().name == r.name;
  long long childMs = 0;
  if (matched) {
    Frame f = std::move(t.stack.back());
    t.stack.pop_back();
    childMs = f.childMs;
    if (f.span != kNoSpan) {
      CallSpan& s = t.track.spans[f.span];
      s.endMs = std::max(s.beginMs, t.clockMs);
      s.closed = true;
      s.exitNote = r.note;
    }
  } else {
    ++unbalanced_;
    ++t.routines[r.name].calls;
    ++routines_[r.name].calls;
    childMs = t.orphanChildMs[r.depth + 1];
    t.orphanChildMs.erase(r.depth + 1);
  }
  const long long ms = Elapsed(r);
  if (!t.stack.empty() && t.stack.back().depth < r.depth) t.stack.back().childMs += ms;
  else t.orphanChildMs[r.depth] += ms;
  const bool nested = std::any_of(t.stack.begin(), t.stack.end(), [&](const Frame& f) { return f.name == r.name; });
  Count(t, r.name, ms, childMs, nested);
}

void TraceSummary::Count(Thread& t, const std::string& name, long long ms, long long childMs, bool nested) {
  const long long self = std::max(0LL, ms - childMs);
  Update(t.routines[name], ms, self, nested);
  Update(routines_[name], ms, self, nested);
}

std::map<std::string, TraceSummary::Routine> TraceSummary::RoutinesOf(const ThreadKey& key) const {
  auto found = threads_.find(key);
  return found == threads_.end() ? std::map<std::string, Routine>{} : found->second.routines;
}

std::vector<std::pair<ThreadKey, std::vector<std::string>>> TraceSummary::OpenRoutines() const {
  std::vector<std::pair<ThreadKey, std::vector<std::string>>> open;
  for (const auto& [key, thread] : threads_) {
    if (thread.stack.empty()) continue;
    std::vector<std::string> names;
    for (const Frame& f : thread.stack) names.push_back(f.name);
    open.emplace_back(key, std::move(names));
  }
  return open;
}

}  // namespace vxtrace
