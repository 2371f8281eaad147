// The generic Invoke: a pre-pass over DISPPARAMS that maps, defaults and coerces
// every argument to the exact parameter type, the call into the vtable, and the
// write-back of ByRef values into the caller's variables. A script host makes every
// call through here, so the common case (a handful of parameters, arguments of the
// right type) takes no heap block, copies no string and calls the method directly.
#include "DispatchInvoke.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

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
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    default:
      return 0;
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
  const DispatchEntry* members = info.MembersOf(id);
  if (!members) return nullptr;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    if ((flags & DISPATCH_PROPERTYPUT) && members->put) return members->put;
    if ((flags & DISPATCH_PROPERTYPUTREF) && members->putRef) return members->putRef;
    return nullptr;
  }
  if ((flags & DISPATCH_METHOD) && members->func) return members->func;
  // Script engines read properties with METHOD|PROPERTYGET, some with METHOD alone.
  if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) && members->get) return members->get;
  return nullptr;
}

// Up to this many parameters the bookkeeping of a call stays on the stack; members with
// more take it from the heap.
constexpr size_t kInlineParams = 4;

// n value-initialised elements of T, in place when n <= N.
template <class T, size_t N>
class SmallArray {
 public:
  explicit SmallArray(size_t n)
      : size_(n), data_(n <= N ? reinterpret_cast<T*>(inline_) : static_cast<T*>(::operator new(n * sizeof(T)))) {
    std::uninitialized_value_construct_n(data_, n);
  }
  SmallArray(const SmallArray&) = delete;
  SmallArray& operator=(const SmallArray&) = delete;
  ~SmallArray() {
    std::destroy_n(data_, size_);
    if (data_ != reinterpret_cast<T*>(inline_)) ::operator delete(data_);
  }
  size_t size() const { return size_; }
  T* data() { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }

 private:
  const size_t size_;
  alignas(T) unsigned char inline_[N * sizeof(T)];
  T* const data_;
};

using ArgumentMap = SmallArray<int, kInlineParams>;

// Which rgvarg element feeds each parameter (-1: omitted). Positional arguments come
// last in rgvarg, right to left; named ones go where their dispatch id says.
HRESULT MapArguments(const MemberInfo& m, const DISPPARAMS& params, ArgumentMap& from, UINT* argErr) {
  const size_t n = m.params.size();
  const UINT cArgs = params.cArgs, cNamed = params.cNamedArgs;
  const UINT cPositional = cArgs - cNamed;
  if (cPositional > n) return DISP_E_BADPARAMCOUNT;
  const bool isPut = m.kind == INVOKE_PROPERTYPUT || m.kind == INVOKE_PROPERTYPUTREF;
  for (int& f : from) f = -1;
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
  Var value;                      // the argument converted to the parameter's type
  VARIANT arg{};                  // a VT_BYREF view for ByRef parameters
  const VARIANT* lent = nullptr;  // the caller's own value, passed as it is instead of value
  VARIANT* writeBack = nullptr;   // the caller's by-reference argument when value is a copy
  Var before;                     // value as passed in, to see whether the member wrote it
};

// Everything the call is handed; slots and the result are pointed into, so it never moves.
struct CallFrame {
  explicit CallFrame(const MemberInfo& m)
      : from(m.params.size()),
        slots(m.params.size()),
        hasResult(m.resultVt != VT_EMPTY),
        types(slots.size() + hasResult),
        args(slots.size() + hasResult) {
    VariantInit(&resultArg);
  }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  ArgumentMap from;  // which rgvarg element feeds each parameter
  SmallArray<Slot, kInlineParams> slots;
  const bool hasResult;
  SmallArray<VARTYPE, kInlineParams + 1> types;
  SmallArray<VARIANTARG*, kInlineParams + 1> args;
  Var returned;
  VARIANT resultArg;
};

// A by-value argument that already has the parameter's type goes to the member as the
// caller's own value, uncopied: a member never owns or changes its by-value arguments, and
// ours turn strings into their own at entry. A string held in a script variable is lent only
// to members that write no argument, which could be that same variable.
bool CanLend(const ParamInfo& param, const VARIANT& given, const VARIANT& value, bool memberWrites) {
  if (param.byRef || value.vt != param.vt) return false;
  if (param.vt != VT_BSTR) return ScalarSize(param.vt) != 0;
  return &given == &value || !memberWrites;
}

