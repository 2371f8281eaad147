// RBDEBUGLOG and RBDEBUGWRITE: free text into the trace.
#include "core/ErrorTrap.h"
#include "vx380/ErrorLog.h"
#include "vx380/TraceChannel.h"

namespace vx380 {

void ErrorLog::RBDEBUGLOG(String strMess) { DebugTrace(String(channel::kLogPrefix.u16()) + strMess); }

void ErrorLog::RBDEBUGWRITE(String strMess) {
  try {
    DebugTrace(strMess);
  } catch (...) {
    core::ReportTrapped(u"RBDEBUGLOG ", box::kExclamation);
  }
}

}  // namespace vx380
