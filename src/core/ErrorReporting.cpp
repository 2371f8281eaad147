// LogError and the error log it keeps.
#include <typeinfo>

#include "core/CurrentPlatform.h"
#include "core/ModuleState.h"
#include "core/TextFile.h"
#include "core/TextFormat.h"
#include "vx380/ErrorLog.h"
#include "vx380/TraceChannel.h"

namespace vx380 {

namespace {
constexpr int kUserTextBufferChars = 512;
constexpr Integer kLogChannel = 1;  // the first free channel: nothing stays open between writes

void ReportLogNotStarted(const String& file, const ErrObject& why) {
  try {
    Platform& p = CurrentPlatform();
    p.WriteDiagnosticLine(p.ToAnsi(u"VX380ErrorLog: the error log \"" + file + u"\" cannot be started: " +
                                   why.description + u" (" + core::Decimal(why.number) + u")") +
                          "\n");
  } catch (...) {
  }
}
}  // namespace

void ErrorLog::LogError(String strSource, String strDescription, const String& strHelpFile, const Long& nHelpContext,
                        const Long& nErrorNumberForLogFile, const String& strProcedureName, const Long& nButtons,
                        const Long& nErrorNumberForUser, const Boolean& bRaise) {
  ModuleState& st = ThisThreadState();
  Platform& p = CurrentPlatform();

  const ErrObject saved = Err();
  Err().Clear();

  if (!st.bInitialized) {
    st.strAppName = u"VeltrixPFD";
    st.hResourceDLL.Forget();
    st.bLogToFile = kFalse;
    st.bDisplay = kFalse;
    st.bInitialized = kTrue;
  }

  if (st.bLogToFile && !st.bLogBannerWritten) WriteLogBanner();

  static const String kUnknownError = u"Unknown error", kError = u"Error";
  const String& description = strDescription.empty() ? kUnknownError : strDescription;
  const String& source = !strSource.empty() ? strSource : !st.strAppName.empty() ? st.strAppName : kError;

  String userText;
  if (nErrorNumberForUser > 0)
    userText = p.FromAnsi(p.LoadResourceString(st.hResourceDLL.handle(), nErrorNumberForUser, kUserTextBufferChars));

  if (!bRaise && st.bDisplay) p.ShowMessageBox(userText.empty() ? description : userText, nButtons, source, u"", 0);

  String line;
  line.reserve(64 + source.size() + strProcedureName.size() + description.size());
  line.append(channel::kErrorPrefix.u16()).append(source).append(channel::kErrorSourceSeparator.u16());
  if (!strProcedureName.empty()) line.append(strProcedureName).append(u" ");
  line.append(channel::kErrorDescribedAs.u16()).append(description);
  if (nErrorNumberForLogFile >= 0)
    line.append(channel::kErrorNumberLabel.u16()).append(core::Decimal(nErrorNumberForLogFile));

  // The line is the debugger's as well; a class of our own, with nobody listening, would drop it.
  if (typeid(*this) != typeid(ErrorLog) || core::DebugOutputHeard()) DebugTrace(line);

  if (st.bLogBannerWritten) {
    core::TextFile log(st.strLogFilename, false);
    st.nLogFileNumber = kLogChannel;
    line.append(core::kCrLf);
    log.Write(line);
  }

  if (bRaise && nErrorNumberForLogFile > 0) {
    Err() = ErrObject{nErrorNumberForLogFile, source, description, strHelpFile, nHelpContext};
    throw AutomationError(nErrorNumberForLogFile, source, description, strHelpFile, nHelpContext);
  }

  Err() = saved;
}

void ErrorLog::WriteLogBanner() {
  ModuleState& st = ThisThreadState();
  try {
    core::TextFile log(st.strLogFilename, false);
    st.nLogFileNumber = kLogChannel;
    st.bLogBannerWritten = kTrue;
    log.Write(core::BannerText());
  } catch (const AutomationError& e) {
    // A log that cannot be started is tried again at the next error; no box, no raise, but
    // the debugger channel says why, unless the host asked for no log at all.
    if (!st.bLogBannerWritten && !st.strLogFilename.empty()) ReportLogNotStarted(st.strLogFilename, e.error());
  } catch (...) {
  }
  Err().Clear();
}

}  // namespace vx380