// The parameter's value from the argument given (null when omitted), with a by-reference
// slot into the caller's variable where its type already fits.
HRESULT CoerceArgument(const ParamInfo& param, VARIANT* given, LCID lcid, bool memberWrites, Slot& slot) {
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
  if (param.byRef && given->vt == (VT_BYREF | VT_VARIANT) && given->pvarVal->vt == param.vt && param.vt != VT_VARIANT) {
    slot.arg.vt = byRefType;  // a script variable holding the exact type: point into it
    slot.arg.byref = &given->pvarVal->llVal;
    return S_OK;
  }
  if (CanLend(param, *given, *v, memberWrites)) {
    slot.lent = v;
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
    arg = slot.lent ? Src(slot.lent) : slot.value.get();
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

HRESULT PrepareArguments(const MemberInfo& m, DISPPARAMS& params, LCID lcid, CallFrame& frame, UINT* argErr) {
  const ArgumentMap& from = frame.from;
  for (size_t p = 0; p < m.params.size(); ++p) {
    VARIANT* given = from[p] >= 0 ? &params.rgvarg[from[p]] : nullptr;
    const HRESULT hr = CoerceArgument(m.params[p], given, lcid, m.anyByRef, frame.slots[p]);
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

// Whether an argument of type vt travels in one integer register or stack slot on this
// platform: pointers (by-reference arguments among them), and integers no wider than one.
bool FitsOneWord(VARTYPE vt) {
  if (vt & VT_BYREF) return true;
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return true;
    default:
      return false;
  }
}

using Word = std::uintptr_t;
using AnyMethod = void(STDMETHODCALLTYPE*)();
template <class... Words>
using Method = HRESULT(STDMETHODCALLTYPE*)(void*, Words...);

HRESULT CallWords(AnyMethod f, void* self, const Word* w, size_t n) {
  switch (n) {
    case 0:
      return reinterpret_cast<Method<>>(f)(self);
    case 1:
      return reinterpret_cast<Method<Word>>(f)(self, w[0]);
    case 2:
      return reinterpret_cast<Method<Word, Word>>(f)(self, w[0], w[1]);
    case 3:
      return reinterpret_cast<Method<Word, Word, Word>>(f)(self, w[0], w[1], w[2]);
    case 4:
      return reinterpret_cast<Method<Word, Word, Word, Word>>(f)(self, w[0], w[1], w[2], w[3]);
    default:
      return reinterpret_cast<Method<Word, Word, Word, Word, Word>>(f)(self, w[0], w[1], w[2], w[3], w[4]);
  }
}

// The vtable call made here when every argument is one word and there are few: the same
// call DispCallFunc makes, without the heap block it takes for it. False when it does not apply.
bool CallDirect(void* self, const MemberInfo& m, CallFrame& frame, HRESULT& memberHr) {
  constexpr size_t kMostWords = kInlineParams + 1;
  const size_t n = frame.types.size();
  if (n > kMostWords || m.callConv != CC_STDCALL) return false;
  Word words[kMostWords] = {};
  for (size_t i = 0; i < n; ++i) {
    if (!FitsOneWord(frame.types[i])) return false;
    // Every one-word kind sits at the start of the value union, little end first.
    std::memcpy(&words[i], &frame.args[i]->llVal, sizeof(Word));
  }
  const auto* vtable = *static_cast<const unsigned char* const*>(self);
  AnyMethod f;
  std::memcpy(&f, vtable + (m.vtableOffset & 0xFFFC), sizeof(f));
  memberHr = CallWords(f, self, words, n);
  return true;
}

// The vtable call; memberHr is what the member itself returned.
HRESULT CallMember(void* self, const MemberInfo& m, CallFrame& frame, HRESULT& memberHr) {
  if (CallDirect(self, m, frame, memberHr)) return S_OK;
  VARIANT status;
  VariantInit(&status);
  const HRESULT hr =
      DispCallFunc(self, m.vtableOffset & 0xFFFC, m.callConv, VT_ERROR, static_cast<UINT>(frame.types.size()),
                   frame.types.data(), frame.args.data(), &status);
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

// InvokeMember once the member is known.
HRESULT InvokeFound(void* self, const MemberInfo& m, LCID lcid, DISPPARAMS& params, VARIANT* result,
                    EXCEPINFO* excepInfo, UINT* argErr) {
  CallFrame frame(m);
  HRESULT hr = MapArguments(m, params, frame.from, argErr);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = PrepareArguments(m, params, lcid, frame, argErr))) return hr;
  PrepareResult(m, frame);
  HRESULT memberHr = S_OK;
  if (FAILED(hr = CallMember(self, m, frame, memberHr))) return hr;
  WriteBack(frame, lcid);
  if (FAILED(memberHr)) {
    FillExcepInfo(excepInfo, memberHr);
    return DISP_E_EXCEPTION;
  }
  HandOverResult(frame, result);
  return S_OK;
}

}  // namespace

HRESULT InvokeMember(void* self, const InterfaceInfo& info, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (!params) params = &none;
  if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
      (params->cNamedArgs && !params->rgdispidNamedArgs))
    return DISP_E_BADPARAMCOUNT;
  const MemberInfo* m = FindMember(info, id, flags);
  if (!m) return DISP_E_MEMBERNOTFOUND;
  return InvokeFound(self, *m, lcid, *params, result, excepInfo, argErr);
}

}  // namespace vx380::com
