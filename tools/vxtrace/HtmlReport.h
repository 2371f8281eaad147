// vxtrace: a traced run as one self-contained HTML page: a flame chart per thread
// and the statistics table.
#pragma once

#include <ostream>

#include "CallModel.h"

namespace vxtrace {

void WriteHtmlReport(const CallModel& model, std::ostream& out);

}  // namespace vxtrace
