// vxtrace: dispatches lines to the tree or raw view and to the summary.
#include "Display.h"

#include <vector>

#include "DisplayText.h"

namespace vxtrace {

Display::Display(std::ostream& out, const Options& options, bool color)
    : out_(out),
      options_(options),
      tree_(out, RenderStyle{color, options.ascii, options.tagSources}) {}

void Display::Message(std::string_view text, unsigned long source) {
  // The LF belongs to the channel. What is left may hold line breaks of its own (a
  // matrix dump, say): the first line is the record, the others continue it.
  text = StripLineEnd(text);
  std::vector<std::string_view> lines;
  for (size_t start = 0;;) {
    size_t lf = text.find('\n', start);
    lines.push_back(StripLineEnd(text.substr(start, lf == std::string_view::npos ? lf : lf - start)));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();  // the text's own last break
  Line(lines.front(), source);
  for (size_t i = 1; i < lines.size(); ++i) {
    if (options_.view == LineView::Tree) {
      tree_.AddContinuation(lines[i], source);
    } else if (options_.view == LineView::Raw) {
      if (options_.tagSources) out_ << '[' << source << "] ";
      out_ << ToDisplay(lines[i]) << '\n';
    }
  }
}

void Display::Line(std::string_view line, unsigned long source) {
  line = StripLineEnd(line);
  TraceRecord record = ParseTraceLine(line);
  if (options_.view == LineView::Tree) {
    tree_.Add(record, source);
  } else if (options_.view == LineView::Raw) {
    if (options_.tagSources) out_ << '[' << source << "] ";
    out_ << ToDisplay(line) << '\n';
  }
  summary_.Add(record, source);
}

void Display::Finish(bool interrupted) {
  if (options_.summary || (interrupted && options_.view == LineView::Tree)) {
    if (options_.view != LineView::None) out_ << '\n';
    summary_.Print(out_);
  }
  out_.flush();
}

}  // namespace vxtrace
