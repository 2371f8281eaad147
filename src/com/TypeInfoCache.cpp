// Loads the embedded type library once and derives per-interface member tables.
#include "TypeInfoCache.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cwctype>
#include <map>
#include <mutex>

#include "Module.h"

namespace vx380::com {
namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

std::mutex g_mutex;
ITypeLib* g_typeLib = nullptr;  // owned; released by ReleaseTypeInfoCache
std::map<GUID, std::unique_ptr<InterfaceInfo>, GuidLess>* g_interfaces = nullptr;

// The tables built so far, read without the lock (every Invoke asks): an entry is written
// before the count that shows it, and stays until the DLL is unloaded.
struct Published {
  GUID iid;
  const InterfaceInfo* info;
};
constexpr size_t kPublishedMax = 8;
Published g_published[kPublishedMax];
std::atomic<size_t> g_publishedCount{0};

const InterfaceInfo* FindPublished(REFIID iid) {
  const size_t n = g_publishedCount.load(std::memory_order_acquire);
  for (size_t i = 0; i < n; ++i) {
    if (IsEqualGUID(g_published[i].iid, iid)) return g_published[i].info;
  }
  return nullptr;
}

// Under g_mutex. Beyond the table's room an interface is still found, under the lock.
void PublishLocked(REFIID iid, const InterfaceInfo* info) {
  const size_t n = g_publishedCount.load(std::memory_order_relaxed);
  if (n == kPublishedMax) return;
  g_published[n] = {iid, info};
  g_publishedCount.store(n + 1, std::memory_order_release);
}

HRESULT TypeLibLocked(ITypeLib** out) {
  if (!g_typeLib) {
    std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &g_typeLib);
    if (FAILED(hr)) {
      g_typeLib = nullptr;
      return hr;
    }
  }
  *out = g_typeLib;
  return S_OK;
}

// Type of a value as the dispatch layer handles it: enumerations are 32-bit
// integers, aliases are what they name, interface pointers are objects.
VARTYPE ValueType(ITypeInfo* owner, const TYPEDESC& td);

bool IsInterfacePointer(ITypeInfo* owner, const TYPEDESC& td, VARTYPE* objectVt) {
  if (td.vt != VT_PTR || td.lptdesc->vt != VT_USERDEFINED) return false;
  ComPtr<ITypeInfo> ref;
  if (FAILED(owner->GetRefTypeInfo(td.lptdesc->hreftype, ref.Put()))) return false;
  TYPEATTR* attr = nullptr;
  if (FAILED(ref->GetTypeAttr(&attr))) return false;
  bool isInterface = attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH;
  bool isUnknown = IsEqualGUID(attr->guid, IID_IUnknown);
  ref->ReleaseTypeAttr(attr);
  if (isInterface) *objectVt = isUnknown ? VT_UNKNOWN : VT_DISPATCH;
  return isInterface;
}

VARTYPE ValueType(ITypeInfo* owner, const TYPEDESC& td) {
  VARTYPE objectVt;
  if (IsInterfacePointer(owner, td, &objectVt)) return objectVt;
  if (td.vt != VT_USERDEFINED) return td.vt;
  ComPtr<ITypeInfo> ref;
  if (FAILED(owner->GetRefTypeInfo(td.hreftype, ref.Put()))) return VT_EMPTY;
  TYPEATTR* attr = nullptr;
  if (FAILED(ref->GetTypeAttr(&attr))) return VT_EMPTY;
  VARTYPE vt = VT_EMPTY;
  switch (attr->typekind) {
    case TKIND_ENUM:
      vt = VT_I4;
      break;
    case TKIND_ALIAS:
      vt = ValueType(ref.get(), attr->tdescAlias);
      break;
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
      vt = IsEqualGUID(attr->guid, IID_IUnknown) ? VT_UNKNOWN : VT_DISPATCH;
      break;
    default:
      break;
  }
  ref->ReleaseTypeAttr(attr);
  return vt;
}

