// The common part of every creatable object: reference counting, QueryInterface,
// IDispatch from the type library, ISupportErrorInfo and IProvideClassInfo.
// A derived class adds only the members of its dual interface.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include <atomic>

#include "DispatchInvoke.h"
#include "EntryPoint.h"
#include "ErrorInfo.h"
#include "TypeInfoCache.h"

namespace vx380::com {

template <class Iface, const IID& Iid, const CLSID& Clsid>
class AutomationObject : public Iface, public ISupportErrorInfo, public IProvideClassInfo {
 public:
  AutomationObject() = default;
  virtual ~AutomationObject() = default;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, Iid)) {
      *out = static_cast<Iface*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
      *out = static_cast<IProvideClassInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    // The end of an object is a member call of its own: it may touch the thread's error object.
    if (left == 0) RunMember(Iid, [this] { delete this; });
    return left;
  }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return CatchReturn([&] {
      HRESULT hr = S_OK;
      const InterfaceInfo* info = GetInterfaceInfo(Iid, &hr);
      if (!info) return hr;
      *out = info->dispatchInfo();
      (*out)->AddRef();
      return S_OK;
    });
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (!names || !ids) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) {
      if (!names[i]) {
        for (UINT k = 0; k < count; ++k) ids[k] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
      }
    }
    return CatchReturn([&] {
      HRESULT hr = S_OK;
      const InterfaceInfo* info = GetInterfaceInfo(Iid, &hr);
      if (!info) return hr;
      // A member name alone (no named arguments) is answered from the interface's own table.
      if (count == 1 && info->FindMember(names[0], ids)) return S_OK;
      return info->dispatchInfo()->GetIDsOfNames(names, count, ids);
    });
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excepInfo, UINT* argErr) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    // Held across the call: a member may release the caller's last other reference.
    ComPtr<Iface> keepAlive(static_cast<Iface*>(this));
    return CatchReturn([&] {
      HRESULT hr = S_OK;
      const InterfaceInfo* info = GetInterfaceInfo(Iid, &hr);
      if (!info) return hr;
      return InvokeMember(static_cast<Iface*>(this), *info, id, lcid, flags, params, result, excepInfo, argErr);
    });
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, Iid) || IsEqualIID(riid, IID_IDispatch) ? S_OK : S_FALSE;
  }

  // IProvideClassInfo
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return CatchReturn([&] { return GetClassTypeInfo(Clsid, out); });
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// Creates T (reference count 1) and hands out the interface asked for.
template <class T>
HRESULT CreateAutomationObject(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return CatchReturn([&] {
    T* object = new T();
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  });
}

}  // namespace vx380::com
