// The type library as clients bind to it: registered and embedded copies, the
// library's identity, both interfaces member by member, the enumerations, the classes.
#include <gtest/gtest.h>

#include <map>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

struct FuncView {
  std::wstring name;
  MEMBERID id;
  INVOKEKIND kind;
  WORD flags;
  std::wstring help;
  std::vector<std::wstring> params;
  std::vector<USHORT> paramFlags;
  std::vector<VARTYPE> paramVts;  // VT_PTR marks ByRef
  std::map<size_t, LONG> defaults;
};

std::vector<FuncView> Functions(ITypeInfo* info) {
  std::vector<FuncView> out;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return out;
  UINT count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(i, &fd))) continue;
    FuncView f{};
    f.id = fd->memid;
    f.kind = fd->invkind;
    f.flags = fd->wFuncFlags;
    BSTR names[16] = {};
    UINT got = 0;
    info->GetNames(fd->memid, names, 16, &got);
    Bstr name, help;
    info->GetDocumentation(fd->memid, name.Put(), help.Put(), nullptr, nullptr);
    f.name = name.get() ? name.get() : L"";
    f.help = help.get() ? help.get() : L"";
    for (UINT k = 1; k < got; ++k) f.params.push_back(names[k]);
    for (UINT k = 0; k < got; ++k) SysFreeString(names[k]);
    for (SHORT k = 0; k < fd->cParams; ++k) {
      const ELEMDESC& e = fd->lprgelemdescParam[k];
      f.paramFlags.push_back(e.paramdesc.wParamFlags);
      f.paramVts.push_back(e.tdesc.vt);
      if ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
        Var v;
        if (SUCCEEDED(VariantChangeType(v.get(), &e.paramdesc.pparamdescex->varDefaultValue, 0, VT_I4)))
          f.defaults[k] = v->lVal;
      }
    }
    info->ReleaseFuncDesc(fd);
    out.push_back(std::move(f));
  }
  return out;
}

ComPtr<ITypeInfo> VtableView(ITypeLib* lib, REFIID iid) {
  ComPtr<ITypeInfo> info, other;
  lib->GetTypeInfoOfGuid(iid, info.Put());
  HREFTYPE ref;
  if (info && SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref))) info->GetRefTypeInfo(ref, other.Put());
  return other ? other : info;
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(LIBID_VX380ErrorLogging, 1, 0, 0x409, lib.Put())); }
  Apartment apartment;
  ComPtr<ITypeLib> lib;
};

}  // namespace

TEST_F(TypeLibrary, RegisteredLibraryIsTheEmbeddedOne) {
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&attr));
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  EXPECT_EQ(0x409u, attr->lcid);
  EXPECT_TRUE(IsEqualGUID(LIBID_VX380ErrorLogging, attr->guid));
  lib->ReleaseTLibAttr(attr);
  Bstr name, help;
  ASSERT_HRESULT_SUCCEEDED(lib->GetDocumentation(-1, name.Put(), help.Put(), nullptr, nullptr));
  EXPECT_STREQ(L"VX380ErrorLogging", name.get());
  EXPECT_STREQ(L"VX380 Error Logging", help.get());

  // The DLL's own resource gives the same library without the registry.
  Bstr path;
  ASSERT_HRESULT_SUCCEEDED(QueryPathOfRegTypeLib(LIBID_VX380ErrorLogging, 1, 0, 0x409, path.Put()));
  ComPtr<ITypeLib> embedded;
  ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(path.get(), REGKIND_NONE, embedded.Put()));
  EXPECT_NE(nullptr, wcsstr(path.get(), L"VX380ErrorLog.dll"));
  UINT count = embedded->GetTypeInfoCount();
  EXPECT_EQ(lib->GetTypeInfoCount(), count);
  EXPECT_EQ(6u, count);  // two enumerations, two interfaces, two classes
}

