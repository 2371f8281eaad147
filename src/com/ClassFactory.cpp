// One factory object per DllGetClassObject. LockServer has nothing to do: the server never
// unloads.
#include "ClassFactory.h"

#include <atomic>

#include "CErrorStatusObject.h"
#include "EntryPoint.h"
#include "ErrorLogObject.h"

namespace vx380::com {
namespace {

using Creator = HRESULT (*)(REFIID, void**);

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(Creator create) : create_(create) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CatchReturn([&] { return create_(riid, out); });
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  Creator create_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  Creator create = nullptr;
  if (IsEqualCLSID(clsid, CLSID_ErrorLog)) {
    create = &CreateAutomationObject<ErrorLogObject>;
  } else if (IsEqualCLSID(clsid, CLSID_CErrorStatus)) {
    create = &CreateAutomationObject<CErrorStatusObject>;
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  ClassFactory* factory = new (std::nothrow) ClassFactory(create);
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, out);
  factory->Release();
  return hr;
}

}  // namespace vx380::com
