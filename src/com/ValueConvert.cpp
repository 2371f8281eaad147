// VARIANT <-> vx380::Variant and the object views.
#include "ValueConvert.h"

#include "ComSupport.h"
#include "DispatchView.h"

namespace vx380::com {

Object ObjectFromDispatch(IDispatch* dispatch) {
  if (!dispatch) return Object();
  return std::make_shared<DispatchView>(dispatch);
}

IDispatch* DispatchFromObject(const Object& object) {
  auto* view = dynamic_cast<DispatchView*>(object.get());
  return view ? view->dispatch() : nullptr;
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
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant::Null();
    case VT_ERROR:
      if (v.scode == DISP_E_PARAMNOTFOUND) return Variant::Missing();
      return Variant(static_cast<Long>(v.scode));
    case VT_BOOL: return Variant::FromBoolean(v.boolVal);
    case VT_I2: return Variant::FromInteger(v.iVal);
    case VT_I1: return Variant::FromInteger(v.cVal);
    case VT_UI1: return Variant::FromInteger(v.bVal);
    case VT_I4: return Variant(static_cast<Long>(v.lVal));
    case VT_INT: return Variant(static_cast<Long>(v.intVal));
    case VT_UI2: return Variant(static_cast<Long>(v.uiVal));
    case VT_R8: return Variant(v.dblVal);
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
    case VT_DATE: return Variant::FromDate(v.date);
    case VT_BSTR: return Variant(ToString(v.bstrVal));
    case VT_DISPATCH: return Variant(ObjectFromDispatch(v.pdispVal));
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

void ToVariant(const Variant& value, VARIANT* out) {
  VariantInit(out);
  switch (value.kind()) {
    case Variant::Kind::Empty: return;
    case Variant::Kind::Null: out->vt = VT_NULL; return;
    case Variant::Kind::Missing:
      out->vt = VT_ERROR;
      out->scode = DISP_E_PARAMNOTFOUND;
      return;
    case Variant::Kind::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = value.number() != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case Variant::Kind::Integer:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(value.number());
      return;
    case Variant::Kind::Long:
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(value.number());
      return;
    case Variant::Kind::Double:
      out->vt = VT_R8;
      out->dblVal = value.number();
      return;
    case Variant::Kind::Date:
      out->vt = VT_DATE;
      out->date = value.number();
      return;
    case Variant::Kind::String:
      out->bstrVal = ToBstr(value.text());
      out->vt = VT_BSTR;
      return;
    case Variant::Kind::Object: {
      IDispatch* d = DispatchFromObject(value.object());
      if (value.object() && !d) RaiseRuntime(rt::kTypeMismatch);  // not a COM object
      if (d) d->AddRef();
      out->vt = VT_DISPATCH;
      out->pdispVal = d;
      return;
    }
  }
}

}  // namespace vx380::com
