// vxtrace: the statistics as a table, and as the model the pictures draw.
#include <algorithm>
#include <cstdio>
#include <iomanip>

#include "DisplayText.h"
#include "PictureText.h"
#include "TraceSummary.h"

namespace vxtrace {
namespace {

using Row = std::pair<std::string, TraceSummary::Routine>;

std::vector<Row> BySelfTime(const std::map<std::string, TraceSummary::Routine>& routines) {
  std::vector<Row> rows(routines.begin(), routines.end());
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.second.selfMs > b.second.selfMs; });
  return rows;
}

std::string Average(const TraceSummary::Routine& r) {
  return FormatAverageMs(static_cast<double>(r.sumMs) / static_cast<double>(r.timed));
}

}  // namespace

void TraceSummary::PrintTable(std::ostream& out, const std::map<std::string, Routine>& routines) {
  const std::vector<Row> rows = BySelfTime(routines);
  if (rows.empty()) return;
  size_t width = 7;  // "routine"
  for (const Row& row : rows) width = std::max(width, ToDisplay(row.first).size());
  out << std::left << std::setw(static_cast<int>(width)) << "routine" << std::right << std::setw(8) << "calls"
      << std::setw(11) << "total ms" << std::setw(10) << "self ms" << std::setw(9) << "min ms" << std::setw(10)
      << "avg ms" << std::setw(9) << "max ms" << '\n';
  for (const auto& [name, r] : rows) {
    std::string shown = ToDisplay(name);
    out << shown << std::string(width - std::min(width, shown.size()), ' ') << std::setw(8) << r.calls;
    if (r.timed > 0)
      out << std::setw(11) << r.totalMs << std::setw(10) << r.selfMs << std::setw(9) << r.minMs << std::setw(10)
          << Average(r) << std::setw(9) << r.maxMs;
    else
      out << std::setw(11) << "-" << std::setw(10) << "-" << std::setw(9) << "-" << std::setw(10) << "-" << std::setw(9)
          << "-";
    out << '\n';
  }
}

void TraceSummary::Print(std::ostream& out, bool byThread) const {
  PrintTable(out, routines_);
  for (const auto& [key, t] : threads_) {
    if (!byThread || t.routines.empty()) continue;
    out << "\nthread " << key.Label();
    if (!t.track.process.empty()) out << " (" << ToDisplay(t.track.process) << ")";
    out << '\n';
    PrintTable(out, t.routines);
  }
  out << lines_ << (lines_ == 1 ? " line, " : " lines, ") << errors_ << (errors_ == 1 ? " error, " : " errors, ")
      << warnings_ << (warnings_ == 1 ? " warning, " : " warnings, ") << other_ << " unrecognised, " << unbalanced_
      << " unbalanced\n";
  for (const auto& [key, names] : OpenRoutines()) {
    out << "still open";
    if (threads_.size() > 1) out << " in " << key.Label();
    out << ":";
    for (size_t i = 0; i < names.size(); ++i) out << (i ? " > " : " ") << ToDisplay(names[i]);
    out << '\n';
  }
}

CallModel TraceSummary::Model() const {
  CallModel model;
  for (const auto& [key, t] : threads_) {
    ThreadTrack track = t.track;
    for (CallSpan& s : track.spans)
      if (!s.closed) s.endMs = std::max(s.beginMs, t.clockMs);
    model.threads.push_back(std::move(track));
  }
  for (const auto& [name, r] : BySelfTime(routines_)) {
    RoutineStat s;
    s.name = name;
    s.calls = r.calls;
    if (r.timed > 0) {
      s.totalMs = static_cast<double>(r.totalMs);
      s.selfMs = static_cast<double>(r.selfMs);
      s.minMs = static_cast<double>(r.minMs);
      s.maxMs = static_cast<double>(r.maxMs);
      s.avgMs = static_cast<double>(r.sumMs) / static_cast<double>(r.timed);
    }
    model.routines.push_back(std::move(s));
  }
  return model;
}

}  // namespace vxtrace
