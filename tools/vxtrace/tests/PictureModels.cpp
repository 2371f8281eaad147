// Call models the picture writers' tests draw, built by hand.
#include "PictureModels.h"

#include <algorithm>
#include <map>
#include <string>

namespace vxtrace::testing {
namespace {

CallSpan ErrorSpan(CallSpan s) {
  s.hasError = true;
  return s;
}

CallSpan Unclosed(CallSpan s) {
  s.closed = false;
  return s;
}

CallInstant Instant(CallInstant::Kind kind, double ms, const char* text) {
  CallInstant in;
  in.kind = kind;
  in.ms = ms;
  in.text = text;
  return in;
}

// Statistics as the capture side figures them: a recursive routine's inner calls
// add to its calls but not again to its total.
void AddRoutines(CallModel& model) {
  std::map<std::string, RoutineStat> by;
  for (const ThreadTrack& t : model.threads) {
    std::vector<const CallSpan*> stack;
    for (size_t i = 0; i < t.spans.size(); ++i) {
      const CallSpan& s = t.spans[i];
      while (!stack.empty() && stack.back()->depth >= s.depth) stack.pop_back();
      double ms = s.endMs - s.beginMs, self = ms;
      for (size_t j = i + 1; j < t.spans.size() && t.spans[j].depth > s.depth; ++j)
        if (t.spans[j].depth == s.depth + 1) self -= t.spans[j].endMs - t.spans[j].beginMs;
      RoutineStat& r = by[s.name];
      r.name = s.name;
      r.minMs = r.calls == 0 ? ms : std::min(r.minMs, ms);
      r.maxMs = std::max(r.maxMs, ms);
      ++r.calls;
      r.selfMs += self;
      bool nested = std::any_of(stack.begin(), stack.end(), [&](const CallSpan* o) { return o->name == s.name; });
      if (!nested) r.totalMs += ms;
      r.avgMs += ms;
      stack.push_back(&s);
    }
  }
  for (auto& [name, r] : by) {
    r.avgMs /= static_cast<double>(r.calls);
    model.routines.push_back(r);
  }
  std::stable_sort(model.routines.begin(), model.routines.end(),
                   [](const RoutineStat& a, const RoutineStat& b) { return a.selfMs > b.selfMs; });
}

ThreadTrack MainThread() {
  ThreadTrack t;
  t.pid = 4242;
  t.tid = 4242;
  t.process = "drafter.exe";
  t.spans = {Span("Startup", 0, 182, 0, "start"),
             Span("LoadSettings", 2, 14, 1),
             Span("ReadRegistry", 3, 9.5, 2),
             Span("OpenDrawing", 16, 120, 1, "plan.drw"),
             Span("ParseLayer", 20, 60, 2, "walls"),
             Span("ParseEntity", 22, 35, 3),
             ErrorSpan(Span("ParseEntity", 36, 58, 3, "arc 7")),
             Span("ParseLayer", 62, 110, 2, "doors"),
             Span("ParseEntity", 64, 108, 3),
             Span("CountChildren", 125, 175, 1),
             Span("CountChildren", 128, 170, 2),
             Span("CountChildren", 131, 160, 3),
             Span("CountChildren", 134, 150, 4),
             Span("Beep", 178, 178, 1)};
  t.instants = {
      Instant(CallInstant::Kind::TimeStamp, 0, "RBDEBUG TIME 0"),
      Instant(CallInstant::Kind::LineMarker, 40, "L(12) +4 ms"),
      Instant(CallInstant::Kind::Error, 50, "ERROR: drafter - ParseEntity described as: Bad arc, Error Number is: 5"),
      Instant(CallInstant::Kind::Log, 181, "saved")};
  return t;
}

ThreadTrack WorkerThread() {
  ThreadTrack t;
  t.pid = 4242;
  t.tid = 4250;
  t.process = "drafter.exe";
  t.spans = {Span("RenderTiles", 8, 150, 0), Span("RenderTile", 10, 50, 1, "tile 1"),
             Span("Rasterize", 12, 45, 2),   Span("RenderTile", 55, 95, 1, "tile 2"),
             Span("Rasterize", 57, 90, 2),   Span("RenderTile", 100, 145, 1, "tile 3"),
             Span("Rasterize", 102, 140, 2), Span("Flush", 155, 182, 0)};
  t.spans.back() = Unclosed(t.spans.back());
  return t;
}

ThreadTrack PlotterLines() {
  ThreadTrack t;
  t.pid = 5100;
  t.process = "plotter.exe";
  t.spans = {Span("Plot", 30, 170, 0, "A1"), Span("SendPage", 40, 90, 1), Span("SendPage", 95, 160, 1)};
  t.instants = {
      Instant(CallInstant::Kind::Error, 120, "ERROR: plotter - SendPage described as: Offline, Error Number is: 7")};
  t.spans[2].hasError = true;
  return t;
}

}  // namespace

CallSpan Span(const char* name, double beginMs, double endMs, int depth, const char* note) {
  CallSpan s;
  s.name = name;
  s.note = note;
  s.beginMs = beginMs;
  s.endMs = endMs;
  s.depth = depth;
  return s;
}

CallModel DraftingRun() {
  CallModel m;
  m.threads = {MainThread(), WorkerThread(), PlotterLines()};
  AddRoutines(m);
  return m;
}

CallModel HostileNames() {
  CallModel m;
  ThreadTrack t;
  t.pid = 77;
  t.tid = 78;
  t.process = "evil</script><script>alert(1)</script>\"\\.exe";
  t.spans = {Span("<script>alert(1)</script>", 0, 50, 0, "</script><img src=x onerror=alert(2)>"),
             Span("quote\"back\\slash\x1b[31m", 5, 20, 1, "tab\there\nnew line\x01\x1f\x7f"),
             Span("bad\xff\xfe utf8 \xc3(\xe2\x82", 21, 30, 1, "line\xe2\x80\xa8sep\xe2\x80\xa9par & amp"),
             Span("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", 31, 45, 1, "ok")};
  t.instants = {Instant(CallInstant::Kind::Error, 25, "ERROR: <b>bold</b> \"q\" \\ \x02"),
                Instant(CallInstant::Kind::Other, 46, "")};
  m.threads = {t};
  AddRoutines(m);
  return m;
}

CallModel ManyTinyCalls(int calls) {
  CallModel m;
  ThreadTrack t;
  t.pid = 9;
  t.tid = 10;
  t.process = "busy";
  t.spans.push_back(Span("Loop", 0, calls * 0.01 + 1, 0));
  for (int i = 0; i < calls; ++i) t.spans.push_back(Span("Tiny", 0.5 + i * 0.01, 0.5 + i * 0.01 + 0.005, 1));
  m.threads = {t};
  AddRoutines(m);
  return m;
}

long long Calls(const CallModel& model) {
  long long n = 0;
  for (const ThreadTrack& t : model.threads) n += static_cast<long long>(t.spans.size());
  return n;
}

long long ErrorCalls(const CallModel& model) {
  long long n = 0;
  for (const ThreadTrack& t : model.threads)
    n += std::count_if(t.spans.begin(), t.spans.end(), [](const CallSpan& s) { return s.hasError; });
  return n;
}

long long ErrorLines(const CallModel& model) {
  long long n = 0;
  for (const ThreadTrack& t : model.threads)
    n += std::count_if(t.instants.begin(), t.instants.end(),
                       [](const CallInstant& i) { return i.kind == CallInstant::Kind::Error; });
  return n;
}

}  // namespace vxtrace::testing
