// Test helpers: debug capture, variant builders, late-bound calls and fake host objects.
#include "ComTestSupport.h"

#include <algorithm>
#include <cstring>

namespace comtest {

ComPtr<_ErrorLog> NewErrorLog() {
  ComPtr<_ErrorLog> p;
  CoCreateInstance(CLSID_ErrorLog, nullptr, CLSCTX_INPROC_SERVER, IID__ErrorLog, reinterpret_cast<void**>(p.Put()));
  return p;
}

ComPtr<_CErrorStatus> NewErrorStatus() {
  ComPtr<_CErrorStatus> p;
  CoCreateInstance(CLSID_CErrorStatus, nullptr, CLSCTX_INPROC_SERVER, IID__CErrorStatus,
                   reinterpret_cast<void**>(p.Put()));
  return p;
}

// ---------------------------------------------------------------- debug capture

namespace {
constexpr char kSync[] = "\x01vx380-sync ";
}

DebugCapture::DebugCapture() {
  bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
  dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  taken = taken || GetLastError() == ERROR_ALREADY_EXISTS;
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
  if (!bufferReady_ || !dataReady_ || !mapping_ || taken) return;
  view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
  if (!view_) return;
  ok_ = true;
  thread_ = std::thread([this] { Run(); });
}

DebugCapture::~DebugCapture() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (view_) UnmapViewOfFile(view_);
  for (HANDLE h : {mapping_, dataReady_, bufferReady_})
    if (h) CloseHandle(h);
}

void DebugCapture::Run() {
  SetEvent(bufferReady_);
  while (!stop_) {
    if (WaitForSingleObject(dataReady_, 50) != WAIT_OBJECT_0) continue;
    std::string text(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), 4096 - sizeof(DWORD)));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(std::move(text));
    }
    SetEvent(bufferReady_);
  }
}

std::vector<std::string> DebugCapture::Lines() {
  // Messages are serialised by the channel: once our marker is in, everything sent before is too.
  std::string marker = kSync + std::to_string(++syncCount_);
  OutputDebugStringA(marker.c_str());
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = std::find(lines_.begin(), lines_.end(), marker);
      if (it != lines_.end()) {
        std::vector<std::string> out;
        for (auto& l : lines_)
          if (l.rfind(kSync, 0) != 0) out.push_back(l);
        return out;
      }
    }
    Sleep(10);
  }
  return {"<debug capture timed out>"};
}

void DebugCapture::Clear() {
  Lines();
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

// ---------------------------------------------------------------- variants and calls

VARIANT Str(const wchar_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = s ? SysAllocString(s) : nullptr;
  return v;
}
VARIANT Long(LONG l) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = l;
  return v;
}
VARIANT Short(SHORT s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = s;
  return v;
}
VARIANT Bool(bool b) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT Double(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}
VARIANT Object(IDispatch* d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = d;
  if (d) d->AddRef();
  return v;
}
VARIANT Missing() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}
VARIANT RefTo(VARIANT* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = target;
  return v;
}
VARIANT RefTo(BSTR* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = target;
  return v;
}
VARIANT RefTo(LONG* target) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_I4;
  v.plVal = target;
  return v;
}

CallResult::~CallResult() {
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
}

void Invoke(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, CallResult& out,
            std::vector<DISPID> namedIds) {
  std::reverse(args.begin(), args.end());  // rgvarg runs right to left
  // Named arguments come first in rgvarg, in the order of their ids.
  std::vector<VARIANT> ordered;
  const size_t named = namedIds.size();
  for (size_t i = 0; i < named; ++i) ordered.push_back(args[named - 1 - i]);
  for (size_t i = named; i < args.size(); ++i) ordered.push_back(args[i]);
  DISPPARAMS params = {ordered.empty() ? nullptr : ordered.data(), namedIds.empty() ? nullptr : namedIds.data(),
                       static_cast<UINT>(ordered.size()), static_cast<UINT>(named)};
  out.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, out.value.get(), &out.excep, &out.argErr);
  for (VARIANT& v : ordered)
    if (!(v.vt & VT_BYREF)) VariantClear(&v);
}

