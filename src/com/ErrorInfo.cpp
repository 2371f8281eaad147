// Raised errors <-> HRESULT + IErrorInfo, and the sync of vx380::Err() with the
// thread's COM error info (mapping documented in ErrorInfo.h).
#include "ErrorInfo.h"

#include <new>

namespace vx380::com {
namespace {

constexpr HRESULT kControlFacility = static_cast<HRESULT>(0x800A0000);

// The error info this DLL published last on this thread, to recover its number.
struct Published {
  IErrorInfo* info = nullptr;  // identity only, never dereferenced
  ErrObject error;
};
thread_local Published t_published;
thread_local int t_memberDepth = 0;

ErrObject Runtime(Long number) { return AutomationError::Runtime(number).error(); }

// Failures of a dispatch call and the runtime errors a client reads for them.
struct HResultError {
  HRESULT hr;
  Long number;
};
const HResultError kHResultErrors[] = {
    {DISP_E_MEMBERNOTFOUND, rt::kNoSuchMember},      {DISP_E_UNKNOWNNAME, rt::kNoSuchMember},
    {DISP_E_TYPEMISMATCH, rt::kTypeMismatch},        {DISP_E_OVERFLOW, rt::kOverflow},
    {DISP_E_BADINDEX, rt::kSubscriptOutOfRange},     {DISP_E_PARAMNOTOPTIONAL, rt::kArgumentNotOptional},
    {DISP_E_BADPARAMCOUNT, rt::kWrongArgumentCount}, {DISP_E_PARAMNOTFOUND, rt::kWrongArgumentCount},
    {E_NOINTERFACE, rt::kNoAutomationInterface},     {E_OUTOFMEMORY, rt::kOutOfMemory},
};

bool IsClear(const ErrObject& e) { return e == ErrObject{}; }

}  // namespace

HRESULT HResultFromErrorNumber(Long number) {
  if (number < 0) return static_cast<HRESULT>(number);
  if (number >= 1 && number <= 0xFFFF) return kControlFacility | number;
  return kControlFacility | rt::kInvalidProcedureCall;
}

ErrObject ErrorFromHResult(HRESULT hr) {
  if ((static_cast<ULONG>(hr) & 0xFFFF0000u) == static_cast<ULONG>(kControlFacility)) return Runtime(hr & 0xFFFF);
  for (const HResultError& known : kHResultErrors)
    if (known.hr == hr) return Runtime(known.number);
  ErrObject e;
  e.number = static_cast<Long>(hr);
  e.source = kRuntimeSource;
  e.description = u"Automation error";
  return e;
}

ErrObject ErrorFromExcepInfo(EXCEPINFO& info) {
  if (info.pfnDeferredFillIn) {
    info.pfnDeferredFillIn(&info);
    info.pfnDeferredFillIn = nullptr;
  }
  ErrObject e;
  if (info.scode != 0) {
    e = ErrorFromHResult(info.scode);
  } else {
    e = Runtime(info.wCode);
  }
  // The object's own texts win over the generic ones.
  if (info.bstrSource && SysStringLen(info.bstrSource)) e.source = ToString(info.bstrSource);
  if (info.bstrDescription && SysStringLen(info.bstrDescription)) e.description = ToString(info.bstrDescription);
  e.helpFile = ToString(info.bstrHelpFile);
  e.helpContext = static_cast<Long>(info.dwHelpContext);
  return e;
}

ErrObject TakePendingError(ComPtr<IErrorInfo>* keep) {
  ComPtr<IErrorInfo> info;
  ErrObject e;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) {
    if (keep) *keep = nullptr;
    return e;
  }
  Bstr source, description, helpFile;
  DWORD context = 0;
  info->GetSource(source.Put());
  info->GetDescription(description.Put());
  info->GetHelpFile(helpFile.Put());
  info->GetHelpContext(&context);
  e.source = source.str();
  e.description = description.str();
  e.helpFile = helpFile.str();
  e.helpContext = static_cast<Long>(context);
  const Published& p = t_published;
  if (info.get() == p.info && p.error.source == e.source && p.error.description == e.description &&
      p.error.helpFile == e.helpFile && p.error.helpContext == e.helpContext) {
    e.number = p.error.number;
  }
  if (keep) *keep = std::move(info);
  return e;
}

void PublishError(const ErrObject& err, REFIID iid) {
  Published& p = t_published;
  if (IsClear(err)) {
    SetErrorInfo(0, nullptr);
    p = Published{};
    return;
  }
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put())) || !create) {
    SetErrorInfo(0, nullptr);
    p = Published{};
    return;
  }
  // ICreateErrorInfo takes C strings: an embedded NUL ends the text there.
  std::wstring source(err.source.begin(), err.source.end());
  std::wstring description(err.description.begin(), err.description.end());
  std::wstring helpFile(err.helpFile.begin(), err.helpFile.end());
  create->SetGUID(iid);
  create->SetSource(source.data());
  create->SetDescription(description.data());
  create->SetHelpFile(helpFile.data());
  create->SetHelpContext(static_cast<DWORD>(err.helpContext));
  ComPtr<IErrorInfo> info = create.As<IErrorInfo>(IID_IErrorInfo);
  SetErrorInfo(0, info.get());
  p.info = info.get();
  p.error = err;
  // What a reader gets back is cut at the first NUL; remember it that way so the number is recovered.
  p.error.source = String(err.source.c_str());
  p.error.description = String(err.description.c_str());
  p.error.helpFile = String(err.helpFile.c_str());
}

MemberCall::MemberCall(REFIID iid) : iid_(iid), outermost_(t_memberDepth == 0) {
  ++t_memberDepth;
  if (outermost_) {
    try {
      entry_ = TakePendingError(&entryInfo_);
      Err() = entry_;
    } catch (...) {
      --t_memberDepth;
      throw;
    }
  }
}

MemberCall::~MemberCall() { --t_memberDepth; }

HRESULT MemberCall::Succeeded() {
  if (!outermost_) return S_OK;
  try {
    const ErrObject& now = Err();
    if (now == entry_) {
      SetErrorInfo(0, entryInfo_.get());  // the caller's own object, untouched
    } else {
      PublishError(now, iid_);
    }
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
  return S_OK;
}

HRESULT MemberCall::Raised(const ErrObject& err) {
  try {
    Err() = err;
    PublishError(err, iid_);
  } catch (...) {
    SetErrorInfo(0, nullptr);
  }
  return HResultFromErrorNumber(err.number);
}

HRESULT MemberCall::Refused(HRESULT hr) {
  if (outermost_) SetErrorInfo(0, entryInfo_.get());
  return hr;
}

}  // namespace vx380::com
