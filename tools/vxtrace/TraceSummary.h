// vxtrace: calls and times per routine and per thread over a whole capture, and the
// timed calls the pictures are drawn from.
#pragma once

#include <cstddef>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "CallModel.h"
#include "ThreadKey.h"
#include "TraceParser.h"

namespace vxtrace {

class TraceSummary {
 public:
  struct Routine {
    long long calls = 0;    // entries seen, plus exits whose entry came before the capture
    long long timed = 0;    // exit lines, which carry the elapsed time
    long long totalMs = 0;  // inclusive; a call inside a call of itself is not added again
    long long selfMs = 0;   // without the calls it made
    long long minMs = 0;
    long long maxMs = 0;
    long long sumMs = 0;  // of every timed call, for the average
    void Merge(const Routine& o);
  };

  // keepCalls: also keep every call and marker for Model() (memory grows with the run).
  explicit TraceSummary(bool keepCalls = false) : keepCalls_(keepCalls) {}
  TraceSummary(const TraceSummary&) = delete;  // it points into itself
  TraceSummary& operator=(const TraceSummary&) = delete;

  // atMs: the arrival in milliseconds since the capture began, or below 0 when the
  // line's time is unknown (the thread's clock then follows the lines' own times).
  void Add(const TraceRecord& record, const ThreadKey& key = {}, double atMs = -1, const std::string& process = "");
  // byThread: one table per thread instead of one for the run.
  void Print(std::ostream& out, bool byThread = false) const;
  CallModel Model() const;

  const std::map<std::string, Routine>& routines() const { return routines_; }
  std::map<std::string, Routine> RoutinesOf(const ThreadKey& key) const;
  long long lines() const { return lines_; }
  long long errors() const { return errors_; }
  long long warnings() const { return warnings_; }
  long long unrecognised() const { return other_; }
  // Entries never left and exits never entered (a capture started mid-run, lost or
  // interleaved lines).
  long long unbalanced() const { return unbalanced_; }
  // Routines entered and not yet left, outermost first, per thread.
  std::vector<std::pair<ThreadKey, std::vector<std::string>>> OpenRoutines() const;

 private:
  struct Frame {
    int depth;
    std::string name;
    double beginMs;
    long long childMs = 0;
    std::size_t span;  // index in the thread's spans, or npos
  };
  struct Thread {
    std::vector<Frame> stack;
    std::map<int, long long> orphanChildMs;  // exits seen without their caller's entry
    std::map<std::string, Routine> routines;
    double clockMs = 0;
    bool afterBegin = false;
    ThreadTrack track;
  };

  void Enter(Thread& t, const TraceRecord& r);
  void Leave(Thread& t, const TraceRecord& r);
  void Count(Thread& t, const std::string& name, long long ms, long long childMs, bool nested);
  void Unwind(Thread& t, std::size_t keep);
  void Instant(Thread& t, const TraceRecord& r);
  static void Tick(Thread& t, const TraceRecord& r, double atMs);
  static void PrintTable(std::ostream& out, const std::map<std::string, Routine>& routines);

  bool keepCalls_;
  std::map<std::string, Routine> routines_;
  std::map<ThreadKey, Thread> threads_;
  Thread* last_ = nullptr;  // map nodes stay put, so this stays valid
  ThreadKey lastKey_;
  long long lines_ = 0;
  long long errors_ = 0;
  long long warnings_ = 0;
  long long other_ = 0;
  long long unbalanced_ = 0;
};

}  // namespace vxtrace
