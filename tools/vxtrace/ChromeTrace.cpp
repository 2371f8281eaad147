// vxtrace: Chrome trace-event JSON. Calls become begin/end pairs per thread, written
// in the order a stack pairs them, with timestamps that never go back on a thread:
// viewers pair "B" and "E" by order, so a model with overlapping or unordered times
// is drawn clamped rather than torn apart.
#include "ChromeTrace.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "PictureText.h"

namespace vxtrace {
namespace {

// Viewers read process and thread ids as 32-bit numbers and take 0 for the system's
// idle task; ids the channel did not tell or that do not fit are made up, counting
// down from the largest.
constexpr unsigned long long kLargestId = 0x7FFFFFFF;

using Id = unsigned long long;

struct ShownId {
  Id pid;
  Id tid;
};

class EventWriter {
 public:
  explicit EventWriter(std::ostream& out) : out_(out) {}
  void Write(const std::string& event) {
    out_ << (first_ ? "\n" : ",\n") << event;
    first_ = false;
  }

 private:
  std::ostream& out_;
  bool first_ = true;
};

std::string Head(const char* ph, Id pid, Id tid) {
  std::string e = "{\"ph\":\"";
  e += ph;
  e += "\",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(tid);
  return e;
}

std::string Timestamp(double ms) { return ",\"ts\":" + FormatNumber(ms * 1000, 3); }

bool Fits(Id id) { return id != 0 && id <= kLargestId; }

// The process id each track is shown under: its own where it fits, otherwise one
// made up per process, the same on every write.
std::vector<Id> ShownPids(const CallModel& model) {
  std::set<Id> real;
  for (const ThreadTrack& t : model.threads)
    if (Fits(t.pid)) real.insert(t.pid);
  std::map<unsigned long, Id> made;
  Id next = kLargestId;
  std::vector<Id> shown;
  for (const ThreadTrack& t : model.threads) {
    auto [it, added] = made.try_emplace(t.pid, t.pid);
    if (added && !Fits(t.pid)) {
      while (real.count(next)) --next;
      it->second = next--;
    }
    shown.push_back(it->second);
  }
  return shown;
}

// The thread ids likewise: a track keeps its own where it fits and no other track of
// its process has it.
std::vector<ShownId> ShownIds(const CallModel& model) {
  std::vector<Id> pids = ShownPids(model);
  std::set<std::pair<Id, Id>> taken;
  std::vector<ShownId> shown(pids.size(), ShownId{0, 0});
  for (size_t i = 0; i < shown.size(); ++i) {
    shown[i].pid = pids[i];
    Id tid = model.threads[i].tid;
    if (Fits(tid) && taken.insert({pids[i], tid}).second) shown[i].tid = tid;
  }
  for (ShownId& id : shown) {
    if (id.tid != 0) continue;
    Id tid = kLargestId;
    while (!taken.insert({id.pid, tid}).second) --tid;
    id.tid = tid;
  }
  return shown;
}

void WriteMetadata(const CallModel& model, const std::vector<ShownId>& ids, EventWriter& w) {
  std::set<Id> named;
  for (size_t i = 0; i < model.threads.size(); ++i) {
    const ThreadTrack& t = model.threads[i];
    std::string label;
    if (named.insert(ids[i].pid).second) {
      label = Head("M", ids[i].pid, ids[i].tid) + ",\"name\":\"process_name\",\"args\":{\"name\":";
      AppendJsonString(label, ProcessLabel(t));
      w.Write(label + "}}");
    }
    label = Head("M", ids[i].pid, ids[i].tid) + ",\"name\":\"thread_name\",\"args\":{\"name\":";
    AppendJsonString(
        label, ProcessLabel(t) + " \xC2\xB7 " + ThreadLabel(t));  // a thread number alone says nothing of its process
    w.Write(label + "}}");
    w.Write(Head("M", ids[i].pid, ids[i].tid) +
            ",\"name\":\"thread_sort_index\",\"args\":{\"sort_index\":" + std::to_string(i) + "}}");
  }
}

// Writes one thread's events in order, holding the clock so it never goes back.
class ThreadWriter {
 public:
  ThreadWriter(const ThreadTrack& track, ShownId id, EventWriter& w) : track_(track), id_(id), w_(w) {
    order_.resize(track.instants.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
      return FiniteMs(track.instants[a].ms) < FiniteMs(track.instants[b].ms);
    });
  }

