// Initialize and the settings properties: reporting level, application name, log file name.
#include "core/ErrorTrap.h"
#include "core/KeptExports.h"
#include "core/ModuleState.h"
#include "core/RegistryLookup.h"
#include "vx380/ErrorLog.h"

namespace vx380 {

void ErrorLog::Initialize(String strAppName, String strResourceDLL) {
  ModuleState& st = ThisThreadState();
  try {
    Err().source = strAppName;
    if (strAppName.empty() || st.bInitialized) return;
    st.bInitialized = kTrue;
    st.strAppName = strAppName;
    st.strResourceDLL = strResourceDLL;

    // Current user first; the machine is asked only when the user has no text.
    auto lookUp = [this](const String& subKey, String& text) {
      const Variant defaultValue(String{});
      return LookUpValueForKey(kHKeyCurrentUser, subKey, text, defaultValue) ||
             LookUpValueForKey(kHKeyLocalMachine, subKey, text, defaultValue);
    };

    String level;
    if (lookUp(core::SettingKey(strAppName, u"ReportingLevel"), level)) {
      if (level == u"Log") {
        st.bLogToFile = kTrue;
      } else if (level == u"Display") {
        st.bDisplay = kTrue;
      } else if (level == u"LogAndDisplay") {
        st.bLogToFile = kTrue;
        st.bDisplay = kTrue;
      } else if (level == u"Off") {
        st.bLogToFile = kFalse;
        st.bDisplay = kFalse;
      } else {
        st.bDisplay = kTrue;
      }
    } else {
      st.bLogToFile = kFalse;
      st.bDisplay = kFalse;
    }

    String logFile;
    if (lookUp(core::SettingKey(strAppName, u"LogFilename"), logFile)) {
      st.strLogFilename = logFile;
    } else {
      GetDesktopPath(st.strLogFilename);
      st.strLogFilename = AppendSlash(st.strLogFilename) + strAppName + u".log";
    }

    // A module from an earlier Initialize is released rather than leaked.
    if (!strResourceDLL.empty()) st.hResourceDLL.Load(strResourceDLL);
  } catch (...) {
    core::ReportTrapped(u"", box::kCritical);
  }
}

void ErrorLog::GetDesktopPath(String& strPath) {
  String desktop;
  if (!CurrentPlatform().DesktopFolder(desktop)) return;
  strPath = CutAtNull(desktop);
}

String ErrorLog::AppendSlash(const String& szPath) {
  if (!szPath.empty() && szPath.back() == u'\\') return szPath;
  try {
    return szPath + u"\\";
  } catch (...) {
    return szPath;
  }
}

mxReportingLevelConstants ErrorLog::ReportingLevel() {
  const ModuleState& st = ThisThreadState();
  if (st.bLogToFile && st.bDisplay) return mxReportingLevelLogAndDisplay;
  if (st.bDisplay) return mxReportingLevelDisplay;
  if (st.bLogToFile) return mxReportingLevelLog;
  return mxReportingLevelOff;
}

void ErrorLog::ReportingLevel(mxReportingLevelConstants value) {
  ModuleState& st = ThisThreadState();
  st.bLogToFile = (value == mxReportingLevelLog || value == mxReportingLevelLogAndDisplay) ? kTrue : kFalse;
  st.bDisplay = (value == mxReportingLevelDisplay || value == mxReportingLevelLogAndDisplay) ? kTrue : kFalse;
}

String ErrorLog::ApplicationName() { return ThisThreadState().strAppName; }

String ErrorLog::LogFilename() { return ThisThreadState().strLogFilename; }

void ErrorLog::LogFilename(const String& value) { ThisThreadState().strLogFilename = value; }

}  // namespace vx380
