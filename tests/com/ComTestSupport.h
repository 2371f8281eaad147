// Helpers for the COM client tests: an apartment per test, an in-process debug-output
// capture, scriptable host objects (IDispatch / IEnumVARIANT fakes) and late-bound calls.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ComSupport.h"
#include "VX380ErrorLogging.h"

namespace comtest {

using vx380::com::Bstr;
using vx380::com::ComPtr;
using vx380::com::Var;

// CoInitializeEx(APARTMENTTHREADED) for the life of the object.
class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

ComPtr<_ErrorLog> NewErrorLog();
ComPtr<_CErrorStatus> NewErrorStatus();

// Listens on the debug-output channel (DBWIN protocol) of this session, as a
// debug-output viewer does; Lines() returns every message sent so far, each as sent.
class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  bool ok() const { return ok_; }
  std::vector<std::string> Lines();
  void Clear();

 private:
  void Run();
  bool ok_ = false;
  HANDLE bufferReady_ = nullptr, dataReady_ = nullptr, mapping_ = nullptr;
  const char* view_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> lines_;
  unsigned syncCount_ = 0;
};

// Variant builders; the caller owns what they return.
VARIANT Str(const wchar_t* s);
VARIANT Long(LONG l);
VARIANT Short(SHORT s);
VARIANT Bool(bool b);
VARIANT Double(double d);
VARIANT Object(IDispatch* d);  // adds a reference
VARIANT Missing();
VARIANT RefTo(VARIANT* v);  // VT_BYREF|VT_VARIANT
VARIANT RefTo(BSTR* b);     // VT_BYREF|VT_BSTR
VARIANT RefTo(LONG* l);     // VT_BYREF|VT_I4

// A late-bound call: args in natural (left-to-right) order, named ones last with their ids.
struct CallResult {
  HRESULT hr = S_OK;
  Var value;
  EXCEPINFO excep{};
  UINT argErr = 0xFFFFFFFF;
  ~CallResult();
};
void Invoke(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, CallResult& out,
            std::vector<DISPID> namedIds = {});
DISPID IdOf(IDispatch* d, const wchar_t* name);

// A host object with members made up by the test. Unknown names and ids fail as a real
// object's would (DISP_E_UNKNOWNNAME, DISP_E_MEMBERNOTFOUND).
class FakeObject final : public IDispatch {
 public:
  using Handler = std::function<HRESULT(WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep)>;
  static ComPtr<FakeObject> Make();

  FakeObject& On(const wchar_t* name, DISPID id, Handler handler);
  // A property that returns a copy of value.
  FakeObject& Property(const wchar_t* name, DISPID id, const VARIANT& value);
  FakeObject& WithTypeInfo(ITypeInfo* info);
  const std::vector<std::wstring>& calls() const { return calls_; }
  ULONG refs() const { return refs_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                      UINT* argErr) override;

 private:
  FakeObject() = default;
  ~FakeObject();
  struct Member {
    std::wstring name;
    DISPID id;
    Handler handler;
  };
  std::vector<Member> members_;
  std::vector<std::wstring> calls_;
  ComPtr<ITypeInfo> typeInfo_;
  std::atomic<ULONG> refs_{1};
};

// A collection object: its _NewEnum (DISPID_NEWENUM) yields the given items.
ComPtr<FakeObject> MakeCollection(std::vector<IDispatch*> items);

// A handler that fails the way a host object raises: DISP_E_EXCEPTION with its own error.
FakeObject::Handler Raises(HRESULT scode, const wchar_t* source, const wchar_t* description);

}  // namespace comtest
