// vx380::ErrorLog: the error reporting and tracing object. Members are in interface
// order with the interface's names. Parameter passing follows the interface:
// ByVal parameters are values, ByRef parameters that are only read are const
// references, ByRef parameters that are written are references. Optional
// parameters carry their defaults.
//
// Every object of one thread (and the thread's Default() instance) shares one
// per-thread record; members that need another member call it through this
// object's virtual interface, so a derived implementation sees those calls.
#pragma once

#include "vx380/Automation.h"
#include "vx380/LateBound.h"

namespace vx380 {

class VX380_API ErrorLog {
 public:
  ErrorLog() = default;
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  // The end of an object returns its whole thread to the not-initialised state.
  virtual ~ErrorLog();

  // The thread's predeclared instance.
  static ErrorLog& Default();

  virtual void Main();
  virtual void Initialize(String strAppName, String strResourceDLL);
  virtual void LogError(String strSource, String strDescription, const String& strHelpFile = u"",
                        const Long& nHelpContext = 0, const Long& nErrorNumberForLogFile = 0,
                        const String& strProcedureName = u"", const Long& nButtons = box::kExclamation,
                        const Long& nErrorNumberForUser = 0, const Boolean& bRaise = kFalse);
  virtual void RBDEBUGLOG(String strMess);
  virtual Long RBDEBUGMESSAGE(const String& strPrompt, const Long& vButtons = 0, const String& strTitle = u"",
                              const String& strHelpFile = u"", const Long& lContext = 0);
  virtual String RBDEBUGMATRIX(const Object& Xform);
  virtual void DescribeAttributes(const Object& objGraphic);
  virtual void RBDEBUGWRITE(String strMess);
  virtual void RBDEBUGENTER(String strModuleName, const String& strNote = u"", const Boolean& bSuppressDebug = kFalse);
  virtual void RBDEBUGEXIT(const String& strNote = u"");
  virtual void RBDEBUGMODULE(String strModuleName, const Boolean& bEntry, const String& strNote = u"",
                             const Boolean& bSuppressDebug = kFalse);
  virtual void RBDEBUGTIMESTAMP(const String& strNote = u"");
  virtual void RBDEBUGLINE(const Integer& LineNumber = 0, const String& strNote = u"");
  virtual void RBDEBUGHIERARCHY(const Object& objDrawingObject, Long level = 0);
  virtual Boolean LookUpValueForKey(const Long& lKey, const String& szSubKey, String& szValue,
                                    const Variant& szName = Variant::Missing());
  virtual String AppendSlash(const String& szPath);
  virtual mxReportingLevelConstants ReportingLevel();
  virtual void ReportingLevel(mxReportingLevelConstants value);
  virtual String ApplicationName();
  virtual String LogFilename();
  virtual void LogFilename(const String& value);
  virtual void LogMsg(String strMessageText);
  virtual void DebugTrace(String strMsg);
  // The same line from text the caller already holds, read up to its first NUL (null reads as
  // ""): a literal costs no copy. An object whose class overrides DebugTrace(String) gets the
  // line there, as before.
  void DebugTrace(const char16_t* strMsg);

 private:
  struct Predeclared {};
  explicit ErrorLog(Predeclared) : predeclared_(true) {}
  void WriteLogBanner();
  void GetDesktopPath(String& strPath);

  const bool predeclared_ = false;  // the thread's Default() never "ends"
};

}  // namespace vx380
