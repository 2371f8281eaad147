// LogError and the error log it keeps.
#include "core/AsciiText.h"
#include "core/CurrentPlatform.h"
#include "core/DebugOutput.h"
#include "core/LinePieces.h"
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

// "ERROR: <source> - [<procedure> ]described as: <description>[, Error Number is: <number>]"
template <typename Line>
void SpellErrorLine(Line& out, const String& source, const String& procedure, const String& description, Long number) {
  out.Put(channel::kErrorPrefix);
  out.Put(source);
  out.Put(channel::kErrorSourceSeparator);
  if (!procedure.empty()) {
    out.Put(procedure);
    out.PutAscii(" ");
  }
  out.Put(channel::kErrorDescribedAs);
  out.Put(description);
  if (number >= 0) {
    out.Put(channel::kErrorNumberLabel);
    out.Put(core::Decimal(number));
  }
}

// The error's line, to the debugger and, while logging, to the log. ASCII texts go as bytes
// through the thread's line buffer when nothing can tell the difference.
void WriteErrorLine(ErrorLog& self, const String& source, const String& procedure, const String& description,
                    Long number) {
  ModuleState& st = ThisThreadState();
  const bool direct = core::AllAscii(source) && core::AllAscii(procedure) && core::AllAscii(description) &&
                      core::DirectDebugLines(self);
  if (direct) {
    const bool heard = core::DebugOutputHeard();
    if (!heard && !st.bLogBannerWritten) return;
    core::DebugLineBuffer bytes;
    core::ByteLine out{bytes};
    SpellErrorLine(out, source, procedure, description, number);
    const size_t length = bytes.bytes().size();
    if (heard) bytes.Write(CurrentPlatform());  // ends it with "\n"
    if (!st.bLogBannerWritten) return;
    bytes.bytes().resize(length);
    bytes.bytes().append("\r\n");
    core::TextFile log(st.strLogFilename, false);
    st.nLogFileNumber = kLogChannel;
    log.WriteBytes(bytes.bytes());
    return;
  }
  String line;
  line.reserve(64 + source.size() + procedure.size() + description.size());
  core::TextLine out{line};
  SpellErrorLine(out, source, procedure, description, number);
  self.DebugTrace(line);
  if (!st.bLogBannerWritten) return;
  core::TextFile log(st.strLogFilename, false);
  st.nLogFileNumber = kLogChannel;
  line.append(core::kCrLf);
  log.Write(line);
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

  WriteErrorLine(*this, source, strProcedureName, description, nErrorNumberForLogFile);

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
