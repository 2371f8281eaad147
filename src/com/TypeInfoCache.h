// The embedded type library, loaded once from this DLL's own file (so the objects
// work unregistered too), and per interface a table of its members as the
// dispatch layer needs them: dispatch id, kind, vtable slot, parameter types.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ComSupport.h"

namespace vx380::com {

struct ParamInfo {
  VARTYPE vt = VT_EMPTY;  // value type: enums read as VT_I4, interface pointers as VT_DISPATCH/VT_UNKNOWN
  bool byRef = false;
  bool optional = false;
  std::shared_ptr<Var> defaultValue;  // set when the library gives one
};

struct MemberInfo {
  MEMBERID id = 0;
  INVOKEKIND kind = INVOKE_FUNC;
  SHORT vtableOffset = 0;  // byte offset of the vtable slot
  CALLCONV callConv = CC_STDCALL;
  std::vector<ParamInfo> params;  // without the [retval]
  VARTYPE resultVt = VT_EMPTY;   // type of the [retval], VT_EMPTY when none
};

class InterfaceInfo {
 public:
  InterfaceInfo(ComPtr<ITypeInfo> dispatchInfo, std::vector<MemberInfo> members);
  // The dispatch id of a member name, any case; false when the interface has no such member.
  // Script engines look a name up at every call, so this must not walk the type library.
  bool FindMember(const wchar_t* name, MEMBERID* id) const;
  // What IDispatch::GetTypeInfo hands out (the dispatch view of the dual interface).
  ITypeInfo* dispatchInfo() const { return dispatchInfo_.get(); }
  const std::vector<MemberInfo>& members() const { return members_; }

 private:
  ComPtr<ITypeInfo> dispatchInfo_;
  std::vector<MemberInfo> members_;
  std::vector<std::pair<std::wstring, MEMBERID>> lowerCaseNames_;
};

// Cached for the life of the DLL; nullptr with *hr set when the library cannot be read.
const InterfaceInfo* GetInterfaceInfo(REFIID iid, HRESULT* hr);
// The coclass type info, for IProvideClassInfo.
HRESULT GetClassTypeInfo(REFCLSID clsid, ITypeInfo** out);
// The library itself (new reference), loaded from this DLL without registering it.
HRESULT LoadOwnTypeLib(ITypeLib** out);
// Drops the cache; called when the DLL is unloaded by FreeLibrary.
void ReleaseTypeInfoCache();

}  // namespace vx380::com