TEST_F(TypeLibrary, ErrorLogInterfaceHasEveryMemberInOrder) {
  ComPtr<ITypeInfo> info = VtableView(lib.get(), IID__ErrorLog);
  ASSERT_TRUE(info);
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
  WORD flags = attr->wTypeFlags;
  info->ReleaseTypeAttr(attr);
  EXPECT_TRUE(flags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(flags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(flags & TYPEFLAG_FNONEXTENSIBLE);
  EXPECT_TRUE(flags & TYPEFLAG_FOLEAUTOMATION);

  struct Expected {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    const wchar_t* help;
  };
  const Expected expected[] = {
      {L"Main", 0x60030003, INVOKE_FUNC, L""},
      {L"Initialize", 0x60030004, INVOKE_FUNC, L"Initializes error reporting for the Application."},
      {L"LogError", 0x60030005, INVOKE_FUNC, L"Logs an error to the user, the log file, or both."},
      {L"RBDEBUGLOG", 0x60030006, INVOKE_FUNC, L""},
      {L"RBDEBUGMESSAGE", 0x60030007, INVOKE_FUNC, L""},
      {L"RBDEBUGMATRIX", 0x60030008, INVOKE_FUNC, L""},
      {L"DescribeAttributes", 0x60030009, INVOKE_FUNC, L""},
      {L"RBDEBUGWRITE", 0x6003000A, INVOKE_FUNC, L""},
      {L"RBDEBUGENTER", 0x6003000B, INVOKE_FUNC, L""},
      {L"RBDEBUGEXIT", 0x6003000C, INVOKE_FUNC, L""},
      {L"RBDEBUGMODULE", 0x6003000D, INVOKE_FUNC, L""},
      {L"RBDEBUGTIMESTAMP", 0x6003000E, INVOKE_FUNC, L""},
      {L"RBDEBUGLINE", 0x6003000F, INVOKE_FUNC, L""},
      {L"RBDEBUGHIERARCHY", 0x60030010, INVOKE_FUNC, L""},
      {L"LookUpValueForKey", 0x60030011, INVOKE_FUNC, L""},
      {L"AppendSlash", 0x60030012, INVOKE_FUNC,
       L"Appends a '\\' to a string (does nothing if the string already ends in a '\\')."},
      {L"ReportingLevel", 0x68030002, INVOKE_PROPERTYGET, L"Sets the reporting level."},
      {L"ReportingLevel", 0x68030002, INVOKE_PROPERTYPUT, L"Sets the reporting level."},
      {L"ApplicationName", 0x68030001, INVOKE_PROPERTYGET, L"Gets the application name."},
      {L"LogFilename", 0x68030000, INVOKE_PROPERTYGET, L"Gets/Sets the log filename."},
      {L"LogFilename", 0x68030000, INVOKE_PROPERTYPUT, L"Gets/Sets the log filename."},
      {L"LogMsg", 0x60030016, INVOKE_FUNC, L""},
      {L"DebugTrace", 0x60030017, INVOKE_FUNC, L""},
  };
  std::vector<FuncView> funcs = Functions(info.get());
  ASSERT_EQ(std::size(expected), funcs.size());
  for (size_t i = 0; i < funcs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(expected[i].name, funcs[i].name);
    EXPECT_EQ(expected[i].id, funcs[i].id);
    EXPECT_EQ(expected[i].kind, funcs[i].kind);
    EXPECT_EQ(expected[i].help, funcs[i].help);
    EXPECT_EQ(funcs[i].name == L"LookUpValueForKey", (funcs[i].flags & FUNCFLAG_FHIDDEN) != 0);
  }

  // LogError: two ByVal strings, then seven optional ByRef parameters; 48 and False as defaults.
  const FuncView& logError = funcs[2];
  const std::vector<std::wstring> names = {L"strSource",    L"strDescription",         L"strHelpFile",
                                           L"nHelpContext", L"nErrorNumberForLogFile", L"strProcedureName",
                                           L"nButtons",     L"nErrorNumberForUser",    L"bRaise"};
  EXPECT_EQ(names, logError.params);
  ASSERT_EQ(9u, logError.paramVts.size());
  EXPECT_EQ(VT_BSTR, logError.paramVts[0]);
  EXPECT_EQ(VT_BSTR, logError.paramVts[1]);
  for (size_t k = 2; k < 9; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(VT_PTR, logError.paramVts[k]);
    EXPECT_TRUE(logError.paramFlags[k] & PARAMFLAG_FOPT);
    EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOUT, logError.paramFlags[k] & (PARAMFLAG_FIN | PARAMFLAG_FOUT));
  }
  EXPECT_EQ((std::map<size_t, LONG>{{6, 48}, {8, 0}}), logError.defaults);

  // RBDEBUGHIERARCHY: ByRef object, ByVal optional level = 0.
  const FuncView& hierarchy = funcs[13];
  EXPECT_EQ((std::vector<std::wstring>{L"objDrawingObject", L"level"}), hierarchy.params);
  EXPECT_EQ(VT_PTR, hierarchy.paramVts[0]);
  EXPECT_EQ(VT_I4, hierarchy.paramVts[1]);
  EXPECT_EQ((std::map<size_t, LONG>{{1, 0}}), hierarchy.defaults);

  // LookUpValueForKey: three ByRef values, an optional Variant name, a Boolean result.
  const FuncView& lookUp = funcs[14];
  EXPECT_EQ((std::vector<std::wstring>{L"lKey", L"szSubKey", L"szValue", L"szName", L"result"}), lookUp.params);
  ASSERT_EQ(5u, lookUp.paramFlags.size());
  EXPECT_TRUE(lookUp.paramFlags[3] & PARAMFLAG_FOPT);
  EXPECT_TRUE(lookUp.paramFlags[4] & PARAMFLAG_FRETVAL);
}

TEST_F(TypeLibrary, StatusInterfaceAndEnumerations) {
  std::vector<FuncView> funcs = Functions(VtableView(lib.get(), IID__CErrorStatus).get());
  ASSERT_EQ(3u, funcs.size());
  EXPECT_EQ(L"Status", funcs[0].name);
  EXPECT_EQ(0x68030000, funcs[0].id);
  EXPECT_EQ(INVOKE_PROPERTYGET, funcs[0].kind);
  EXPECT_EQ(INVOKE_PROPERTYPUT, funcs[1].kind);
  EXPECT_EQ(VT_I2, funcs[1].paramVts[0]);
  EXPECT_EQ(L"Clear", funcs[2].name);
  EXPECT_EQ(0x60030001, funcs[2].id);

  std::map<std::wstring, std::map<std::wstring, LONG>> enums;
  std::map<std::wstring, std::wstring> enumHelp;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    lib->GetTypeInfo(i, info.Put());
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    if (attr->typekind == TKIND_ENUM) {
      Bstr name, help;
      lib->GetDocumentation(i, name.Put(), help.Put(), nullptr, nullptr);
      enumHelp[name.get()] = help.get() ? help.get() : L"";
      for (UINT k = 0; k < attr->cVars; ++k) {
        VARDESC* vd = nullptr;
        info->GetVarDesc(k, &vd);
        Bstr member;
        UINT got = 0;
        info->GetNames(vd->memid, member.Put(), 1, &got);
        enums[name.get()][member.get()] = vd->lpvarValue->lVal;
        info->ReleaseVarDesc(vd);
      }
    }
    info->ReleaseTypeAttr(attr);
  }
  EXPECT_EQ((std::map<std::wstring, LONG>{{L"SUCCESS", 0}, {L"FAILURE", 1}}), enums[L"mxErrorCodes"]);
  EXPECT_EQ((std::map<std::wstring, LONG>{{L"mxReportingLevelOff", 0},
                                          {L"mxReportingLevelLog", 1},
                                          {L"mxReportingLevelDisplay", 2},
                                          {L"mxReportingLevelLogAndDisplay", 3}}),
            enums[L"mxReportingLevelConstants"]);
  EXPECT_EQ(L"Corvane Error Reporting Object", enumHelp[L"mxReportingLevelConstants"]);
}

