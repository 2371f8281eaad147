// The per-thread record, Main, the end of an object, the predeclared instance and CutAtNull.
#include "core/Internal.h"
#include "core/KeptExports.h"
#include "vx380/ErrorLog.h"
#include "core/ModuleState.h"

namespace vx380 {

ModuleState& ThisThreadState() {
  thread_local ModuleState state;
  return state;
}

ErrorLog& ErrorLog::Default() {
  thread_local ErrorLog predeclared{Predeclared{}};
  return predeclared;
}

void ErrorLog::Main() {
  ModuleState& st = ThisThreadState();
  st.nLogFileNumber = -1;
  st.moduleStack.ResetDepth();
  st.bInitialized = kFalse;
  st.bLogBannerWritten = kFalse;
  st.bLogToFile = kFalse;
  st.bDisplay = kFalse;
  st.bMsgLogChecked = kFalse;
  st.bMsgLogEnabled = kFalse;
  st.strAppName.clear();
  st.strResourceDLL.clear();
}

ErrorLog::~ErrorLog() {
  if (predeclared_) return;
  ModuleState& st = ThisThreadState();
  try {
    Err().source = st.strAppName;
    st.bInitialized = kFalse;
    if (st.hResourceDLL > 0) {
      // Forget the handle as it goes, so it is never used for texts or released again.
      const ModuleHandle released = st.hResourceDLL;
      st.hResourceDLL = 0;
      CurrentPlatform().FreeResourceModule(released);
    }
  } catch (...) {
    core::ReportTrapped(u"", box::kExclamation);
  }
}

String CutAtNull(const String& s) {
  const size_t nul = s.find(u'\0');
  if (nul == String::npos) return s;
  CheckedInteger(static_cast<long long>(nul) + 1);  // the position is held as an Integer
  return s.substr(0, nul);
}

}  // namespace vx380
