// A late-bound client: names to dispatch ids, Invoke with omitted, named, coerced and
// by-reference arguments, and the DISP_E_* answers to calls that do not fit.
#include <gtest/gtest.h>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;  // what script engines pass
constexpr DISPID kLogError = 0x60030005, kLookUp = 0x60030011, kAppendSlash = 0x60030012, kReportingLevel = 0x68030002,
                 kApplicationName = 0x68030001, kLogFilename = 0x68030000, kInitialize = 0x60030004,
                 kHierarchy = 0x60030010, kDebugTrace = 0x60030017;

class LateBound : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(capture.ok()) << "another debug-output listener is running";
    ComPtr<_ErrorLog> log = NewErrorLog();
    ASSERT_TRUE(log);
    disp = log.As<IDispatch>(IID_IDispatch);
    CallResult r;
    Invoke(disp.get(), 0x60030003, kCall, {}, r);  // Main
    ASSERT_HRESULT_SUCCEEDED(r.hr);
    capture.Clear();
  }
  std::vector<std::string> Lines() { return capture.Lines(); }

  Apartment apartment;
  DebugCapture capture;
  ComPtr<IDispatch> disp;
};

}  // namespace

TEST_F(LateBound, NamesMapToTheirDispatchIds) {
  const std::pair<const wchar_t*, DISPID> names[] = {
      {L"Main", 0x60030003},
      {L"initialize", kInitialize},
      {L"LogError", kLogError},
      {L"RBDEBUGLOG", 0x60030006},
      {L"RBDEBUGMESSAGE", 0x60030007},
      {L"RBDEBUGMATRIX", 0x60030008},
      {L"DescribeAttributes", 0x60030009},
      {L"RBDEBUGWRITE", 0x6003000A},
      {L"RBDEBUGENTER", 0x6003000B},
      {L"RBDEBUGEXIT", 0x6003000C},
      {L"RBDEBUGMODULE", 0x6003000D},
      {L"RBDEBUGTIMESTAMP", 0x6003000E},
      {L"RBDEBUGLINE", 0x6003000F},
      {L"RBDEBUGHIERARCHY", kHierarchy},
      {L"LookUpValueForKey", kLookUp},
      {L"AppendSlash", kAppendSlash},
      {L"ReportingLevel", kReportingLevel},
      {L"ApplicationName", kApplicationName},
      {L"LogFilename", kLogFilename},
      {L"LogMsg", 0x60030016},
      {L"DebugTrace", 0x60030017},
  };
  for (auto& [name, id] : names) EXPECT_EQ(id, IdOf(disp.get(), name)) << name;

  // A member name with its parameter names gives the parameters' positions.
  std::wstring member = L"LogError", p1 = L"bRaise", p2 = L"nErrorNumberForLogFile";
  LPOLESTR both[] = {member.data(), p1.data(), p2.data()};
  DISPID ids[3] = {};
  ASSERT_HRESULT_SUCCEEDED(disp->GetIDsOfNames(IID_NULL, both, 3, LOCALE_USER_DEFAULT, ids));
  EXPECT_EQ(kLogError, ids[0]);
  EXPECT_EQ(8, ids[1]);
  EXPECT_EQ(4, ids[2]);

  std::wstring unknown = L"NoSuchMember";
  LPOLESTR bad[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, disp->GetIDsOfNames(IID_NULL, bad, 1, LOCALE_USER_DEFAULT, &id));
  LPOLESTR nullName[] = {nullptr};
  EXPECT_EQ(DISP_E_UNKNOWNNAME, disp->GetIDsOfNames(IID_NULL, nullName, 1, LOCALE_USER_DEFAULT, &id));
  EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, disp->GetIDsOfNames(IID_IUnknown, bad, 1, LOCALE_USER_DEFAULT, &id));

  UINT count = 0;
  ASSERT_HRESULT_SUCCEEDED(disp->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(disp->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()));
  Bstr name;
  info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
  EXPECT_STREQ(L"_ErrorLog", name.get());
  EXPECT_EQ(DISP_E_BADINDEX, disp->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.Put()));
}

TEST_F(LateBound, LogErrorFillsOmittedOptionals) {
  CallResult r;
  Invoke(disp.get(), kLogError, kCall, {Str(L"App1"), Str(L"Disk full")}, r);
  ASSERT_HRESULT_SUCCEEDED(r.hr);
  // Every optional, the last ones explicitly missing as VB passes them.
  CallResult all;
  Invoke(disp.get(), kLogError, kCall,
         {Str(L"App1"), Str(L"Disk full"), Str(L"help.chm"), Long(3), Long(61), Str(L"SaveFile"), Long(48), Missing(),
          Missing()},
         all);
  ASSERT_HRESULT_SUCCEEDED(all.hr);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("ERROR: App1 - described as: Disk full, Error Number is: 0\n", lines[0]);
  EXPECT_EQ("ERROR: App1 - SaveFile described as: Disk full, Error Number is: 61\n", lines[1]);
}

