// vxtrace: per-routine call counts and times over a whole capture.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "TraceParser.h"

namespace vxtrace {

class TraceSummary {
 public:
  struct Routine {
    long long calls = 0;  // entries seen, plus exits whose entry came before the capture
    long long timed = 0;  // exit lines, which carry the elapsed time
    long long totalMs = 0;
    long long maxMs = 0;
  };

  void Add(const TraceRecord& record, unsigned long source = 0);
  void Print(std::ostream& out) const;

  const std::map<std::string, Routine>& routines() const { return routines_; }
  long long lines() const { return lines_; }
  long long errors() const { return errors_; }
  long long warnings() const { return warnings_; }
  long long unrecognised() const { return other_; }
  // Routines entered and not yet left, outermost first, per source.
  std::vector<std::pair<unsigned long, std::vector<std::string>>> OpenRoutines() const;

 private:
  struct Frame {
    int depth;
    std::string name;
  };

  std::map<std::string, Routine> routines_;
  std::map<unsigned long, std::vector<Frame>> stacks_;
  std::map<unsigned long, bool> afterBegin_;
  long long lines_ = 0;
  long long errors_ = 0;
  long long warnings_ = 0;
  long long other_ = 0;
};

}  // namespace vxtrace
