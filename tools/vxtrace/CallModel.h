// vxtrace: a traced run as timed calls per thread, the shape the picture writers
// (Chrome trace-event JSON, the HTML flame chart) draw from.
#pragma once

#include <string>
#include <vector>

namespace vxtrace {

// One routine from its entry to its exit. Times are milliseconds since the capture began.
struct CallSpan {
  std::string name;
  std::string note;  // the entry line's
  double beginMs = 0;
  double endMs = 0;
  int depth = 0;          // 0 = outermost call of its thread
  bool closed = true;     // false: no exit was seen; endMs is the thread's last time
  bool hasError = false;  // an error line arrived while this call was the innermost one
  std::string exitNote;   // the exit line's
};

// A moment on a thread's time line that is not a call.
struct CallInstant {
  enum class Kind { LineMarker, Error, TimeStamp, Log, Other };
  Kind kind = Kind::Other;
  double ms = 0;
  std::string text;  // the whole line as shown in the tree view
};

struct ThreadTrack {
  unsigned long pid = 0;        // 0 when the channel did not tell
  unsigned long long tid = 0;   // 0 when the channel did not tell: the process's lines
  std::string process;          // process name, "" when unknown
  std::vector<CallSpan> spans;  // in order of entry
  std::vector<CallInstant> instants;
};

// Per routine over the whole run (or one thread with --by-thread).
struct RoutineStat {
  std::string name;
  long long calls = 0;
  double totalMs = 0;  // inclusive; nested recursive calls counted once
  double selfMs = 0;
  double minMs = 0;
  double avgMs = 0;
  double maxMs = 0;
};

struct CallModel {
  std::vector<ThreadTrack> threads;
  std::vector<RoutineStat> routines;  // sorted by self time, largest first
};

}  // namespace vxtrace
