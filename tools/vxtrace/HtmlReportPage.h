// vxtrace: the fixed parts of the HTML page: its style, the chart's frame and the
// script that draws the flame charts from the page's JSON data.
#pragma once

namespace vxtrace {

extern const char kHtmlReportStyle[];
extern const char kHtmlReportChart[];
extern const char kHtmlReportScript[];

}  // namespace vxtrace