TEST_F(LateBound, NamedArgumentsAndCoercion) {
  // LogError(strSource:="S", strDescription:=12, nErrorNumberForLogFile:="7")
  CallResult r;
  Invoke(disp.get(), kLogError, kCall, {Str(L"S"), Short(12), Str(L"7")}, r, {0, 1, 4});
  ASSERT_HRESULT_SUCCEEDED(r.hr);
  // Positional first argument, then a named procedure name; a Boolean coerces to text.
  CallResult r2;
  Invoke(disp.get(), kLogError, kCall, {Str(L"S"), Bool(true), Str(L"Proc")}, r2, {5});
  ASSERT_HRESULT_SUCCEEDED(r2.hr);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("ERROR: S - described as: 12, Error Number is: 7\n", lines[0]);
  EXPECT_EQ("ERROR: S - Proc described as: True, Error Number is: 0\n", lines[1]);
}

TEST_F(LateBound, ByRefArgumentsTakeAnyCoercibleVariable) {
  // A script variable (VT_BYREF|VT_VARIANT) that is still Empty receives the text.
  VARIANT key = Long(static_cast<LONG>(0x80000002));
  VARIANT subKey = Str(L"Software\\Microsoft\\Windows NT\\CurrentVersion");
  VARIANT value;
  VariantInit(&value);
  VARIANT name = Str(L"CurrentVersion");
  CallResult r;
  Invoke(disp.get(), kLookUp, kCall, {RefTo(&key), RefTo(&subKey), RefTo(&value), RefTo(&name)}, r);
  ASSERT_HRESULT_SUCCEEDED(r.hr);
  EXPECT_EQ(VT_BOOL, r.value->vt);
  EXPECT_EQ(VARIANT_TRUE, r.value->boolVal);
  ASSERT_EQ(VT_BSTR, value.vt);
  EXPECT_GT(SysStringLen(value.bstrVal), 0u);
  std::wstring read = value.bstrVal;
  // Variables that are only read keep their type and value.
  EXPECT_EQ(VT_I4, key.vt);
  EXPECT_EQ(VT_BSTR, subKey.vt);
  EXPECT_STREQ(L"Software\\Microsoft\\Windows NT\\CurrentVersion", subKey.bstrVal);

  // A typed by-reference BSTR, the key as a string variable: both coerced, the value written back.
  BSTR typed = SysAllocString(L"old");
  VARIANT keyText = Str(L"-2147483646");
  CallResult r2;
  Invoke(
      disp.get(), kLookUp, kCall,
      {RefTo(&keyText), Str(L"Software\\Microsoft\\Windows NT\\CurrentVersion"), RefTo(&typed), Str(L"CurrentVersion")},
      r2);
  ASSERT_HRESULT_SUCCEEDED(r2.hr);
  EXPECT_EQ(read, std::wstring(typed));
  EXPECT_EQ(VT_BSTR, keyText.vt) << "a converted variable that was not written keeps its own type";

  // A variable of another type receives the text converted to its type when it can.
  VARIANT numeric = Long(5);
  CallResult r3;
  Invoke(disp.get(), kLookUp, kCall,
         {Long(static_cast<LONG>(0x80000002)), Str(L"Software\\VX380 no such key"), RefTo(&numeric), Str(L"")}, r3);
  ASSERT_HRESULT_SUCCEEDED(r3.hr);
  EXPECT_EQ(VARIANT_FALSE, r3.value->boolVal);
  EXPECT_EQ(VT_I4, numeric.vt);
  EXPECT_EQ(5, numeric.lVal);

  for (VARIANT* v : {&key, &subKey, &value, &name, &keyText}) VariantClear(v);
  SysFreeString(typed);
}

TEST_F(LateBound, AStringArgumentArrivesHoweverItIsPassed) {
  // A value, a script variable, a variable reached through another, a number to convert, an
  // empty string: the member sees each the same, and the caller's variables stay as they were.
  VARIANT text = Str(L"from a variable"), number = Long(42), empty = Str(L"");
  VARIANT inner = RefTo(&text);
  const BSTR textBefore = text.bstrVal;
  for (VARIANT arg : {Str(L"as a value"), RefTo(&text), RefTo(&inner), RefTo(&number), RefTo(&empty)}) {
    CallResult r;
    Invoke(disp.get(), kDebugTrace, DISPATCH_METHOD, {arg}, r);
    ASSERT_HRESULT_SUCCEEDED(r.hr);
  }
  const std::vector<std::string> expected = {"as a value\n", "from a variable\n", "from a variable\n", "42\n", "\n"};
  EXPECT_EQ(expected, Lines());
  EXPECT_EQ(VT_BSTR, text.vt);
  EXPECT_EQ(textBefore, text.bstrVal);
  EXPECT_STREQ(L"from a variable", text.bstrVal);
  EXPECT_EQ(VT_I4, number.vt);
  for (VARIANT* v : {&text, &number, &empty}) VariantClear(v);
}

