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
  VARTYPE resultVt = VT_EMPTY;    // type of the [retval], VT_EMPTY when none
  bool anyByRef = false;          // some parameter is passed by reference
};

// The members that share one dispatch id, one per kind (null when there is none of it).
struct DispatchEntry {
  MEMBERID id = 0;
  const MemberInfo* func = nullptr;
  const MemberInfo* get = nullptr;
  const MemberInfo* put = nullptr;
  const MemberInfo* putRef = nullptr;
};

class InterfaceInfo {
 public:
  InterfaceInfo(ComPtr<ITypeInfo> dispatchInfo, std::vector<MemberInfo> members);
  // The index points into the member table.
  InterfaceInfo(const InterfaceInfo&) = delete;
  InterfaceInfo& operator=(const InterfaceInfo&) = delete;
  // The dispatch id of a member name, any case; false when the interface has no such member.
  // Script engines look a name up at every call, so this must not walk the type library.
  bool FindMember(const wchar_t* name, MEMBERID* id) const;
  // What IDispatch::GetTypeInfo hands out (the dispatch view of the dual interface).
  ITypeInfo* dispatchInfo() const { return dispatchInfo_.get(); }
  const std::vector<MemberInfo>& members() const { return members_; }
  // The members with dispatch id id, null when there are none. Invoke asks at every call:
  // a binary search over the ids.
  const DispatchEntry* MembersOf(MEMBERID id) const;

 private:
  void IndexMembers();

  ComPtr<ITypeInfo> dispatchInfo_;
  std::vector<MemberInfo> members_;
  std::vector<DispatchEntry> byId_;  // sorted by id
  std::vector<std::pair<std::wstring, MEMBERID>> lowerCaseNames_;
};

// Cached for the life of the DLL; nullptr with *hr set when the library cannot be read.
// Once built, an interface's table is found without taking a lock.
const InterfaceInfo* GetInterfaceInfo(REFIID iid, HRESULT* hr);
// The coclass type info, for IProvideClassInfo.
HRESULT GetClassTypeInfo(REFCLSID clsid, ITypeInfo** out);
// The library itself (new reference), loaded from this DLL without registering it.
HRESULT LoadOwnTypeLib(ITypeLib** out);
// Drops the cache; called when the DLL is unloaded by FreeLibrary.
void ReleaseTypeInfoCache();

}  // namespace vx380::com
