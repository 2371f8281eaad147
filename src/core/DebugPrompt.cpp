// RBDEBUGMESSAGE: a question to the developer, unless the current routine's tracing is suppressed.
#include "core/ErrorTrap.h"
#include "core/ModuleState.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

Long ErrorLog::RBDEBUGMESSAGE(const String& strPrompt, const Long& vButtons, const String& strTitle,
                              const String& strHelpFile, const Long& lContext) {
  core::ModuleStack& stack = ThisThreadState().moduleStack;
  if (stack.depth() >= 1 && stack.Suppressed(stack.depth()))
    return core::UntitledBox(u"RBDEBUGMESSAGE Called, expecting a response, but with debug currently suppressed",
                             box::kOkOnly);
  return CurrentPlatform().ShowMessageBox(strPrompt, vButtons, strTitle, strHelpFile, lContext);
}

}  // namespace vx380
