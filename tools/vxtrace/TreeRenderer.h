// vxtrace: draws trace records as an indented call tree, one output line per
// record, as they arrive (a live capture cannot wait for a routine to end).
#pragma once

#include <map>
#include <ostream>
#include <string_view>

#include "TraceParser.h"

namespace vxtrace {

struct RenderStyle {
  bool color = false;       // ANSI colours; only for a terminal
  bool ascii = false;       // plain characters instead of box drawing
  bool tagSources = false;  // "[pid] " before every line from the start
};

class TreeRenderer {
 public:
  TreeRenderer(std::ostream& out, RenderStyle style) : out_(out), style_(style) {}

  // source: the writing process id, 0 when unknown. Sources are tagged as soon
  // as a second one shows up, since their lines interleave.
  void Add(const TraceRecord& record, unsigned long source = 0);
  // A further line of a message that held several, drawn under the record it continues.
  void AddContinuation(std::string_view text, unsigned long source = 0);

 private:
  struct SourceState {
    int depth = 0;             // nesting the next free line is drawn at
    bool afterBegin = false;   // the hierarchy's date line follows its Begin line
  };

  SourceState& StartLine(unsigned long source);
  void Guides(int depth);
  void Paint(const char* color, const std::string& text);
  void Note(const std::string& note);

  std::ostream& out_;
  RenderStyle style_;
  std::map<unsigned long, SourceState> sources_;
};

}  // namespace vxtrace
