// The late-bound view of a host object through IDispatch.
#include "DispatchView.h"

#include <dispex.h>

#include "ErrorInfo.h"
#include "ValueConvert.h"

namespace vx380::com {
namespace {

[[noreturn]] void Raise(const ErrObject& e) {
  throw AutomationError(e.number, e.source, e.description, e.helpFile, e.helpContext);
}

// A failure that came without EXCEPINFO; error info the object left pending adds its texts.
[[noreturn]] void RaiseFromHResult(HRESULT hr) {
  ErrObject e = ErrorFromHResult(hr);
  ErrObject pending = TakePendingError();
  if (!pending.source.empty()) e.source = pending.source;
  if (!pending.description.empty()) e.description = pending.description;
  if (!pending.helpFile.empty()) e.helpFile = pending.helpFile;
  if (pending.helpContext) e.helpContext = pending.helpContext;
  Raise(e);
}

class EnumView final : public Enumerator {
 public:
  explicit EnumView(ComPtr<IEnumVARIANT> e) : enum_(std::move(e)) {}
  bool Next(Variant& item) override {
    Var v;
    ULONG fetched = 0;
    HRESULT hr = enum_->Next(1, v.get(), &fetched);
    if (FAILED(hr)) RaiseFromHResult(hr);
    if (hr != S_OK || fetched != 1) return false;
    item = FromVariant(*v.get());
    return true;
  }

 private:
  ComPtr<IEnumVARIANT> enum_;
};

class SafeArrayHolder {
 public:
  explicit SafeArrayHolder(SAFEARRAY* a) : a_(a) {}
  ~SafeArrayHolder() {
    if (a_) SafeArrayDestroy(a_);
  }
  SAFEARRAY** ref() { return &a_; }
  SAFEARRAY* get() const { return a_; }

 private:
  SAFEARRAY* a_;
};

}  // namespace

DispatchView::DispatchView(IDispatch* dispatch) : dispatch_(dispatch) {
  dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity_.Put()));
  if (!identity_) identity_ = ComPtr<IUnknown>(dispatch);
}

bool DispatchView::TryCall(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result) {
  ExcepInfo info;
  UINT argErr = 0;
  HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, info.get(), &argErr);
  if (hr == DISP_E_MEMBERNOTFOUND) return false;
  if (hr == DISP_E_EXCEPTION) Raise(ErrorFromExcepInfo(*info.get()));
  if (FAILED(hr)) RaiseFromHResult(hr);
  return true;
}

void DispatchView::Call(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result) {
  if (!TryCall(id, flags, params, result)) RaiseFromHResult(DISP_E_MEMBERNOTFOUND);
}

Variant DispatchView::GetProperty(const String& name) {
  std::wstring wide(name.begin(), name.end());
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr) && hr != DISP_E_UNKNOWNNAME) {
    // Some script engines answer names only through IDispatchEx (Wine's VBScript classes).
    ComPtr<IDispatchEx> ex = dispatch_.As<IDispatchEx>(__uuidof(IDispatchEx));
    Bstr bname(name);
    if (ex) hr = ex->GetDispID(bname.get(), fdexNameCaseInsensitive, &id);
  }
  if (FAILED(hr)) RaiseRuntime(rt::kNoSuchMember);
  return GetPropertyById(id);
}

Variant DispatchView::GetPropertyById(Long dispId) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Var result;
  // A property read; objects that expose the value as a method without arguments
  // (some script objects, classes with a Function of that name) answer the call form.
  if (!TryCall(dispId, DISPATCH_PROPERTYGET, none, result.get())) {
    result.Clear();
    Call(dispId, DISPATCH_METHOD, none, result.get());
  }
  return FromVariant(*result.get());
}

void DispatchView::CallWithDoublesByRef(Long dispId, std::vector<double>& elements) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(elements.size()), 0};
  SafeArrayHolder array(SafeArrayCreate(VT_R8, 1, &bound));
  if (!array.get()) throw std::bad_alloc();
  double* data = nullptr;
  if (FAILED(SafeArrayAccessData(array.get(), reinterpret_cast<void**>(&data)))) throw std::bad_alloc();
  std::copy(elements.begin(), elements.end(), data);
  SafeArrayUnaccessData(array.get());

  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BYREF | VT_ARRAY | VT_R8;
  arg.pparray = array.ref();
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  Var result;
  Call(dispId, DISPATCH_METHOD, params, result.get());

  // The callee may have replaced the array; read back what it left, as far as it goes.
  SAFEARRAY* back = array.get();
  VARTYPE vt = VT_EMPTY;
  LONG lower = 0, upper = -1;
  if (!back || SafeArrayGetDim(back) != 1 || FAILED(SafeArrayGetVartype(back, &vt)) ||
      FAILED(SafeArrayGetLBound(back, 1, &lower)) || FAILED(SafeArrayGetUBound(back, 1, &upper)))
    return;
  for (LONG i = lower; i <= upper && static_cast<size_t>(i - lower) < elements.size(); ++i) {
    Var element;
    if (vt == VT_R8) {
      double d = 0;
      if (SUCCEEDED(SafeArrayGetElement(back, &i, &d))) elements[i - lower] = d;
    } else if (vt == VT_VARIANT && SUCCEEDED(SafeArrayGetElement(back, &i, element.get())) &&
               SUCCEEDED(VariantChangeType(element.get(), element.get(), 0, VT_R8))) {
      elements[i - lower] = element->dblVal;
    }
  }
}

std::unique_ptr<Enumerator> DispatchView::NewEnum() {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  Var result;
  Call(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, result.get());
  IUnknown* unknown = nullptr;
  if (result->vt == VT_UNKNOWN || result->vt == VT_DISPATCH) unknown = result->punkVal;
  ComPtr<IEnumVARIANT> e;
  if (!unknown || FAILED(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(e.Put()))) || !e)
    RaiseRuntime(rt::kTypeMismatch);
  return std::make_unique<EnumView>(std::move(e));
}

String DispatchView::TypeName() {
  const String fallback = u"Object";
  UINT count = 0;
  if (FAILED(dispatch_->GetTypeInfoCount(&count)) || count == 0) return fallback;
  ComPtr<ITypeInfo> info;
  if (FAILED(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put())) || !info) return fallback;
  Bstr name;
  if (FAILED(info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr)) || !name.get())
    return fallback;
  return name.str();
}

}  // namespace vx380::com
