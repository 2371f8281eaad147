// The per-thread record, Main, the end of an object, the predeclared instance and CutAtNull.
#include <new>

#include "core/ErrorTrap.h"
#include "core/KeptExports.h"
#include "core/ModuleState.h"
#include "core/ThreadContext.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

ModuleState& ThisThreadState() { return core::ThisThread().state; }

ErrorLog& ErrorLog::Default() {
  core::PredeclaredSlot& slot = core::ThisThread().predeclared;
  if (!slot.get()) slot.Adopt(new (slot.storage()) ErrorLog(Predeclared{}));
  return *slot.get();
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
    st.hResourceDLL.Release();
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