ParamInfo DescribeParam(ITypeInfo* owner, const ELEMDESC& e) {
  ParamInfo p;
  const TYPEDESC& td = e.tdesc;
  VARTYPE objectVt;
  if (td.vt == VT_PTR && !IsInterfacePointer(owner, td, &objectVt)) {
    p.byRef = true;
    p.vt = ValueType(owner, *td.lptdesc);
  } else {
    p.vt = ValueType(owner, td);
  }
  USHORT flags = e.paramdesc.wParamFlags;
  p.optional = (flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0;
  if ((flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
    p.defaultValue = std::make_shared<Var>();
    VariantCopy(p.defaultValue->get(), &e.paramdesc.pparamdescex->varDefaultValue);
  }
  return p;
}

std::wstring LowerCase(const wchar_t* text) {
  std::wstring lower(text);
  for (auto& c : lower) c = static_cast<wchar_t>(::towlower(c));
  return lower;
}

struct FuncDescRelease {
  ITypeInfo* owner;
  void operator()(FUNCDESC* fd) const { owner->ReleaseFuncDesc(fd); }
};

// Describes member number index of a vtable interface. Allocation failures throw; the type
// info gets its description back either way.
HRESULT DescribeMember(ITypeInfo* vtableInfo, UINT index, MemberInfo* m) {
  FUNCDESC* fd = nullptr;
  HRESULT hr = vtableInfo->GetFuncDesc(index, &fd);
  if (FAILED(hr)) return hr;
  const std::unique_ptr<FUNCDESC, FuncDescRelease> owned(fd, FuncDescRelease{vtableInfo});
  m->id = fd->memid;
  m->kind = fd->invkind;
  m->vtableOffset = fd->oVft;
  m->callConv = fd->callconv;
  for (SHORT k = 0; k < fd->cParams; ++k) {
    const ELEMDESC& e = fd->lprgelemdescParam[k];
    if (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
      m->resultVt = e.tdesc.vt == VT_PTR ? ValueType(vtableInfo, *e.tdesc.lptdesc) : VARTYPE{VT_EMPTY};
    } else {
      m->params.push_back(DescribeParam(vtableInfo, e));
      m->anyByRef = m->anyByRef || m->params.back().byRef;
    }
  }
  return S_OK;
}

HRESULT BuildInterfaceInfo(ITypeLib* lib, REFIID iid, std::unique_ptr<InterfaceInfo>* out) {
  ComPtr<ITypeInfo> info;
  HRESULT hr = lib->GetTypeInfoOfGuid(iid, info.Put());
  if (FAILED(hr)) return hr;
  // A dual interface has two views: the dispatch one for clients, the vtable one for calls.
  ComPtr<ITypeInfo> dispatchInfo = info, vtableInfo = info;
  TYPEATTR* attr = nullptr;
  if (FAILED(hr = info->GetTypeAttr(&attr))) return hr;
  TYPEKIND kind = attr->typekind;
  info->ReleaseTypeAttr(attr);
  HREFTYPE other;
  if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &other))) {
    ComPtr<ITypeInfo> otherInfo;
    if (SUCCEEDED(info->GetRefTypeInfo(other, otherInfo.Put()))) {
      if (kind == TKIND_DISPATCH) {
        vtableInfo = otherInfo;
      } else {
        dispatchInfo = otherInfo;
      }
    }
  }
  if (FAILED(hr = vtableInfo->GetTypeAttr(&attr))) return hr;
  UINT count = attr->cFuncs;
  bool isVtable = attr->typekind == TKIND_INTERFACE;
  vtableInfo->ReleaseTypeAttr(attr);
  if (!isVtable) return TYPE_E_ELEMENTNOTFOUND;

  std::vector<MemberInfo> members;
  for (UINT i = 0; i < count; ++i) {
    members.emplace_back();
    if (FAILED(hr = DescribeMember(vtableInfo.get(), i, &members.back()))) return hr;
  }
  *out = std::make_unique<InterfaceInfo>(dispatchInfo, std::move(members));
  return S_OK;
}

}  // namespace

