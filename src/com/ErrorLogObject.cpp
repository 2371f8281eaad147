// _ErrorLog: each member converts its arguments, calls vx380::ErrorLog and converts
// the results back. A null pointer for an optional ByRef parameter means omitted;
// for a required one it is E_POINTER.
#include "ErrorLogObject.h"

#include "ValueConvert.h"

namespace vx380::com {
namespace {

template <class F>
HRESULT Run(F&& body) noexcept {
  return RunMember(IID__ErrorLog, std::forward<F>(body));
}

String In(const BSTR* p) { return p ? ToString(*p) : String(); }
Long In(const LONG* p, Long omitted = 0) { return p ? static_cast<Long>(*p) : omitted; }
// VARIANT_BOOL and SHORT are one type: Integer and Boolean read the same 16 bits.
std::int16_t In(const SHORT* p) { return p ? *p : std::int16_t{0}; }
Object In(IDispatch* const* p) { return p ? ObjectFromDispatch(*p) : Object(); }
VARIANT_BOOL ToVariantBool(Boolean b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

ErrorLogObject::ErrorLogObject() : core_(std::make_unique<vx380::ErrorLog>()) {}

ErrorLogObject::~ErrorLogObject() = default;

STDMETHODIMP ErrorLogObject::Main() {
  return Run([&] { core_->Main(); });
}

STDMETHODIMP ErrorLogObject::Initialize(BSTR strAppName, BSTR strResourceDLL) {
  return Run([&] { core_->Initialize(ToString(strAppName), ToString(strResourceDLL)); });
}

STDMETHODIMP ErrorLogObject::LogError(BSTR strSource, BSTR strDescription, BSTR* strHelpFile, LONG* nHelpContext,
                                      LONG* nErrorNumberForLogFile, BSTR* strProcedureName, LONG* nButtons,
                                      LONG* nErrorNumberForUser, VARIANT_BOOL* bRaise) {
  return Run([&] {
    core_->LogError(ToString(strSource), ToString(strDescription), In(strHelpFile), In(nHelpContext),
                    In(nErrorNumberForLogFile), In(strProcedureName), In(nButtons, box::kExclamation),
                    In(nErrorNumberForUser), In(bRaise));
  });
}

STDMETHODIMP ErrorLogObject::RBDEBUGLOG(BSTR strMess) {
  return Run([&] { core_->RBDEBUGLOG(ToString(strMess)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGMESSAGE(BSTR* strPrompt, LONG* vButtons, BSTR* strTitle, BSTR* strHelpFile,
                                            LONG* lContext, LONG* result) {
  if (!strPrompt || !result) return E_POINTER;
  return Run([&] {
    *result = core_->RBDEBUGMESSAGE(In(strPrompt), In(vButtons), In(strTitle), In(strHelpFile), In(lContext));
  });
}

STDMETHODIMP ErrorLogObject::RBDEBUGMATRIX(IDispatch** Xform, BSTR* result) {
  if (!Xform || !result) return E_POINTER;
  *result = nullptr;
  return Run([&] { *result = ToBstr(core_->RBDEBUGMATRIX(In(Xform))); });
}

STDMETHODIMP ErrorLogObject::DescribeAttributes(IDispatch** objGraphic) {
  if (!objGraphic) return E_POINTER;
  return Run([&] { core_->DescribeAttributes(In(objGraphic)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGWRITE(BSTR strMess) {
  return Run([&] { core_->RBDEBUGWRITE(ToString(strMess)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGENTER(BSTR strModuleName, BSTR* strNote, VARIANT_BOOL* bSuppressDebug) {
  return Run([&] { core_->RBDEBUGENTER(ToString(strModuleName), In(strNote), In(bSuppressDebug)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGEXIT(BSTR* strNote) {
  return Run([&] { core_->RBDEBUGEXIT(In(strNote)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGMODULE(BSTR strModuleName, VARIANT_BOOL* bEntry, BSTR* strNote,
                                           VARIANT_BOOL* bSuppressDebug) {
  if (!bEntry) return E_POINTER;
  return Run([&] { core_->RBDEBUGMODULE(ToString(strModuleName), In(bEntry), In(strNote), In(bSuppressDebug)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGTIMESTAMP(BSTR* strNote) {
  return Run([&] { core_->RBDEBUGTIMESTAMP(In(strNote)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGLINE(SHORT* LineNumber, BSTR* strNote) {
  return Run([&] { core_->RBDEBUGLINE(In(LineNumber), In(strNote)); });
}

STDMETHODIMP ErrorLogObject::RBDEBUGHIERARCHY(IDispatch** objDrawingObject, LONG level) {
  if (!objDrawingObject) return E_POINTER;
  return Run([&] { core_->RBDEBUGHIERARCHY(In(objDrawingObject), static_cast<Long>(level)); });
}

STDMETHODIMP ErrorLogObject::LookUpValueForKey(LONG* lKey, BSTR* szSubKey, BSTR* szValue, VARIANT* szName,
                                               VARIANT_BOOL* result) {
  if (!lKey || !szSubKey || !szValue || !result) return E_POINTER;
  return Run([&] {
    String value = ToString(*szValue);
    Variant name = szName ? FromVariant(*szName) : Variant::Missing();
    Boolean found = core_->LookUpValueForKey(In(lKey), In(szSubKey), value, name);
    BSTR written = ToBstr(value);
    SysFreeString(*szValue);
    *szValue = written;
    *result = ToVariantBool(found);
  });
}

STDMETHODIMP ErrorLogObject::AppendSlash(BSTR* szPath, BSTR* result) {
  if (!szPath || !result) return E_POINTER;
  *result = nullptr;
  return Run([&] { *result = ToBstr(core_->AppendSlash(In(szPath))); });
}

STDMETHODIMP ErrorLogObject::get_ReportingLevel(::mxReportingLevelConstants* result) {
  if (!result) return E_POINTER;
  return Run([&] { *result = static_cast<::mxReportingLevelConstants>(core_->ReportingLevel()); });
}

STDMETHODIMP ErrorLogObject::put_ReportingLevel(::mxReportingLevelConstants value) {
  return Run([&] { core_->ReportingLevel(static_cast<vx380::mxReportingLevelConstants>(value)); });
}

STDMETHODIMP ErrorLogObject::get_ApplicationName(BSTR* result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Run([&] { *result = ToBstr(core_->ApplicationName()); });
}

STDMETHODIMP ErrorLogObject::get_LogFilename(BSTR* result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return Run([&] { *result = ToBstr(core_->LogFilename()); });
}

STDMETHODIMP ErrorLogObject::put_LogFilename(BSTR* value) {
  if (!value) return E_POINTER;
  return Run([&] { core_->LogFilename(In(value)); });
}

STDMETHODIMP ErrorLogObject::LogMsg(BSTR strMessageText) {
  return Run([&] { core_->LogMsg(ToString(strMessageText)); });
}

STDMETHODIMP ErrorLogObject::DebugTrace(BSTR strMsg) {
  return Run([&] { core_->DebugTrace(ToString(strMsg)); });
}

}  // namespace vx380::com
