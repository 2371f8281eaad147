// vxtrace: the call tree view. Indentation comes from the lines themselves (the
// component counts the routines on its stack), not from pairing entries with
// exits here, so a capture started in the middle of a run still lines up.
#include "TreeRenderer.h"

#include <algorithm>
#include <string>

#include "DisplayText.h"

namespace vxtrace {
namespace {

constexpr const char* kReset = "\x1b[0m";
constexpr const char* kDim = "\x1b[2m";
constexpr const char* kEntry = "\x1b[1;36m";
constexpr const char* kExit = "\x1b[36m";
constexpr const char* kTime = "\x1b[33m";
constexpr const char* kError = "\x1b[1;31m";
constexpr const char* kWarning = "\x1b[35m";
constexpr const char* kLog = "\x1b[32m";
constexpr const char* kInfo = "\x1b[34m";
constexpr const char* kHighlight = "\x1b[1;7;33m";

// Views, not C strings: drawn on every line, their lengths are known rather than counted.
struct Glyphs {
  std::string_view guide;
  std::string_view entry;
  std::string_view exit;
  std::string_view marker;
  std::string_view log;
};
constexpr Glyphs kBox{"\u2502 ", "\u250c ", "\u2514 ", "\u00b7 ", "\u00bb "};
constexpr Glyphs kAscii{"| ", "/ ", "\\ ", ". ", "> "};

// Spelled out rather than "literal" + std::string, which trips a false -Wrestrict
// warning in GCC 12.
std::string Concat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

std::string HierarchyIndent(int depth) {
  if (depth > kMaxDrawnDepth) return std::string(2 * kMaxDrawnDepth, ' ') + "[" + std::to_string(depth) + "] ";
  return std::string(2 * static_cast<size_t>(std::max(depth, 0)), ' ');
}

}  // namespace

void TreeRenderer::Guides(int depth) {
  const Glyphs& g = style_.ascii ? kAscii : kBox;
  if (depth <= 0) return;
  if (style_.color) line_ << kDim;
  for (int i = 0; i < std::min(depth, kMaxDrawnDepth); ++i) line_ << g.guide;
  if (depth > kMaxDrawnDepth) line_ << "[" << depth << "] ";
  if (style_.color) line_ << kReset;
}

void TreeRenderer::Paint(const char* color, const std::string& text) {
  if (style_.color && color) line_ << color << text << kReset;
  else line_ << text;
}

void TreeRenderer::PaintShown(const char* color, std::string_view glyph, std::string_view bytes) {
  const bool colored = style_.color && color;
  if (colored) line_ << color;
  line_ << glyph;
  AppendDisplay(line_.text, bytes);
  if (colored) line_ << kReset;
}

void TreeRenderer::Note(const std::string& note) {
  if (note.empty()) return;
  line_ << "  [";
  AppendDisplay(line_.text, note);
  line_ << ']';
}

TreeRenderer::SourceState& TreeRenderer::StartLine(const ThreadKey& source, const LineDecor& decor) {
  if (!last_ || !(lastKey_ == source)) {
    auto found = sources_.find(source);
    if (found == sources_.end()) {
      if (!sources_.empty()) style_.tagSources = true;
      found = sources_.emplace(source, SourceState{}).first;
      found->second.tag = Concat({"[", source.Label(), "] "});
    }
    last_ = &found->second;
    lastKey_ = source;
  }
  if (decor.highlight) Paint(kHighlight, style_.ascii ? "* " : "\u25b6 ");
  line_ << decor.prefix;
  if (style_.tagSources) Paint(kDim, last_->tag);
  return *last_;
}

void TreeRenderer::AddContinuation(std::string_view text, const ThreadKey& source, const LineDecor& decor) {
  SourceState& s = StartLine(source, decor);
  Guides(s.depth);
  line_ << "  ";
  AppendDisplay(line_.text, text);
  line_ << '\n';
  EndLine();
}

void TreeRenderer::EndLine() {
  if (!hold_ || line_.text.size() >= kHeldBytes) Flush();
}

void TreeRenderer::Flush() {
  if (line_.text.empty()) return;
  out_.write(line_.text.data(), static_cast<std::streamsize>(line_.text.size()));
  line_.text.clear();
}

void TreeRenderer::Add(const TraceRecord& r, const ThreadKey& source, const LineDecor& decor) {
  SourceState& s = StartLine(source, decor);
  const bool afterBegin = s.afterBegin;
  s.afterBegin = false;
  if (!DrawRoutine(r, s)) DrawFree(r, s, afterBegin);
  line_ << '\n';
  EndLine();
}

// Entries, exits and line markers say their own depth.
bool TreeRenderer::DrawRoutine(const TraceRecord& r, SourceState& s) {
  const Glyphs& g = style_.ascii ? kAscii : kBox;
  switch (r.kind) {
    case RecordKind::Entry:
      Guides(r.depth);
      PaintShown(kEntry, g.entry, r.name);
      Note(r.note);
      s.depth = r.depth + 1;
      return true;
    case RecordKind::Exit:
      Guides(r.depth);
      PaintShown(kExit, g.exit, r.name);
      line_ << "  ";
      Paint(kTime, std::to_string(r.ms) + " ms");
      Note(r.note);
      s.depth = r.depth;
      return true;
    case RecordKind::LineMarker:
      Guides(r.depth);
      Paint(kDim, Concat({g.marker, "L", std::to_string(r.lineNumber)}));
      line_ << "  ";
      Paint(kTime, Concat({"+", std::to_string(r.ms), " ms"}));
      Note(r.note);
      s.depth = r.depth;
      return true;
    default:
      return false;
  }
}

// Everything else is drawn at the depth the routine lines left.
void TreeRenderer::DrawFree(const TraceRecord& r, SourceState& s, bool afterBegin) {
  Guides(s.depth);
  switch (r.kind) {
    case RecordKind::StackEmpty:
    case RecordKind::LineWithoutEntry:
      PaintShown(kWarning, "! ", r.text);
      break;
    case RecordKind::Error:
      PaintShown(kError, "! ", r.text);
      break;
    case RecordKind::Log:
      PaintShown(kLog, (style_.ascii ? kAscii : kBox).log, r.note);
      break;
    case RecordKind::Timing:
      Paint(kInfo, "@ " + ToDisplay(r.timeOfDay) + "  tick " + std::to_string(r.ms));
      Note(r.note);
      break;
    case RecordKind::HierarchyBegin:
      Paint(kInfo, "# hierarchy");
      s.afterBegin = true;
      break;
    case RecordKind::HierarchyObject:
      Paint(kInfo, "# " + HierarchyIndent(r.depth) + ToDisplay(r.name) + " : " + ToDisplay(r.note));
      break;
    case RecordKind::HierarchyEnd:
      Paint(kInfo, "# end of hierarchy");
      break;
    default:
      // The dump's date line carries no prefix of its own.
      if (afterBegin) PaintShown(kDim, "# ", r.text);
      else AppendDisplay(line_.text, r.text);
      break;
  }
}

}  // namespace vxtrace