TEST_F(TypeLibrary, ClassesAndTheirDefaultInterfaces) {
  ComPtr<ITypeInfo> errorLog;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(CLSID_ErrorLog, errorLog.Put()));
  TYPEATTR* attr = nullptr;
  errorLog->GetTypeAttr(&attr);
  EXPECT_EQ(TKIND_COCLASS, attr->typekind);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FAPPOBJECT);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  errorLog->ReleaseTypeAttr(attr);
  Bstr name, help;
  errorLog->GetDocumentation(MEMBERID_NIL, name.Put(), help.Put(), nullptr, nullptr);
  EXPECT_STREQ(L"ErrorLog", name.get());
  EXPECT_STREQ(L"Corvane Error Reporting Object", help.get());

  // Objects describe their class through IProvideClassInfo.
  ComPtr<_CErrorStatus> status = NewErrorStatus();
  ASSERT_TRUE(status);
  ComPtr<IProvideClassInfo> provide = status.As<IProvideClassInfo>(IID_IProvideClassInfo);
  ASSERT_TRUE(provide);
  ComPtr<ITypeInfo> cls;
  ASSERT_HRESULT_SUCCEEDED(provide->GetClassInfo(cls.Put()));
  Bstr className;
  cls->GetDocumentation(MEMBERID_NIL, className.Put(), nullptr, nullptr, nullptr);
  EXPECT_STREQ(L"CErrorStatus", className.get());
}
