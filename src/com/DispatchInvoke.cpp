// The generic Invoke: a pre-pass over DISPPARAMS that maps, defaults and coerces
// every argument to the exact parameter type, a DispCallFunc into the vtable, and
// the write-back of ByRef values into the caller's variables.
#include "DispatchInvoke.h"

#include <cstring>
#include <vector>

#include "ErrorInfo.h"

namespace vx380::com {
namespace {

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// The variant that holds the value behind a chain of VT_BYREF|VT_VARIANT; null when
// the chain is broken (a null pointer, or deeper than any client builds).
const VARIANT* Deref(const VARIANT* v) {
  for (int depth = 0; depth < 8; ++depth) {
    if (v->vt != (VT_BYREF | VT_VARIANT)) {
      if ((v->vt & VT_BYREF) && !v->byref) return nullptr;
      return v;
    }
    if (!v->pvarVal) return nullptr;
    v = v->pvarVal;
  }
  return nullptr;
}

// The runtime's copy functions take their source as non-const.
VARIANT* Src(const VARIANT* v) { return const_cast<VARIANT*>(v); }

HRESULT AsArgumentError(HRESULT hr) {
  if (hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE || hr == E_OUTOFMEMORY) return hr;
  return DISP_E_TYPEMISMATCH;
}

// dst (empty) receives src (no VT_BYREF) as a value of type vt.
HRESULT Coerce(const VARIANT& src, VARTYPE vt, LCID lcid, VARIANT* dst) {
  if (vt == VT_VARIANT) return VariantCopy(dst, Src(&src));
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    switch (src.vt) {
      case VT_EMPTY:
      case VT_NULL:
        dst->vt = vt;  // Nothing
        dst->pdispVal = nullptr;
        return S_OK;
      case VT_DISPATCH:
      case VT_UNKNOWN:
        if (!src.punkVal) {
          dst->vt = vt;
          dst->pdispVal = nullptr;
          return S_OK;
        }
        if (vt == VT_UNKNOWN) return VariantCopy(dst, Src(&src));
        if (src.vt == VT_DISPATCH) return VariantCopy(dst, Src(&src));
        dst->pdispVal = nullptr;
        if (FAILED(src.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dst->pdispVal))))
          return DISP_E_TYPEMISMATCH;
        dst->vt = VT_DISPATCH;
        return S_OK;
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  HRESULT hr = VariantChangeTypeEx(dst, Src(&src), lcid, VARIANT_ALPHABOOL, vt);
  return FAILED(hr) ? AsArgumentError(hr) : S_OK;
}

void SetZero(VARTYPE vt, VARIANT* v) {
  VariantInit(v);
  if (vt == VT_VARIANT) {  // an omitted Variant stays omitted for the member to see
    v->vt = VT_ERROR;
    v->scode = DISP_E_PARAMNOTFOUND;
    return;
  }
  v->vt = vt;
  v->llVal = 0;
}

size_t ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    default: return 0;
  }
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_BSTR: {
      UINT la = SysStringLen(a.bstrVal), lb = SysStringLen(b.bstrVal);
      return la == lb && (la == 0 || std::memcmp(a.bstrVal, b.bstrVal, la * sizeof(OLECHAR)) == 0);
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return a.punkVal == b.punkVal;
    case VT_EMPTY:
    case VT_NULL:
      return true;
    default: {
      size_t n = ScalarSize(a.vt);
      return n == 0 || std::memcmp(&a.llVal, &b.llVal, n) == 0;  // unknown kinds count as unchanged
    }
  }
}

// Writes value into the caller's by-reference argument, converted to the type of
// the caller's variable; a value that does not convert leaves the variable as it was.
void StoreInto(VARIANT* target, const VARIANT& value, LCID lcid, int depth = 0) {
  if (depth > 8) return;
  if (target->vt == (VT_BYREF | VT_VARIANT)) {
    VARIANT* inner = target->pvarVal;
    if (!inner) return;
    if (inner->vt & VT_BYREF) return StoreInto(inner, value, lcid, depth + 1);
    Var copy;
    if (FAILED(VariantCopy(copy.get(), Src(&value)))) return;
    VariantClear(inner);
    *inner = *copy.get();
    copy->vt = VT_EMPTY;
    return;
  }
  if (!(target->vt & VT_BYREF) || (target->vt & VT_ARRAY) || !target->byref) return;
  VARTYPE base = target->vt & VT_TYPEMASK;
  Var converted;
  if (FAILED(Coerce(value, base, lcid, converted.get()))) return;
  switch (base) {
    case VT_BSTR:
      SysFreeString(*target->pbstrVal);
      *target->pbstrVal = converted->bstrVal;
      converted->vt = VT_EMPTY;
      return;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (*target->ppunkVal) (*target->ppunkVal)->Release();
      *target->ppunkVal = converted->punkVal;
      converted->vt = VT_EMPTY;
      return;
    default:
      if (size_t n = ScalarSize(base)) std::memcpy(target->byref, &converted->llVal, n);
      return;
  }
}

