// The ErrorLog COM object: _ErrorLog over one vx380::ErrorLog. Every member only
// translates (BSTR, VARIANT_BOOL, IDispatch, errors) and calls the core.
#pragma once

#include <memory>

#include "AutomationObject.h"
#include "VX380ErrorLogging.h"
#include "vx380/ErrorLog.h"

namespace vx380::com {

class ErrorLogObject final : public AutomationObject<_ErrorLog, IID__ErrorLog, CLSID_ErrorLog> {
 public:
  ErrorLogObject();
  // Ends the core object: its end-of-object behaviour runs here.
  ~ErrorLogObject() override;

  STDMETHODIMP Main() override;
  STDMETHODIMP Initialize(BSTR strAppName, BSTR strResourceDLL) override;
  STDMETHODIMP LogError(BSTR strSource, BSTR strDescription, BSTR* strHelpFile, LONG* nHelpContext,
                        LONG* nErrorNumberForLogFile, BSTR* strProcedureName, LONG* nButtons, LONG* nErrorNumberForUser,
                        VARIANT_BOOL* bRaise) override;
  STDMETHODIMP RBDEBUGLOG(BSTR strMess) override;
  STDMETHODIMP RBDEBUGMESSAGE(BSTR* strPrompt, LONG* vButtons, BSTR* strTitle, BSTR* strHelpFile, LONG* lContext,
                              LONG* result) override;
  STDMETHODIMP RBDEBUGMATRIX(IDispatch** Xform, BSTR* result) override;
  STDMETHODIMP DescribeAttributes(IDispatch** objGraphic) override;
  STDMETHODIMP RBDEBUGWRITE(BSTR strMess) override;
  STDMETHODIMP RBDEBUGENTER(BSTR strModuleName, BSTR* strNote, VARIANT_BOOL* bSuppressDebug) override;
  STDMETHODIMP RBDEBUGEXIT(BSTR* strNote) override;
  STDMETHODIMP RBDEBUGMODULE(BSTR strModuleName, VARIANT_BOOL* bEntry, BSTR* strNote,
                             VARIANT_BOOL* bSuppressDebug) override;
  STDMETHODIMP RBDEBUGTIMESTAMP(BSTR* strNote) override;
  STDMETHODIMP RBDEBUGLINE(SHORT* LineNumber, BSTR* strNote) override;
  STDMETHODIMP RBDEBUGHIERARCHY(IDispatch** objDrawingObject, LONG level) override;
  STDMETHODIMP LookUpValueForKey(LONG* lKey, BSTR* szSubKey, BSTR* szValue, VARIANT* szName,
                                 VARIANT_BOOL* result) override;
  STDMETHODIMP AppendSlash(BSTR* szPath, BSTR* result) override;
  STDMETHODIMP get_ReportingLevel(::mxReportingLevelConstants* result) override;
  STDMETHODIMP put_ReportingLevel(::mxReportingLevelConstants value) override;
  STDMETHODIMP get_ApplicationName(BSTR* result) override;
  STDMETHODIMP get_LogFilename(BSTR* result) override;
  STDMETHODIMP put_LogFilename(BSTR* value) override;
  STDMETHODIMP LogMsg(BSTR strMessageText) override;
  STDMETHODIMP DebugTrace(BSTR strMsg) override;

 private:
  std::unique_ptr<vx380::ErrorLog> core_;
};

}  // namespace vx380::com
