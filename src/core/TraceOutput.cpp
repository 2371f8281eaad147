// RBDEBUGLOG and RBDEBUGWRITE: free text into the trace.
#include "core/Internal.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

void ErrorLog::RBDEBUGLOG(String strMess) { DebugTrace(u"RBDEBUG: " + strMess); }

void ErrorLog::RBDEBUGWRITE(String strMess) {
  try {
    DebugTrace(strMess);
  } catch (...) {
    core::ReportTrapped(u"RBDEBUGLOG ", box::kExclamation);
  }
}

}  // namespace vx380
