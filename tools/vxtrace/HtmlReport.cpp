// Placeholder until the page writer lands.
#include "HtmlReport.h"

namespace vxtrace {

void WriteHtmlReport(const CallModel&, std::ostream& out) { out << "<!doctype html><title>vxtrace</title>\n"; }

}  // namespace vxtrace