TEST_F(LateBound, ManyArgumentsBehaveAsFew) {
  // LogError's nine parameters, every one a script variable, one variable given twice (once
  // by value, once by reference): the same line as the same values passed plainly.
  VARIANT vars[9] = {Str(L"App1"), Str(L"Disk full"), Str(L"help.chm"), Long(3),    Long(61),
                     {},           Long(48),          Long(0),          Bool(false)};
  std::vector<VARIANT> args;
  for (VARIANT& v : vars) args.push_back(RefTo(&v));
  args[5] = RefTo(&vars[0]);  // the procedure name is the source's variable
  CallResult r;
  Invoke(disp.get(), kLogError, kCall, args, r);
  ASSERT_HRESULT_SUCCEEDED(r.hr);
  const std::vector<std::string> expected = {"ERROR: App1 - App1 described as: Disk full, Error Number is: 61\n"};
  EXPECT_EQ(expected, Lines());
  EXPECT_EQ(VT_BSTR, vars[0].vt);
  EXPECT_STREQ(L"App1", vars[0].bstrVal);

  // A value that does not convert, late in the list: its rgvarg index is reported.
  const auto expectRefused = [&](size_t param, const wchar_t* bad, UINT argErr) {
    const VARIANT kept = vars[param];  // a number or a Boolean: nothing to free
    vars[param] = Str(bad);
    CallResult refused;
    Invoke(disp.get(), kLogError, kCall, args, refused);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, refused.hr) << param;
    EXPECT_EQ(argErr, refused.argErr) << param;
    VariantClear(&vars[param]);
    vars[param] = kept;
  };
  expectRefused(6, L"no number", 2u);
  expectRefused(8, L"no Boolean", 0u);
  for (VARIANT& v : vars) VariantClear(&v);
}

TEST_F(LateBound, PropertiesGetAndPut) {
  CallResult put;
  Invoke(disp.get(), kReportingLevel, DISPATCH_PROPERTYPUT, {Str(L"2")}, put, {DISPID_PROPERTYPUT});
  ASSERT_HRESULT_SUCCEEDED(put.hr);
  CallResult get;
  Invoke(disp.get(), kReportingLevel, kCall, {}, get);
  ASSERT_HRESULT_SUCCEEDED(get.hr);
  EXPECT_EQ(VT_I4, get.value->vt);
  EXPECT_EQ(2, get.value->lVal);

  VARIANT path = Str(L"C:\\x.log");
  CallResult putFile;
  Invoke(disp.get(), kLogFilename, DISPATCH_PROPERTYPUT, {RefTo(&path)}, putFile, {DISPID_PROPERTYPUT});
  ASSERT_HRESULT_SUCCEEDED(putFile.hr);
  CallResult getFile;
  Invoke(disp.get(), kLogFilename, DISPATCH_PROPERTYGET, {}, getFile);
  EXPECT_STREQ(L"C:\\x.log", getFile.value->bstrVal);
  VariantClear(&path);

  // ApplicationName is read-only; Initialize is no property.
  CallResult putName;
  Invoke(disp.get(), kApplicationName, DISPATCH_PROPERTYPUT, {Str(L"x")}, putName, {DISPID_PROPERTYPUT});
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, putName.hr);
  CallResult putInit;
  Invoke(disp.get(), kInitialize, DISPATCH_PROPERTYPUT, {Str(L"x")}, putInit, {DISPID_PROPERTYPUT});
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, putInit.hr);
}

