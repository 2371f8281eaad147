// vxtrace: dispatches lines to the filters, the tree or raw view and the summary.
// Everything shown depends only on what a recording keeps, so a capture and the
// replay of its recording look the same.
#include "Display.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "DisplayText.h"

namespace vxtrace {
namespace {

constexpr std::size_t kHeldBytes = 64 * 1024;

std::vector<std::regex> Compile(const std::vector<std::string>& patterns) {
  std::vector<std::regex> out;
  for (const std::string& p : patterns) out.emplace_back(p, std::regex::ECMAScript | std::regex::optimize);
  return out;
}

bool AnyMatch(const std::vector<std::regex>& res, std::string_view line) {
  return std::any_of(res.begin(), res.end(),
                     [&](const std::regex& re) { return std::regex_search(line.begin(), line.end(), re); });
}

// Like AnyMatch, but a pattern is tried until it has matched once, so one that never
// matches can be named at the end.
bool MatchNoting(const std::vector<std::regex>& res, std::vector<bool>& hit, std::string_view line) {
  bool any = false;
  for (size_t i = 0; i < res.size(); ++i) {
    if (any && hit[i]) continue;
    if (std::regex_search(line.begin(), line.end(), res[i])) any = hit[i] = true;
  }
  return any;
}

// Marks the choice that v is; true when there is no choice or v is one of them.
template <class T>
bool Chosen(const std::vector<T>& choices, std::vector<bool>& hit, const T& v) {
  bool found = choices.empty();
  for (size_t i = 0; i < choices.size(); ++i)
    if (choices[i] == v) found = hit[i] = true;
  return found;
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
      highlight_(Compile(options.highlight)),
      pidHit_(options.pids.size()),
      processHit_(options.processes.size()),
      includeHit_(options.include.size()),
      excludeHit_(options.exclude.size()),
      // The raw view alone draws the text as it came: nothing else asked for needs the
      // records or the statistics.
      parse_(options.view != LineView::Raw || options.summary || !options.chromeFile.empty() ||
             !options.htmlFile.empty() || !options.exclude.empty() || options.errorsOnly) {}

void Display::Message(std::string_view text, unsigned long pid) {
  vxtrace::Message m;
  m.text = text;
  m.pid = pid;
  Show(m);
}

bool Display::Wanted(const vxtrace::Message& m) {
  const bool pid = Chosen(options_.pids, pidHit_, m.pid);
  return Chosen(options_.processes, processHit_, m.process) && pid;
}

bool Display::TextPasses(const TraceRecord& r, const ThreadKey& key, std::string_view line) {
  const bool included = include_.empty() || MatchNoting(include_, includeHit_, line);
  const bool excluded = included && !exclude_.empty() && MatchNoting(exclude_, excludeHit_, line);
  return !ExitOfExcluded(r, key, excluded) && included && !excluded;
}

// An entry hidden by --exclude hides its exit too, whatever the exit's own text.
bool Display::ExitOfExcluded(const TraceRecord& r, const ThreadKey& key, bool excluded) {
  if (exclude_.empty() || (r.kind != RecordKind::Entry && r.kind != RecordKind::Exit)) return false;
  std::vector<std::pair<int, std::string>>& open = excludedOpen_[key];
  if (r.kind == RecordKind::Entry) {
    while (!open.empty() && open.back().first >= r.depth) open.pop_back();
    if (excluded) open.emplace_back(r.depth, r.name);
    return false;
  }
  while (!open.empty() && open.back().first > r.depth) open.pop_back();
  if (open.empty() || open.back().first != r.depth || open.back().second != r.name) return false;
  open.pop_back();
  return true;
}

LineDecor Display::Decor(const vxtrace::Message& m, std::string_view line) const {
  LineDecor decor;
  decor.highlight = !highlight_.empty() && AnyMatch(highlight_, line);
  if (options_.times) {
    char text[32];
    if (m.time > 0) std::snprintf(text, sizeof text, "%10.3f ", m.time - firstTime_);
    else std::snprintf(text, sizeof text, "%10s ", "-");
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
  const std::string_view text = StripLineEnd(m.text);
  const bool oneLine = text.find('\n') == std::string_view::npos;
  const std::vector<std::string_view> lines = oneLine ? std::vector<std::string_view>{} : SplitLines(m.text);
  const std::string_view first = oneLine ? StripLineEnd(text) : lines.front();
  if (parse_) {
    ParseTraceLine(first, record_);
    summary_.Add(record_, key, atMs, m.process);
    if (record_.kind == RecordKind::Error) errorSeen_ = true;
  } else {
    record_.kind = RecordKind::Other;
    record_.text = StripLineEnd(first);  // as the parser keeps it
  }
  const TraceRecord& record = record_;
  LineDecor decor = Decor(m, first);
  bool shown = TextPasses(record, key, first);
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
    if (!stack.empty() && stack.back().entry.depth == r.depth && stack.back().entry.name == r.name) stack.pop_back();
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
    DrawRaw(r.text, key, decor);
  }
}

void Display::DrawContinuation(std::string_view line, const ThreadKey& key, const LineDecor& decor) {
  if (options_.view == LineView::Tree) {
    tree_.AddContinuation(line, key, decor);
  } else if (options_.view == LineView::Raw) {
    DrawRaw(line, key, decor);
  }
}

// Printable ASCII is shown as it is; anything else goes through the display's escaping.
void Display::DrawRaw(std::string_view line, const ThreadKey& key, const LineDecor& decor) {
  raw_ += decor.prefix;
  if (options_.tagSources) {
    raw_ += '[';
    raw_ += key.Label();
    raw_ += "] ";
  }
  AppendDisplay(raw_, line);
  raw_ += '\n';
  if (!hold_ || raw_.size() >= kHeldBytes) Flush();
}

void Display::HoldOutput(bool hold) {
  hold_ = hold;
  tree_.HoldLines(hold);
  if (!hold) Flush();
}

void Display::Flush() {
  tree_.Flush();
  if (raw_.empty()) return;
  out_.write(raw_.data(), static_cast<std::streamsize>(raw_.size()));
  raw_.clear();
}

std::vector<std::string> Display::ClosingNotes(const CaptureLosses& losses) {
  std::vector<std::string> notes;
  if (losses.ringLines > 0) notes.push_back(std::to_string(losses.ringLines) + " lines came through the trace ring");
  for (std::string& sentence : LossSentences(losses)) notes.push_back(std::move(sentence));
  return notes;
}

void Display::Finish(bool interrupted, const std::vector<std::string>& notes) {
  Flush();
  if (options_.summary || (interrupted && options_.view == LineView::Tree)) {
    if (options_.view != LineView::None) out_ << '\n';
    summary_.Print(out_, options_.byThread);
    for (const std::string& note : notes) out_ << note << "\n";
  }
  out_.flush();
}

std::vector<std::string> Display::UnmatchedFilters() const {
  std::vector<std::string> said;
  const auto say = [&](const std::vector<bool>& hit, const auto& values, const char* what,
                       const char* outcome = " matched no line") {
    for (size_t i = 0; i < hit.size(); ++i) {
      if (hit[i]) continue;
      std::ostringstream text;
      text << what << ' ' << values[i];
      said.push_back(ToDisplay(text.str()) + outcome);
    }
  };
  say(pidHit_, options_.pids, "--pid");
  say(processHit_, options_.processes, "--process");
  say(includeHit_, options_.include, "--include");
  say(excludeHit_, options_.exclude, "--exclude", " hid no line");  // tried on included lines only
  if (options_.errorsOnly && !errorSeen_) said.push_back("--errors: no error line came");
  return said;
}

}  // namespace vxtrace