const MemberInfo* FindMember(const InterfaceInfo& info, DISPID id, WORD flags) {
  const MemberInfo *func = nullptr, *get = nullptr, *put = nullptr, *putRef = nullptr;
  for (const MemberInfo& m : info.members()) {
    if (m.id != id) continue;
    switch (m.kind) {
      case INVOKE_FUNC: func = &m; break;
      case INVOKE_PROPERTYGET: get = &m; break;
      case INVOKE_PROPERTYPUT: put = &m; break;
      case INVOKE_PROPERTYPUTREF: putRef = &m; break;
    }
  }
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    if ((flags & DISPATCH_PROPERTYPUT) && put) return put;
    if ((flags & DISPATCH_PROPERTYPUTREF) && putRef) return putRef;
    return nullptr;
  }
  if ((flags & DISPATCH_METHOD) && func) return func;
  // Script engines read properties with METHOD|PROPERTYGET, some with METHOD alone.
  if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) && get) return get;
  return nullptr;
}

// Which rgvarg element feeds each parameter (-1: omitted). Positional arguments come
// last in rgvarg, right to left; named ones go where their dispatch id says.
HRESULT MapArguments(const MemberInfo& m, const DISPPARAMS& params, std::vector<int>& from, UINT* argErr) {
  const size_t n = m.params.size();
  const UINT cArgs = params.cArgs, cNamed = params.cNamedArgs;
  const UINT cPositional = cArgs - cNamed;
  if (cPositional > n) return DISP_E_BADPARAMCOUNT;
  const bool isPut = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
  from.assign(n, -1);
  for (UINT k = 0; k < cPositional; ++k) from[k] = static_cast<int>(cArgs - 1 - k);
  for (UINT i = 0; i < cNamed; ++i) {
    const DISPID named = params.rgdispidNamedArgs[i];
    size_t p;
    if (named == DISPID_PROPERTYPUT && isPut && n > 0) {
      p = n - 1;
    } else if (named >= 0 && static_cast<size_t>(named) < n) {
      p = static_cast<size_t>(named);
    } else {
      p = n;  // no such parameter
    }
    if (p == n || from[p] != -1) {
      if (argErr) *argErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
    from[p] = static_cast<int>(i);
  }
  for (size_t p = 0; p < n; ++p) {
    if (from[p] == -1 && !m.params[p].optional) return cNamed == 0 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
  }
  return S_OK;
}

// One parameter as the method receives it.
struct Slot {
  Var value;                     // the argument converted to the parameter's type
  VARIANT arg{};                 // a VT_BYREF view for ByRef parameters
  VARIANT* writeBack = nullptr;  // the caller's by-reference argument when value is a copy
  Var before;                    // value as passed in, to see whether the member wrote it
};

// Everything DispCallFunc is handed; slots and the result are pointed into, so it never moves.
struct CallFrame {
  explicit CallFrame(const MemberInfo& m)
      : slots(m.params.size()), hasResult(m.resultVt != VT_EMPTY), types(slots.size() + hasResult),
        args(slots.size() + hasResult) {
    VariantInit(&resultArg);
  }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  std::vector<Slot> slots;
  const bool hasResult;
  std::vector<VARTYPE> types;
  std::vector<VARIANTARG*> args;
  Var returned;
  VARIANT resultArg;
};

// The parameter's value from the argument given (null when omitted), with a by-reference
// slot into the caller's variable where its type already fits.
HRESULT CoerceArgument(const ParamInfo& param, VARIANT* given, LCID lcid, Slot& slot) {
  const VARIANT* v = given ? Deref(given) : nullptr;
  if (given && !v) return DISP_E_TYPEMISMATCH;
  // No parameter takes records or arrays; refuse them before anything copies them.
  if (v && ((v->vt & VT_TYPEMASK) == VT_RECORD || (v->vt & VT_ARRAY))) return DISP_E_TYPEMISMATCH;
  const VARTYPE byRefType = static_cast<VARTYPE>(VT_BYREF | param.vt);

  if (!given || IsMissing(*v)) {
    if (!param.optional) return DISP_E_PARAMNOTOPTIONAL;
    if (param.defaultValue) return Coerce(*param.defaultValue->get(), param.vt, lcid, slot.value.get());
    SetZero(param.vt, slot.value.get());
    return S_OK;
  }
  if (param.byRef && given->vt == byRefType) {
    slot.arg = *given;  // the caller's own variable of the exact type
    return S_OK;
  }
  if (param.byRef && given->vt == (VT_BYREF | VT_VARIANT) && given->pvarVal->vt == param.vt &&
      param.vt != VT_VARIANT) {
    slot.arg.vt = byRefType;  // a script variable holding the exact type: point into it
    slot.arg.byref = &given->pvarVal->llVal;
    return S_OK;
  }
  Var plain;
  HRESULT hr = VariantCopyInd(plain.get(), Src(v));
  if (FAILED(hr)) return AsArgumentError(hr);
  hr = Coerce(*plain.get(), param.vt, lcid, slot.value.get());
  if (FAILED(hr)) return hr;
  if (param.byRef && (given->vt & VT_BYREF)) {
    slot.writeBack = given;
    return VariantCopy(slot.before.get(), slot.value.get());
  }
  return S_OK;
}

// What DispCallFunc passes for the parameter: the value, or a by-reference view of it.
void BindArgument(const ParamInfo& param, Slot& slot, VARTYPE& type, VARIANTARG*& arg) {
  if (!param.byRef) {
    type = param.vt;
    arg = slot.value.get();
    return;
  }
  const VARTYPE byRefType = static_cast<VARTYPE>(VT_BYREF | param.vt);
  if (slot.arg.vt == VT_EMPTY) {
    slot.arg.vt = byRefType;
    if (param.vt == VT_VARIANT) {
      slot.arg.pvarVal = slot.value.get();
    } else {
      slot.arg.byref = &slot.value->llVal;
    }
  }
  type = byRefType;
  arg = &slot.arg;
}

HRESULT PrepareArguments(const MemberInfo& m, DISPPARAMS& params, const std::vector<int>& from, LCID lcid,
                         CallFrame& frame, UINT* argErr) {
  for (size_t p = 0; p < m.params.size(); ++p) {
    VARIANT* given = from[p] >= 0 ? &params.rgvarg[from[p]] : nullptr;
    const HRESULT hr = CoerceArgument(m.params[p], given, lcid, frame.slots[p]);
    if (FAILED(hr)) {
      if (argErr) *argErr = from[p] >= 0 ? static_cast<UINT>(from[p]) : 0;
      return hr;
    }
    BindArgument(m.params[p], frame.slots[p], frame.types[p], frame.args[p]);
  }
  return S_OK;
}

// The [retval] slot, zero of its type (an empty Variant) until the member fills it.
void PrepareResult(const MemberInfo& m, CallFrame& frame) {
  if (!frame.hasResult) return;
  SetZero(m.resultVt, frame.returned.get());
  if (m.resultVt == VT_VARIANT) frame.returned->vt = VT_EMPTY;
  frame.resultArg.vt = static_cast<VARTYPE>(VT_BYREF | m.resultVt);
  if (m.resultVt == VT_VARIANT) {
    frame.resultArg.pvarVal = frame.returned.get();
  } else {
    frame.resultArg.byref = &frame.returned->llVal;
  }
  const size_t n = frame.slots.size();
  frame.types[n] = frame.resultArg.vt;
  frame.args[n] = &frame.resultArg;
}

// The vtable call; memberHr is what the member itself returned.
HRESULT CallMember(void* self, const MemberInfo& m, CallFrame& frame, HRESULT& memberHr) {
  VARIANT status;
  VariantInit(&status);
  const HRESULT hr = DispCallFunc(self, m.vtableOffset & 0xFFFC, m.callConv, VT_ERROR,
                                  static_cast<UINT>(frame.types.size()), frame.types.data(), frame.args.data(),
                                  &status);
  memberHr = status.scode;
  return hr;
}

// ByRef values the member changed go back into the caller's variables.
void WriteBack(CallFrame& frame, LCID lcid) {
  for (Slot& slot : frame.slots) {
    if (slot.writeBack && !SameValue(*slot.before.get(), *slot.value.get()))
      StoreInto(slot.writeBack, *slot.value.get(), lcid);
  }
}

void FillExcepInfo(EXCEPINFO* out, HRESULT memberHr) {
  ComPtr<IErrorInfo> info;
  ErrObject e = TakePendingError(&info);
  SetErrorInfo(0, info.get());  // stays pending for clients that ask for it
  if (!out) return;
  std::memset(out, 0, sizeof(*out));
  out->scode = memberHr;
  try {
    if (info) {
      out->bstrSource = ToBstr(e.source);
      out->bstrDescription = ToBstr(e.description);
      out->bstrHelpFile = ToBstr(e.helpFile);
      out->dwHelpContext = static_cast<DWORD>(e.helpContext);
    }
  } catch (...) {
  }
}

// The result moves to the caller.
void HandOverResult(CallFrame& frame, VARIANT* result) {
  if (!result) return;
  VariantInit(result);
  if (!frame.hasResult) return;
  *result = *frame.returned.get();
  frame.returned->vt = VT_EMPTY;
}

}  // namespace

HRESULT InvokeMember(void* self, const InterfaceInfo& info, DISPID id, LCID lcid, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
      (params->cNamedArgs && !params->rgdispidNamedArgs))
    return DISP_E_BADPARAMCOUNT;
  const MemberInfo* m = FindMember(info, id, flags);
  if (!m) return DISP_E_MEMBERNOTFOUND;

  std::vector<int> from;
  HRESULT hr = MapArguments(*m, *params, from, argErr);
  if (FAILED(hr)) return hr;
  CallFrame frame(*m);
  if (FAILED(hr = PrepareArguments(*m, *params, from, lcid, frame, argErr))) return hr;
  PrepareResult(*m, frame);
  HRESULT memberHr = S_OK;
  if (FAILED(hr = CallMember(self, *m, frame, memberHr))) return hr;
  WriteBack(frame, lcid);
  if (FAILED(memberHr)) {
    FillExcepInfo(excepInfo, memberHr);
    return DISP_E_EXCEPTION;
  }
  HandOverResult(frame, result);
  return S_OK;
}

}  // namespace vx380::com
