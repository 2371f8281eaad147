// vxtrace: a traced run as Chrome trace-event JSON, which Perfetto's UI and the
// browser's trace viewer open.
#pragma once

#include <ostream>

#include "CallModel.h"

namespace vxtrace {

void WriteChromeTrace(const CallModel& model, std::ostream& out);

}  // namespace vxtrace