  void Run() {
    for (const CallSpan& span : track_.spans) {
      while (!open_.empty() && open_.back().span->depth >= span.depth) End();
      double begin = FiniteMs(span.beginMs);
      InstantsUpTo(begin, false);
      Begin(span, begin);
    }
    while (!open_.empty()) End();
    InstantsUpTo(std::numeric_limits<double>::infinity(), true);
  }

 private:
  struct Open {
    const CallSpan* span;
    double endMs;
  };

  double Clock(double ms) { return now_ = std::max(now_, ms); }

  void Begin(const CallSpan& span, double begin) {
    std::string e = Head("B", id_.pid, id_.tid) + Timestamp(Clock(begin)) + ",\"cat\":\"call\",\"name\":";
    AppendJsonString(e, span.name);
    if (span.hasError) e += ",\"cname\":\"terrible\"";
    std::string args;
    if (!span.note.empty()) AppendJsonString(args += ",\"note\":", span.note);
    if (!span.exitNote.empty()) AppendJsonString(args += ",\"exit_note\":", span.exitNote);
    if (span.hasError) args += ",\"error\":true";
    if (!span.closed) args += ",\"unclosed\":true";
    if (!args.empty()) e += ",\"args\":{" + args.substr(1) + "}";
    w_.Write(e + "}");
    open_.push_back({&span, std::max(begin, FiniteMs(span.endMs))});
  }

  void End() {
    Open top = open_.back();
    open_.pop_back();
    InstantsUpTo(top.endMs, true);
    std::string e = Head("E", id_.pid, id_.tid) + Timestamp(Clock(top.endMs)) + ",\"name\":";
    AppendJsonString(e, top.span->name);
    w_.Write(e + "}");
  }

  // Instants before `ms`, and at it when `inclusive`: a line at the moment a call ends
  // still belongs to that call; otherwise one at the moment a call begins belongs to it.
  void InstantsUpTo(double ms, bool inclusive) {
    for (; next_ < order_.size(); ++next_) {
      const CallInstant& in = track_.instants[order_[next_]];
      double at = FiniteMs(in.ms);
      if (at > ms || (at == ms && !inclusive)) return;
      std::string e = Head("i", id_.pid, id_.tid) + Timestamp(Clock(at)) + ",\"s\":\"t\",\"cat\":\"" +
                      InstantKindName(in.kind) + "\",\"name\":";
      AppendJsonString(e, in.text.empty() ? std::string_view(InstantKindName(in.kind)) : in.text);
      w_.Write(e + "}");
    }
  }

  const ThreadTrack& track_;
  ShownId id_;
  EventWriter& w_;
  std::vector<size_t> order_;
  size_t next_ = 0;
  std::vector<Open> open_;
  double now_ = -std::numeric_limits<double>::infinity();
};

}  // namespace

void WriteChromeTrace(const CallModel& model, std::ostream& out) {
  // The events come first: streaming readers look for them at the start.
  out << "{\"traceEvents\":[";
  EventWriter w(out);
  std::vector<ShownId> ids = ShownIds(model);
  WriteMetadata(model, ids, w);
  for (size_t i = 0; i < model.threads.size(); ++i) ThreadWriter(model.threads[i], ids[i], w).Run();
  out << "\n],\"displayTimeUnit\":\"ms\",\"otherData\":{\"generator\":\"vxtrace\"}}\n";
}

}  // namespace vxtrace
