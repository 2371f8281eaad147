// vxtrace: dispatches lines to the filters, the tree or raw view and the summary.
// Everything shown depends only on what a recording keeps, so a capture and the
// replay of its recording look the same.
#include "Display.h"

#include <algorithm>
#include <cstdio>

#include "DisplayText.h"

namespace vxtrace {
namespace {

std::vector<std::regex> Compile(const std::vector<std::string>& patterns) {
  std::vector<std::regex> out;
  for (const std::string& p : patterns) out.emplace_back(p, std::regex::ECMAScript | std::regex::optimize);
  return out;
}

bool AnyMatch(const std::vector<std::regex>& res, std::string_view line) {
  return std::any_of(res.begin(), res.end(),
                     [&](const std::regex& re) { return std::regex_search(line.begin(), line.end(), re); });
}

// The message's lines without line ends: the first is the record, the others continue it.
std::vector<std::string_view> SplitLines(std::string_view text) {
  text = StripLineEnd(text);  // the LF belongs to the channel
  if (text.find('\n') == std::string_view::npos) return {StripLineEnd(text)};
  std::vector<std::string_view> lines;
  for (size_t start = 0;;) {
    size_t lf = text.find('\n', start);
    lines.push_back(StripLineEnd(text.substr(start, lf == std::string_view::npos ? lf : lf - start)));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  if (lines.size() > 1 && lines.back().empty()) lines.pop_back();  // the text's own last break
  return lines;
}

}  // namespace

Display::Display(std::ostream& out, const Options& options, bool color)
    : out_(out),
      options_(options),
      tree_(out, RenderStyle{color, options.ascii, options.tagSources}),
      summary_(!options.chromeFile.empty() || !options.htmlFile.empty()),
      include_(Compile(options.include)),
      exclude_(Compile(options.exclude)),
      highlight_(Compile(options.highlight)) {}

void Display::Message(std::string_view text, unsigned long pid) {
  vxtrace::Message m;
  m.text = text;
  m.pid = pid;
  Show(m);
}

bool Display::Wanted(const vxtrace::Message& m) const {
  const auto& pids = options_.pids;
  const auto& names = options_.processes;
  return (pids.empty() || std::find(pids.begin(), pids.end(), m.pid) != pids.end()) &&
         (names.empty() || std::find(names.begin(), names.end(), m.process) != names.end());
}

bool Display::TextPasses(std::string_view line) const {
  return (include_.empty() || AnyMatch(include_, line)) && !AnyMatch(exclude_, line);
}

LineDecor Display::Decor(const vxtrace::Message& m, std::string_view line) const {
  LineDecor decor;
  decor.highlight = !highlight_.empty() && AnyMatch(highlight_, line);
  if (options_.times) {
    char text[32];
    if (m.time > 0)
      std::snprintf(text, sizeof text, "%10.3f ", m.time - firstTime_);
    else
      std::snprintf(text, sizeof text, "%10s ", "-");
    decor.prefix = text;
  }
  return decor;
}

void Display::Show(const vxtrace::Message& m) {
  if (!Wanted(m)) return;
  double atMs = -1;
  if (m.time > 0) {
    if (firstTime_ == 0) firstTime_ = m.time;
    atMs = std::max(0.0, (m.time - firstTime_) * 1000.0);
  }
  const ThreadKey key{m.pid, m.tid};
  // Most messages are one line: those need no list of lines.
  const bool oneLine = StripLineEnd(m.text).find('\n') == std::string_view::npos;
  const std::vector<std::string_view> lines = oneLine ? std::vector<std::string_view>{} : SplitLines(m.text);
  const std::string_view first = oneLine ? StripLineEnd(StripLineEnd(m.text)) : lines.front();
  ParseTraceLine(first, record_);
  const TraceRecord& record = record_;
  summary_.Add(record, key, atMs, m.process);
  LineDecor decor = Decor(m, first);
  bool shown = TextPasses(first);
  if (options_.errorsOnly) shown = ErrorContext(record, key, decor) && shown;
  if (!shown) return;
  Draw(record, key, decor);
  decor.highlight = false;
  for (size_t i = 1; i < lines.size(); ++i) DrawContinuation(lines[i], key, decor);
}

// Keeps the routines open on each thread; true for an error line, after drawing the
// entries that lead to it.
bool Display::ErrorContext(const TraceRecord& r, const ThreadKey& key, const LineDecor& decor) {
  std::vector<Pending>& stack = context_[key];
  if (r.kind == RecordKind::Entry) {
    while (!stack.empty() && stack.back().entry.depth >= r.depth) stack.pop_back();
    stack.push_back({r, decor, false});
  } else if (r.kind == RecordKind::Exit) {
    while (!stack.empty() && stack.back().entry.depth > r.depth) stack.pop_back();
    if (!stack.empty() && stack.back().entry.depth == r.depth && stack.back().entry.name == r.name)
      stack.pop_back();
  } else if (r.kind == RecordKind::Error) {
    for (Pending& p : stack) {
      if (!p.shown) Draw(p.entry, key, p.decor);
      p.shown = true;
    }
    return true;
  }
  return false;
}

void Display::Draw(const TraceRecord& r, const ThreadKey& key, const LineDecor& decor) {
  if (options_.view == LineView::Tree) {
    tree_.Add(r, key, decor);
  } else if (options_.view == LineView::Raw) {
    out_ << decor.prefix;
    if (options_.tagSources) out_ << '[' << key.Label() << "] ";
    WriteShown(r.text);
  }
}

// Printable ASCII is shown as it is; anything else goes through the display's escaping.
void Display::WriteShown(std::string_view line) {
  const bool plain = std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (plain)
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
  else
    out_ << ToDisplay(line);
  out_.put('\n');
}

void Display::DrawContinuation(std::string_view line, const ThreadKey& key, const LineDecor& decor) {
  if (options_.view == LineView::Tree) {
    tree_.AddContinuation(line, key, decor);
  } else if (options_.view == LineView::Raw) {
    out_ << decor.prefix;
    if (options_.tagSources) out_ << '[' << key.Label() << "] ";
    WriteShown(line);
  }
}

void Display::Finish(bool interrupted, const CaptureLosses& losses) {
  if (options_.summary || (interrupted && options_.view == LineView::Tree)) {
    if (options_.view != LineView::None) out_ << '\n';
    summary_.Print(out_, options_.byThread);
    if (losses.ringLines > 0) out_ << losses.ringLines << " lines came through the trace ring\n";
    for (const std::string& sentence : LossSentences(losses)) out_ << sentence << "\n";
  }
  out_.flush();
}

}  // namespace vxtrace
