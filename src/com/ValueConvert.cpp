// VARIANT -> vx380::Variant and the object views.
#include "ValueConvert.h"

#include "ComSupport.h"
#include "DispatchView.h"

namespace vx380::com {

Object ObjectFromDispatch(IDispatch* dispatch) {
  if (!dispatch) return Object();
  return std::make_shared<DispatchView>(dispatch);
}

Variant FromVariant(const VARIANT& v) {
  if (v.vt & VT_BYREF) {
    if (!v.byref) RaiseRuntime(rt::kTypeMismatch);
    Var plain;
    if (FAILED(VariantCopyInd(plain.get(), const_cast<VARIANT*>(&v)))) RaiseRuntime(rt::kTypeMismatch);
    if (plain->vt & VT_BYREF) RaiseRuntime(rt::kTypeMismatch);
    return FromVariant(*plain.get());
  }
  switch (v.vt) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_ERROR:
      if (v.scode == DISP_E_PARAMNOTFOUND) return Variant::Missing();
      return Variant(static_cast<Long>(v.scode));
    case VT_BOOL:
      return Variant::FromBoolean(v.boolVal);
    case VT_I2:
      return Variant::FromInteger(v.iVal);
    case VT_I1:
      return Variant::FromInteger(v.cVal);
    case VT_UI1:
      return Variant::FromInteger(v.bVal);
    case VT_I4:
      return Variant(static_cast<Long>(v.lVal));
    case VT_INT:
      return Variant(static_cast<Long>(v.intVal));
    case VT_UI2:
      return Variant(static_cast<Long>(v.uiVal));
    case VT_R8:
      return Variant(v.dblVal);
    case VT_R4:
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DECIMAL: {
      Var d;
      if (FAILED(VariantChangeType(d.get(), const_cast<VARIANT*>(&v), 0, VT_R8))) RaiseRuntime(rt::kOverflow);
      return Variant(d->dblVal);
    }
    case VT_DATE:
      return Variant::FromDate(v.date);
    case VT_BSTR:
      return Variant(ToString(v.bstrVal));
    case VT_DISPATCH:
      return Variant(ObjectFromDispatch(v.pdispVal));
    case VT_UNKNOWN: {
      if (!v.punkVal) return Variant(Object());
      ComPtr<IDispatch> d;
      if (FAILED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(d.Put()))) || !d)
        RaiseRuntime(rt::kTypeMismatch);
      return Variant(ObjectFromDispatch(d.get()));
    }
    default:
      RaiseRuntime(rt::kTypeMismatch);
  }
}

}  // namespace vx380::com
