// vxtrace: draws trace records as an indented call tree, one output line per
// record, as they arrive (a live capture cannot wait for a routine to end).
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "ThreadKey.h"
#include "TraceParser.h"

namespace vxtrace {

struct RenderStyle {
  bool color = false;       // ANSI colours; only for a terminal
  bool ascii = false;       // plain characters instead of box drawing
  bool tagSources = false;  // "[pid] " before every line from the start
};

// Deeper nesting than this is drawn at this depth with its level as a number, so
// the output grows at most linearly with the input.
constexpr int kMaxDrawnDepth = 32;

// What goes before a line besides the tree: its time and whether it is highlighted.
struct LineDecor {
  std::string prefix;  // e.g. the time, drawn first
  bool highlight = false;
};

class TreeRenderer {
 public:
  TreeRenderer(std::ostream& out, RenderStyle style) : out_(out), style_(style) {}

  // source: the writing thread (or process); each has its own tree. Sources are
  // tagged as soon as a second one shows up, since their lines interleave.
  void Add(const TraceRecord& record, const ThreadKey& source = {}, const LineDecor& decor = {});
  // A further line of a message that held several, drawn under the record it continues.
  void AddContinuation(std::string_view text, const ThreadKey& source = {}, const LineDecor& decor = {});
  // Held, drawn lines are written in blocks: at Flush, or once a block is full.
  void HoldLines(bool hold) { hold_ = hold; }
  void Flush();

 private:
  struct SourceState {
    int depth = 0;            // nesting the next free line is drawn at
    bool afterBegin = false;  // the hierarchy's date line follows its Begin line
    std::string tag;          // "[pid/tid] ", made once
  };

  SourceState& StartLine(const ThreadKey& source, const LineDecor& decor);
  bool DrawRoutine(const TraceRecord& r, SourceState& s);
  void DrawFree(const TraceRecord& r, SourceState& s, bool afterBegin);
  void Guides(int depth);
  void Paint(const char* color, const std::string& text);
  // The same for a glyph and bytes shown as ToDisplay shows them.
  void PaintShown(const char* color, std::string_view glyph, std::string_view bytes);
  void Note(const std::string& note);

  // The line being drawn, written out whole: one write a line.
  struct LineText {
    std::string text;
    LineText& operator<<(std::string_view s) {
      text.append(s);
      return *this;
    }
    LineText& operator<<(char c) {
      text += c;
      return *this;
    }
    LineText& operator<<(int v) {
      text += std::to_string(v);
      return *this;
    }
  };
  void EndLine();

  static constexpr std::size_t kHeldBytes = 64 * 1024;

  std::ostream& out_;
  LineText line_;  // the line being drawn, after any held ones
  bool hold_ = false;
  RenderStyle style_;
  std::map<ThreadKey, SourceState> sources_;
  // Lines come in runs from one writer: the last one is looked up first.
  SourceState* last_ = nullptr;  // map nodes stay put
  ThreadKey lastKey_;
};

}  // namespace vxtrace
