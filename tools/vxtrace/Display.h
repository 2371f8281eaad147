// vxtrace: what happens to each captured message: the filters, the chosen view,
// and the statistics.
#pragma once

#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "Capture.h"
#include "Message.h"
#include "Options.h"
#include "TraceSummary.h"
#include "TreeRenderer.h"

namespace vxtrace {

class Display {
 public:
  Display(std::ostream& out, const Options& options, bool color);

  // One message of the channel; a text of several lines is shown line by line.
  void Show(const vxtrace::Message& message);
  // The same for a message known only by its text and process.
  void Message(std::string_view text, unsigned long pid);
  // Held output is written in blocks, at Flush or once a block is full, rather than line by
  // line: for a capture, which flushes after every batch.
  void HoldOutput(bool hold);
  void Flush();
  // The end of a run: prints the summary when asked for, then the notes (see ClosingNotes).
  void Finish(bool interrupted, const std::vector<std::string>& notes = {});
  // What a capture adds under its summary: the lines through the ring and the losses.
  static std::vector<std::string> ClosingNotes(const CaptureLosses& losses);
  // One sentence per filter that matched no line of the run (for standard error).
  std::vector<std::string> UnmatchedFilters() const;
  CallModel Model() const { return summary_.Model(); }
  const TraceSummary& summary() const { return summary_; }

 private:
  struct Pending {
    TraceRecord entry;
    LineDecor decor;
    bool shown = false;
  };

  bool Wanted(const vxtrace::Message& m);
  bool TextPasses(const TraceRecord& r, const ThreadKey& key, std::string_view line);
  bool ExitOfExcluded(const TraceRecord& r, const ThreadKey& key, bool excluded);
  bool ErrorContext(const TraceRecord& r, const ThreadKey& key, const LineDecor& decor);
  void Draw(const TraceRecord& r, const ThreadKey& key, const LineDecor& decor);
  void DrawContinuation(std::string_view line, const ThreadKey& key, const LineDecor& decor);
  void DrawRaw(std::string_view line, const ThreadKey& key, const LineDecor& decor);
  LineDecor Decor(const vxtrace::Message& m, std::string_view line) const;

  std::ostream& out_;
  const Options& options_;
  TreeRenderer tree_;
  TraceSummary summary_;
  std::vector<std::regex> include_, exclude_, highlight_;
  std::map<ThreadKey, std::vector<Pending>> context_;                           // open routines, for --errors
  std::map<ThreadKey, std::vector<std::pair<int, std::string>>> excludedOpen_;  // depth, name
  // Which filters matched at least once.
  std::vector<bool> pidHit_, processHit_, includeHit_, excludeHit_;
  const bool parse_;  // whether lines are parsed and counted
  bool errorSeen_ = false;
  double firstTime_ = 0;
  TraceRecord record_;  // the line being shown, its memory reused
  std::string raw_;     // the raw view's lines not yet written
  bool hold_ = false;
};

}  // namespace vxtrace
