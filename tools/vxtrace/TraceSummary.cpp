// vxtrace: summary of a capture. Entries and exits are paired by depth per source,
// so an exit whose entry was never captured still counts as one call, and an entry
// whose exit never came (a crash, a capture stopped early) is listed as open.
#include "TraceSummary.h"

#include <algorithm>
#include <iomanip>

#include "DisplayText.h"

namespace vxtrace {

void TraceSummary::Add(const TraceRecord& r, unsigned long source) {
  ++lines_;
  std::vector<Frame>& stack = stacks_[source];
  bool& afterBegin = afterBegin_[source];
  const bool dateLine = afterBegin;
  afterBegin = r.kind == RecordKind::HierarchyBegin;
  switch (r.kind) {
    case RecordKind::Entry:
      // Frames at this depth or deeper were left without an exit line we saw.
      while (!stack.empty() && stack.back().depth >= r.depth) stack.pop_back();
      stack.push_back({r.depth, r.name});
      ++routines_[r.name].calls;
      break;
    case RecordKind::Exit: {
      while (!stack.empty() && stack.back().depth > r.depth) stack.pop_back();
      Routine& routine = routines_[r.name];
      if (!stack.empty() && stack.back().depth == r.depth && stack.back().name == r.name)
        stack.pop_back();
      else
        ++routine.calls;
      routine.maxMs = routine.timed == 0 ? r.ms : std::max(routine.maxMs, r.ms);
      ++routine.timed;
      routine.totalMs += r.ms;
      break;
    }
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
}

std::vector<std::pair<unsigned long, std::vector<std::string>>> TraceSummary::OpenRoutines()
    const {
  std::vector<std::pair<unsigned long, std::vector<std::string>>> open;
  for (const auto& [source, stack] : stacks_) {
    if (stack.empty()) continue;
    std::vector<std::string> names;
    for (const Frame& f : stack) names.push_back(f.name);
    open.emplace_back(source, std::move(names));
  }
  return open;
}

void TraceSummary::Print(std::ostream& out) const {
  std::vector<std::pair<std::string, Routine>> rows(routines_.begin(), routines_.end());
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return a.second.totalMs > b.second.totalMs;
  });
  size_t width = 7;  // "routine"
  for (const auto& row : rows) width = std::max(width, ToDisplay(row.first).size());

  if (!rows.empty()) {
    out << std::left << std::setw(static_cast<int>(width)) << "routine" << std::right
        << std::setw(8) << "calls" << std::setw(12) << "total ms" << std::setw(10) << "max ms"
        << '\n';
    for (const auto& [name, r] : rows) {
      std::string shown = ToDisplay(name);
      out << shown << std::string(width - std::min(width, shown.size()), ' ') << std::setw(8)
          << r.calls;
      if (r.timed > 0)
        out << std::setw(12) << r.totalMs << std::setw(10) << r.maxMs;
      else
        out << std::setw(12) << "-" << std::setw(10) << "-";
      out << '\n';
    }
  }
  out << lines_ << (lines_ == 1 ? " line, " : " lines, ") << errors_
      << (errors_ == 1 ? " error, " : " errors, ") << warnings_
      << (warnings_ == 1 ? " warning, " : " warnings, ") << other_ << " unrecognised\n";
  for (const auto& [source, names] : OpenRoutines()) {
    out << "still open";
    if (stacks_.size() > 1) out << " in " << source;
    out << ":";
    for (size_t i = 0; i < names.size(); ++i) out << (i ? " > " : " ") << ToDisplay(names[i]);
    out << '\n';
  }
}

}  // namespace vxtrace
