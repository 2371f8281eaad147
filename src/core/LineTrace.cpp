// RBDEBUGLINE and RBDEBUGTIMESTAMP: markers inside the current routine and time stamps.
#include "core/ErrorTrap.h"
#include "core/KeptExports.h"
#include "core/ModuleState.h"
#include "core/RegistryLookup.h"
#include "core/TextFormat.h"
#include "vx380/ErrorLog.h"
#include "vx380/TraceChannel.h"

namespace vx380 {

void ErrorLog::RBDEBUGLINE(const Integer& LineNumber, const String& strNote) {
  core::ModuleStack& stack = ThisThreadState().moduleStack;
  try {
    bool suppress = false;
    if (stack.depth() >= 1) suppress = stack.Suppressed(stack.depth());
    else DebugTrace(String(channel::kLineWithoutEntry.u16()));

    const Long indent = CheckedLong(2LL * stack.NameCount());

    Long& line = stack.LineNumber(stack.depth());
    line = LineNumber > 0 ? LineNumber : CheckedLong(line + 5LL);

    if (!suppress) {
      const Long elapsed = core::Elapsed(CurrentPlatform().TickCount(), stack.EntryTime(stack.depth()));
      const String& name = stack.TopName();
      const String sep(channel::kSeparator.u16());
      DebugTrace(String(channel::kLineMarkerPrefix.u16()) + core::LeftAlign(u"(" + core::Decimal(line) + u")", 5) +
                 sep + core::RightAlign(core::Decimal(elapsed), 8) + sep + core::Repeat(indent, u' ') + name + u" " +
                 strNote);
    }
  } catch (...) {
    core::ReportTrapped(u"RBDEBUGLINE ", box::kExclamation);
  }
}

namespace {
bool IsTimingOn(const String& text) {
  size_t first = text.find_first_not_of(u' ');
  if (first == String::npos) return false;
  size_t last = text.find_last_not_of(u' ');
  String word = text.substr(first, last - first + 1);
  for (auto& c : word)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return word == u"true";
}
}  // namespace

void ErrorLog::RBDEBUGTIMESTAMP(const String& strNote) {
  const ModuleState& st = ThisThreadState();
  String text;
  if (!core::LookUpSwitch(*this, kHKeyCurrentUser, core::SettingKey(st.strAppName, u"Timing"), text)) return;
  if (!IsTimingOn(text)) return;
  Platform& p = CurrentPlatform();
  const String time = p.CurrentTimeText();
  const Long counter = p.TickCount();
  const String sep(channel::kSeparator.u16());
  DebugTrace(String(channel::kTimingPrefix.u16()) + strNote + sep + time + sep + core::Decimal(counter));
}

}  // namespace vx380