DISPID IdOf(IDispatch* d, const wchar_t* name) {
  std::wstring copy = name;
  LPOLESTR names[] = {copy.data()};
  DISPID id = DISPID_UNKNOWN;
  d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return id;
}

// ---------------------------------------------------------------- fake host objects

ComPtr<FakeObject> FakeObject::Make() { return ComPtr<FakeObject>::Attach(new FakeObject()); }

FakeObject::~FakeObject() = default;

FakeObject& FakeObject::On(const wchar_t* name, DISPID id, Handler handler) {
  members_.push_back({name, id, std::move(handler)});
  return *this;
}

FakeObject& FakeObject::Property(const wchar_t* name, DISPID id, const VARIANT& value) {
  auto held = std::make_shared<Var>();
  VariantCopy(held->get(), const_cast<VARIANT*>(&value));
  return On(name, id, [held](WORD, DISPPARAMS* p, VARIANT* result, EXCEPINFO*) -> HRESULT {
    if (p && p->cArgs) return DISP_E_BADPARAMCOUNT;
    return result ? VariantCopy(result, held->get()) : S_OK;
  });
}

FakeObject& FakeObject::WithTypeInfo(ITypeInfo* info) {
  typeInfo_ = ComPtr<ITypeInfo>(info);
  return *this;
}

STDMETHODIMP FakeObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
  *out = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) FakeObject::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP FakeObject::GetTypeInfoCount(UINT* count) {
  *count = typeInfo_ ? 1 : 0;
  return S_OK;
}

STDMETHODIMP FakeObject::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  *out = nullptr;
  if (!typeInfo_ || index != 0) return DISP_E_BADINDEX;
  *out = typeInfo_.get();
  (*out)->AddRef();
  return S_OK;
}

STDMETHODIMP FakeObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (const Member& m : members_)
      if (_wcsicmp(m.name.c_str(), names[i]) == 0) ids[i] = m.id;
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

STDMETHODIMP FakeObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* excep, UINT*) {
  for (const Member& m : members_) {
    if (m.id != id) continue;
    calls_.push_back(m.name);
    if (result) VariantInit(result);
    return m.handler(flags, params, result, excep);
  }
  return DISP_E_MEMBERNOTFOUND;
}

namespace {

class FakeEnum final : public IEnumVARIANT {
 public:
  explicit FakeEnum(std::vector<ComPtr<IDispatch>> items) : items_(std::move(items)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumVARIANT)) return E_NOINTERFACE;
    *out = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    ULONG n = 0;
    while (n < wanted && next_ < items_.size()) out[n++] = Object(items_[next_++].get());
    if (fetched) *fetched = n;
    return n == wanted ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG n) override {
    next_ = std::min<size_t>(items_.size(), next_ + n);
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::vector<ComPtr<IDispatch>> items_;
  size_t next_ = 0;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

ComPtr<FakeObject> MakeCollection(std::vector<IDispatch*> items) {
  std::vector<ComPtr<IDispatch>> held;
  for (IDispatch* d : items) held.emplace_back(d);
  auto c = FakeObject::Make();
  c->On(L"_NewEnum", DISPID_NEWENUM, [held](WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*) -> HRESULT {
    if (!result) return E_INVALIDARG;
    result->vt = VT_UNKNOWN;
    result->punkVal = new FakeEnum(held);
    return S_OK;
  });
  return c;
}

FakeObject::Handler Raises(HRESULT scode, const wchar_t* source, const wchar_t* description) {
  std::wstring s = source, d = description;
  return [scode, s, d](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO* excep) -> HRESULT {
    if (excep) {
      std::memset(excep, 0, sizeof(*excep));
      excep->scode = scode;
      excep->bstrSource = SysAllocString(s.c_str());
      excep->bstrDescription = SysAllocString(d.c_str());
    }
    return DISP_E_EXCEPTION;
  };
}

}  // namespace comtest
