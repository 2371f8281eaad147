// RBDEBUGMESSAGE: a question to the developer, unless the current routine's tracing is suppressed.
#include "core/Internal.h"
#include "vx380/ErrorLog.h"
#include "vx380/ModuleState.h"

namespace vx380 {

Long ErrorLog::RBDEBUGMESSAGE(const String& strPrompt, const Long& vButtons, const String& strTitle,
                              const String& strHelpFile, const Long& lContext) {
  ModuleState& st = ThisThreadState();
  if (st.nStackDepth >= 1 && core::Element(st.abSuppressDebug, st.nStackDepth))
    return core::UntitledBox(
        u"RBDEBUGMESSAGE Called, expecting a response, but with debug currently suppressed", box::kOkOnly);
  return CurrentPlatform().MessageBox(strPrompt, vButtons, strTitle, strHelpFile, lContext);
}

}  // namespace vx380