TEST_F(LateBound, CallsThatDoNotFitGetTheirDispatchErrors) {
  CallResult tooFew;
  Invoke(disp.get(), kLogError, kCall, {Str(L"only one")}, tooFew);
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, tooFew.hr);
  CallResult tooMany;
  Invoke(disp.get(), kAppendSlash, kCall, {Str(L"a"), Str(L"b")}, tooMany);
  EXPECT_EQ(DISP_E_BADPARAMCOUNT, tooMany.hr);
  CallResult requiredMissing;
  Invoke(disp.get(), kLogError, kCall, {Missing(), Str(L"d")}, requiredMissing);
  EXPECT_EQ(DISP_E_PARAMNOTOPTIONAL, requiredMissing.hr);

  // The first argument (rgvarg index 2) cannot become a Long.
  CallResult badKey;
  Invoke(disp.get(), kLookUp, kCall, {Str(L"not a number"), Str(L"k"), Str(L"v")}, badKey);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, badKey.hr);
  EXPECT_EQ(2u, badKey.argErr);
  CallResult badObject;
  Invoke(disp.get(), kHierarchy, kCall, {Str(L"not an object")}, badObject);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, badObject.hr);
  EXPECT_EQ(0u, badObject.argErr);

  CallResult badName;
  Invoke(disp.get(), kLogError, kCall, {Str(L"s"), Str(L"d"), Str(L"x")}, badName, {42});
  EXPECT_EQ(DISP_E_PARAMNOTFOUND, badName.hr);
  EXPECT_EQ(0u, badName.argErr);

  CallResult unknown;
  Invoke(disp.get(), 0x12345, kCall, {}, unknown);
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, unknown.hr);
  CallResult inherited;  // IUnknown::QueryInterface through the dispatch view
  Invoke(disp.get(), 0x60000000, kCall, {}, inherited);
  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, inherited.hr);

  VARIANT brokenRef;
  VariantInit(&brokenRef);
  brokenRef.vt = VT_BYREF | VT_BSTR;
  brokenRef.pbstrVal = nullptr;
  CallResult nullRef;
  Invoke(disp.get(), kAppendSlash, kCall, {brokenRef}, nullRef);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, nullRef.hr);

  EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
            disp->Invoke(kAppendSlash, IID_IDispatch, 0, kCall, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(LateBound, NullStringsAndNullPointersAreEmpty) {
  CallResult r;
  Invoke(disp.get(), kAppendSlash, kCall, {Str(nullptr)}, r);
  ASSERT_HRESULT_SUCCEEDED(r.hr);
  EXPECT_STREQ(L"\\", r.value->bstrVal);
  CallResult log;
  Invoke(disp.get(), kLogError, kCall, {Str(nullptr), Str(nullptr)}, log);
  ASSERT_HRESULT_SUCCEEDED(log.hr);
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("ERROR: VeltrixPFD - described as: Unknown error, Error Number is: 0\n", lines[0]);
  // No result variant, no EXCEPINFO, no argErr: still answered.
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_HRESULT_SUCCEEDED(
      disp->Invoke(kApplicationName, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr));
  EXPECT_HRESULT_SUCCEEDED(
      disp->Invoke(kApplicationName, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(LateBound, RaisedErrorFillsExcepInfo) {
  CallResult r;
  Invoke(disp.get(), kLogError, kCall,
         {Str(L"App1"), Str(L""), Str(L"app.chm"), Long(55), Long(1000), Missing(), Missing(), Missing(), Bool(true)},
         r);
  ASSERT_EQ(DISP_E_EXCEPTION, r.hr);
  EXPECT_EQ(static_cast<HRESULT>(0x800A03E8), r.excep.scode);
  EXPECT_EQ(0, r.excep.wCode);
  EXPECT_STREQ(L"App1", r.excep.bstrSource);
  EXPECT_STREQ(L"Unknown error", r.excep.bstrDescription);
  EXPECT_STREQ(L"app.chm", r.excep.bstrHelpFile);
  EXPECT_EQ(55u, r.excep.dwHelpContext);
  // The error info stays available to clients that ask the thread for it.
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.Put()));
  Bstr source;
  info->GetSource(source.Put());
  EXPECT_STREQ(L"App1", source.get());
}

TEST_F(LateBound, StatusObjectThroughDispatch) {
  ComPtr<_CErrorStatus> status = NewErrorStatus();
  ComPtr<IDispatch> d = status.As<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(d);
  EXPECT_EQ(0x68030000, IdOf(d.get(), L"Status"));
  EXPECT_EQ(0x60030001, IdOf(d.get(), L"Clear"));
  CallResult put;
  Invoke(d.get(), 0x68030000, DISPATCH_PROPERTYPUT, {Double(7.0)}, put, {DISPID_PROPERTYPUT});
  ASSERT_HRESULT_SUCCEEDED(put.hr);
  CallResult get;
  Invoke(d.get(), 0x68030000, kCall, {}, get);
  EXPECT_EQ(VT_I2, get.value->vt);
  EXPECT_EQ(7, get.value->iVal);
  CallResult overflow;
  Invoke(d.get(), 0x68030000, DISPATCH_PROPERTYPUT, {Long(70000)}, overflow, {DISPID_PROPERTYPUT});
  EXPECT_EQ(DISP_E_OVERFLOW, overflow.hr);
  CallResult clear;
  Invoke(d.get(), 0x60030001, DISPATCH_METHOD, {}, clear);
  ASSERT_HRESULT_SUCCEEDED(clear.hr);
  CallResult after;
  Invoke(d.get(), 0x68030000, kCall, {}, after);
  EXPECT_EQ(0, after.value->iVal);
}
