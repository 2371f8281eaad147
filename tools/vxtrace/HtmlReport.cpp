// vxtrace: the HTML page. The statistics table is written as HTML; the calls go into
// the page as JSON data that the page's own script draws, so a big trace costs the
// browser only the frames in view (see HtmlReportPage.cpp).
#include "HtmlReport.h"

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

#include "HtmlReportPage.h"
#include "PictureText.h"

namespace vxtrace {
namespace {

// Texts of the data block, each written once and referred to by index.
class StringTable {
 public:
  int Index(const std::string& text) {
    auto [it, added] = index_.try_emplace(text, static_cast<int>(texts_.size()));
    if (added) texts_.push_back(&it->first);
    return it->second;
  }
  void AppendJson(std::string& out) const {
    out += '[';
    for (size_t i = 0; i < texts_.size(); ++i) {
      if (i) out += ',';
      AppendJsonString(out, *texts_[i]);
    }
    out += ']';
  }

 private:
  std::unordered_map<std::string, int> index_;
  std::vector<const std::string*> texts_;
};

struct Totals {
  long long calls = 0;
  long long errors = 0;
  double firstMs = std::numeric_limits<double>::infinity();
  double lastMs = -std::numeric_limits<double>::infinity();
  void See(double ms) {
    firstMs = std::min(firstMs, FiniteMs(ms));
    lastMs = std::max(lastMs, FiniteMs(ms));
  }
};

Totals Count(const CallModel& model) {
  Totals t;
  for (const ThreadTrack& track : model.threads) {
    for (const CallSpan& s : track.spans) {
      ++t.calls;
      t.See(s.beginMs);
      t.See(s.endMs);
    }
    for (const CallInstant& in : track.instants) {
      t.See(in.ms);
      if (in.kind == CallInstant::Kind::Error) ++t.errors;
    }
  }
  if (t.lastMs < t.firstMs) t.firstMs = t.lastMs = 0;
  return t;
}

std::string TrackTitle(const ThreadTrack& t) {
  std::string title = ProcessLabel(t);
  if (t.pid != 0) title += " \xC2\xB7 pid " + std::to_string(t.pid);
  title +=
      " \xC2\xB7 " + ThreadLabel(t) + " \xC2\xB7 " + Counted(static_cast<long long>(t.spans.size()), "call", "calls");
  return title;
}

// One track: its calls flattened as [begin, end, depth, name, note, flags] and its
// error lines as [ms, text]; flags: 1 an error line, 2 no exit seen.
void AppendTrackJson(std::string& out, const ThreadTrack& t, StringTable& strings) {
  out += "{\"label\":";
  AppendJsonString(out, TrackTitle(t));
  out += ",\"spans\":[";
  bool first = true;
  for (const CallSpan& s : t.spans) {
    double begin = FiniteMs(s.beginMs), end = std::max(begin, FiniteMs(s.endMs));
    out += first ? "" : ",";
    first = false;
    out += FormatNumber(begin, 3) + ',' + FormatNumber(end, 3) + ',' + std::to_string(std::max(s.depth, 0)) + ',' +
           std::to_string(strings.Index(s.name)) + ',' + std::to_string(s.note.empty() ? -1 : strings.Index(s.note)) +
           ',' + std::to_string((s.hasError ? 1 : 0) | (s.closed ? 0 : 2));
  }
  out += "],\"marks\":[";
  std::vector<const CallInstant*> errors;
  for (const CallInstant& in : t.instants)
    if (in.kind == CallInstant::Kind::Error) errors.push_back(&in);
  std::stable_sort(errors.begin(), errors.end(), [](auto* a, auto* b) { return FiniteMs(a->ms) < FiniteMs(b->ms); });
  for (size_t i = 0; i < errors.size(); ++i)
    out += (i ? "," : "") + FormatNumber(errors[i]->ms, 3) + ',' + std::to_string(strings.Index(errors[i]->text));
  out += "]}";
}

void WriteData(const CallModel& model, const Totals& totals, std::ostream& out) {
  StringTable strings;
  std::string json =
      "{\"t0\":" + FormatNumber(totals.firstMs, 3) + ",\"t1\":" + FormatNumber(totals.lastMs, 3) + ",\"threads\":[";
  for (size_t i = 0; i < model.threads.size(); ++i) {
    if (i) json += ',';
    AppendTrackJson(json, model.threads[i], strings);
  }
  json += "],\"strings\":";
  strings.AppendJson(json);
  json += '}';
  // The JSON escapes "<", so no text in it can close the element.
  out << "<script type=\"application/json\" id=\"vx-data\">" << json << "</script>\n";
}

void WriteStatRow(const RoutineStat& r, std::ostream& out) {
  out << "<tr><td>" << HtmlEscape(r.name) << "</td><td data-v=\"" << r.calls << "\">" << r.calls << "</td>";
  // Shown as the text table shows them; the exact value is kept for sorting.
  const auto cell = [&](double ms, const std::string& shown) {
    out << "<td data-v=\"" << FormatNumber(ms, 3) << "\">" << shown << "</td>";
  };
  for (double ms : {r.totalMs, r.selfMs, r.minMs}) cell(ms, FormatNumber(ms, 3));
  cell(r.avgMs, FormatAverageMs(r.avgMs));
  cell(r.maxMs, FormatNumber(r.maxMs, 3));
  out << "</tr>\n";
}

void WriteStats(const CallModel& model, std::ostream& out) {
  out << "<h2>Routines</h2>\n<p class=\"hint\">Sorted by self time. Click a heading to sort by it, a routine to mark "
         "its calls in the charts.</p>\n"
         "<table id=\"stats\"><thead><tr><th>Routine</th><th>Calls</th><th>Total ms</th><th>Self ms</th>"
         "<th>Min ms</th><th>Avg ms</th><th>Max ms</th></tr></thead>\n<tbody>\n";
  for (const RoutineStat& r : model.routines) WriteStatRow(r, out);
  if (model.routines.empty()) out << "<tr><td colspan=\"7\">No routine calls were captured.</td></tr>\n";
  out << "</tbody></table>\n</main>\n";
}

void WriteSummary(const CallModel& model, const Totals& t, std::ostream& out) {
  out << "<header><h1>vxtrace</h1><p>" << model.threads.size() << " thread" << (model.threads.size() == 1 ? "" : "s")
      << ", " << Counted(t.calls, "call", "calls") << ", " << Counted(t.errors, "error line", "error lines")
      << ", from " << FormatNumber(t.firstMs, 3) << " to " << FormatNumber(t.lastMs, 3) << " ms</p></header>\n";
}

}  // namespace

void WriteHtmlReport(const CallModel& model, std::ostream& out) {
  Totals totals = Count(model);
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>vxtrace flame chart</title>\n<style>"
      << kHtmlReportStyle << "</style></head>\n<body>\n";
  WriteSummary(model, totals, out);
  out << kHtmlReportChart;
  WriteStats(model, out);
  WriteData(model, totals, out);
  out << "<script>" << kHtmlReportScript << "</script>\n</body></html>\n";
}

}  // namespace vxtrace