HRESULT LoadOwnTypeLib(ITypeLib** out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  HRESULT hr = TypeLibLocked(out);
  if (SUCCEEDED(hr)) (*out)->AddRef();
  return hr;
}

const InterfaceInfo* GetInterfaceInfo(REFIID iid, HRESULT* hr) {
  if (const InterfaceInfo* published = FindPublished(iid)) return published;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_interfaces) g_interfaces = new std::map<GUID, std::unique_ptr<InterfaceInfo>, GuidLess>();
  auto it = g_interfaces->find(iid);
  if (it != g_interfaces->end()) return it->second.get();
  ITypeLib* lib = nullptr;
  *hr = TypeLibLocked(&lib);
  if (FAILED(*hr)) return nullptr;
  std::unique_ptr<InterfaceInfo> built;
  *hr = BuildInterfaceInfo(lib, iid, &built);
  if (FAILED(*hr)) return nullptr;
  auto& slot = (*g_interfaces)[iid];
  slot = std::move(built);
  PublishLocked(iid, slot.get());
  return slot.get();
}

HRESULT GetClassTypeInfo(REFCLSID clsid, ITypeInfo** out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ITypeLib* lib = nullptr;
  HRESULT hr = TypeLibLocked(&lib);
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(clsid, out);
}

void ReleaseTypeInfoCache() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_publishedCount.store(0, std::memory_order_release);
  delete g_interfaces;
  g_interfaces = nullptr;
  if (g_typeLib) g_typeLib->Release();
  g_typeLib = nullptr;
}

InterfaceInfo::InterfaceInfo(ComPtr<ITypeInfo> dispatchInfo, std::vector<MemberInfo> members)
    : dispatchInfo_(std::move(dispatchInfo)), members_(std::move(members)) {
  for (const MemberInfo& m : members_) {
    Bstr name;
    UINT got = 0;
    if (FAILED(dispatchInfo_->GetNames(m.id, name.Put(), 1, &got)) || got == 0 || !name.get()) continue;
    bool known = false;
    for (const auto& entry : lowerCaseNames_) known = known || entry.second == m.id;
    if (!known) lowerCaseNames_.emplace_back(LowerCase(name.get()), m.id);
  }
  IndexMembers();
}

void InterfaceInfo::IndexMembers() {
  for (const MemberInfo& m : members_) {
    auto at = std::lower_bound(byId_.begin(), byId_.end(), m.id,
                               [](const DispatchEntry& e, MEMBERID id) { return e.id < id; });
    if (at == byId_.end() || at->id != m.id) {
      at = byId_.insert(at, DispatchEntry{});
      at->id = m.id;
    }
    switch (m.kind) {  // a later member of the same id and kind wins
      case INVOKE_FUNC:
        at->func = &m;
        break;
      case INVOKE_PROPERTYGET:
        at->get = &m;
        break;
      case INVOKE_PROPERTYPUT:
        at->put = &m;
        break;
      case INVOKE_PROPERTYPUTREF:
        at->putRef = &m;
        break;
    }
  }
}

const DispatchEntry* InterfaceInfo::MembersOf(MEMBERID id) const {
  auto at =
      std::lower_bound(byId_.begin(), byId_.end(), id, [](const DispatchEntry& e, MEMBERID key) { return e.id < key; });
  return at != byId_.end() && at->id == id ? &*at : nullptr;
}

bool InterfaceInfo::FindMember(const wchar_t* name, MEMBERID* id) const {
  // Compared as lower case character by character: a script looks a name up at every call.
  const size_t length = std::wcslen(name);
  for (const auto& [candidate, memberId] : lowerCaseNames_) {
    if (candidate.size() != length) continue;
    size_t i = 0;
    while (i < length && static_cast<wchar_t>(::towlower(name[i])) == candidate[i]) ++i;
    if (i == length) {
      *id = memberId;
      return true;
    }
  }
  return false;
}

}  // namespace vx380::com
