// A C++ client bound to the vtable of the generated header: every member of both
// classes, omitted optionals as null pointers, raised errors as HRESULT + IErrorInfo.
#include <gtest/gtest.h>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

class EarlyBound : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(capture.ok()) << "another debug-output listener is running";
    log = NewErrorLog();
    ASSERT_TRUE(log);
    ASSERT_HRESULT_SUCCEEDED(log->Main());
    SetErrorInfo(0, nullptr);
    capture.Clear();
  }
  Apartment apartment;
  DebugCapture capture;
  ComPtr<_ErrorLog> log;
};

std::wstring Get(HRESULT (STDMETHODCALLTYPE _ErrorLog::*getter)(BSTR*), _ErrorLog* log) {
  Bstr b;
  EXPECT_HRESULT_SUCCEEDED((log->*getter)(b.Put()));
  return b.get() ? b.get() : L"";
}

}  // namespace

TEST_F(EarlyBound, SettingsMembers) {
  Bstr app(u"EarlyApp"), none(u"");
  EXPECT_EQ(L"", Get(&_ErrorLog::get_ApplicationName, log.get()));
  ASSERT_HRESULT_SUCCEEDED(log->Initialize(app.get(), none.get()));
  EXPECT_EQ(L"EarlyApp", Get(&_ErrorLog::get_ApplicationName, log.get()));

  mxReportingLevelConstants level = mxReportingLevelLog;
  ASSERT_HRESULT_SUCCEEDED(log->put_ReportingLevel(mxReportingLevelDisplay));
  ASSERT_HRESULT_SUCCEEDED(log->get_ReportingLevel(&level));
  EXPECT_EQ(mxReportingLevelDisplay, level);
  ASSERT_HRESULT_SUCCEEDED(log->put_ReportingLevel(static_cast<mxReportingLevelConstants>(7)));
  ASSERT_HRESULT_SUCCEEDED(log->get_ReportingLevel(&level));
  EXPECT_EQ(mxReportingLevelOff, level);

  BSTR name = SysAllocString(L"C:\\logs\\early.log");
  ASSERT_HRESULT_SUCCEEDED(log->put_LogFilename(&name));
  EXPECT_STREQ(L"C:\\logs\\early.log", name) << "a ByRef value that is only read stays as it was";
  SysFreeString(name);
  EXPECT_EQ(L"C:\\logs\\early.log", Get(&_ErrorLog::get_LogFilename, log.get()));

  BSTR path = SysAllocString(L"C:\\Temp");
  Bstr slashed;
  ASSERT_HRESULT_SUCCEEDED(log->AppendSlash(&path, slashed.Put()));
  EXPECT_STREQ(L"C:\\Temp\\", slashed.get());
  SysFreeString(path);
  BSTR nullPath = nullptr;  // a null BSTR is ""
  ASSERT_HRESULT_SUCCEEDED(log->AppendSlash(&nullPath, slashed.Put()));
  EXPECT_STREQ(L"\\", slashed.get());

  // Main resets the thread: not initialised, no application name.
  ASSERT_HRESULT_SUCCEEDED(log->Main());
  EXPECT_EQ(L"", Get(&_ErrorLog::get_ApplicationName, log.get()));
}

TEST_F(EarlyBound, LookUpValueForKeyWritesTheValueBack) {
  LONG hklm = static_cast<LONG>(0x80000002);
  BSTR subKey = SysAllocString(L"Software\\Microsoft\\Windows NT\\CurrentVersion");
  BSTR value = SysAllocString(L"untouched");
  VARIANT name = Str(L"CurrentVersion");
  VARIANT_BOOL found = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(log->LookUpValueForKey(&hklm, &subKey, &value, &name, &found));
  EXPECT_EQ(VARIANT_TRUE, found);
  EXPECT_GT(SysStringLen(value), 0u);
  EXPECT_STRNE(L"untouched", value);
  EXPECT_STREQ(L"Software\\Microsoft\\Windows NT\\CurrentVersion", subKey);

  // A key that does not exist leaves szValue alone.
  BSTR missingKey = SysAllocString(L"Software\\VX380 no such key");
  SysFreeString(value);
  value = SysAllocString(L"untouched");
  ASSERT_HRESULT_SUCCEEDED(log->LookUpValueForKey(&hklm, &missingKey, &value, &name, &found));
  EXPECT_EQ(VARIANT_FALSE, found);
  EXPECT_STREQ(L"untouched", value);

  // szName omitted (null pointer): nothing is read.
  ASSERT_HRESULT_SUCCEEDED(log->LookUpValueForKey(&hklm, &subKey, &value, nullptr, &found));
  EXPECT_EQ(VARIANT_FALSE, found);
  VariantClear(&name);
  SysFreeString(subKey);
  SysFreeString(missingKey);
  SysFreeString(value);
}

TEST_F(EarlyBound, TraceMembersReachTheDebugChannel) {
  Bstr text(u"hello"), module(u"Early.Module"), note(u"note");
  ASSERT_HRESULT_SUCCEEDED(log->DebugTrace(text.get()));
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGLOG(text.get()));
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGWRITE(text.get()));
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGENTER(module.get(), nullptr, nullptr));
  SHORT line = 12;
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGLINE(&line, nullptr));
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGTIMESTAMP(nullptr));
  BSTR noteRef = SysAllocString(L"note");
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGEXIT(&noteRef));
  VARIANT_BOOL entry = VARIANT_TRUE;
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGMODULE(module.get(), &entry, nullptr, nullptr));
  entry = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGMODULE(module.get(), &entry, &noteRef, nullptr));
  SysFreeString(noteRef);
  ASSERT_HRESULT_SUCCEEDED(log->LogMsg(text.get()));

  std::vector<std::string> lines = capture.Lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ("hello\n", lines[0]);
  EXPECT_EQ("RBDEBUG: hello\n", lines[1]);
  EXPECT_EQ("hello\n", lines[2]);
  EXPECT_NE(std::string::npos, lines[3].find("Early.Module"));
  size_t enters = 0;
  for (const std::string& l : lines) {
    if (l.find("Early.Module") != std::string::npos) ++enters;
    if (l.rfind("RBDEBUG", 0) != 0 && l != "hello\n") ADD_FAILURE() << "unexpected line " << l;
  }
  EXPECT_GE(enters, 4u);  // two entries and two exits name the module
}

TEST_F(EarlyBound, LogErrorWithOnlyRequiredArguments) {
  Bstr source(u"App1"), description(u"Disk full");
  ASSERT_HRESULT_SUCCEEDED(
      log->LogError(source.get(), description.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("ERROR: App1 - described as: Disk full, Error Number is: 0\n", lines[0]);

  BSTR procedure = SysAllocString(L"SaveFile");
  LONG number = 61;
  capture.Clear();
  ASSERT_HRESULT_SUCCEEDED(
      log->LogError(source.get(), description.get(), nullptr, nullptr, &number, &procedure, nullptr, nullptr, nullptr));
  lines = capture.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("ERROR: App1 - SaveFile described as: Disk full, Error Number is: 61\n", lines[0]);
  EXPECT_EQ(61, number);
  SysFreeString(procedure);
}

TEST_F(EarlyBound, RaisedErrorIsHresultAndErrorInfo) {
  Bstr source(u"App1"), description(u"Something broke");
  BSTR helpFile = SysAllocString(L"app.chm");
  LONG context = 77, number = 1000;
  VARIANT_BOOL raise = VARIANT_TRUE;
  HRESULT hr =
      log->LogError(source.get(), description.get(), &helpFile, &context, &number, nullptr, nullptr, nullptr, &raise);
  EXPECT_EQ(static_cast<HRESULT>(0x800A03E8), hr);
  ComPtr<ISupportErrorInfo> support = log.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
  ASSERT_TRUE(support);
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID__ErrorLog));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.Put()));
  Bstr s, d, f;
  DWORD ctx = 0;
  GUID guid{};
  info->GetSource(s.Put());
  info->GetDescription(d.Put());
  info->GetHelpFile(f.Put());
  info->GetHelpContext(&ctx);
  info->GetGUID(&guid);
  EXPECT_STREQ(L"App1", s.get());
  EXPECT_STREQ(L"Something broke", d.get());
  EXPECT_STREQ(L"app.chm", f.get());
  EXPECT_EQ(77u, ctx);
  EXPECT_TRUE(IsEqualGUID(IID__ErrorLog, guid));
  SysFreeString(helpFile);
}

TEST_F(EarlyBound, CoreFailuresRaiseTheirRuntimeNumbers) {
  IDispatch* nothing = nullptr;
  Bstr text;
  EXPECT_EQ(static_cast<HRESULT>(0x800A005B), log->RBDEBUGMATRIX(&nothing, text.Put()));  // 91
  EXPECT_EQ(nullptr, text.get());
  EXPECT_EQ(E_POINTER, log->RBDEBUGMATRIX(nullptr, text.Put()));
  EXPECT_EQ(E_POINTER, log->AppendSlash(nullptr, text.Put()));
  EXPECT_EQ(E_POINTER, log->get_ApplicationName(nullptr));
  // Nothing as the graphic: no box, no failure.
  EXPECT_HRESULT_SUCCEEDED(log->DescribeAttributes(&nothing));
}

TEST_F(EarlyBound, StatusObjectsHoldTheirOwnCode) {
  ComPtr<_CErrorStatus> a = NewErrorStatus(), b = NewErrorStatus();
  ASSERT_TRUE(a && b);
  SHORT status = -1;
  ASSERT_HRESULT_SUCCEEDED(a->get_Status(&status));
  EXPECT_EQ(SUCCESS, status);
  ASSERT_HRESULT_SUCCEEDED(a->put_Status(-5));
  ASSERT_HRESULT_SUCCEEDED(b->put_Status(FAILURE));
  ASSERT_HRESULT_SUCCEEDED(a->get_Status(&status));
  EXPECT_EQ(-5, status);
  ASSERT_HRESULT_SUCCEEDED(a->Clear());
  ASSERT_HRESULT_SUCCEEDED(a->get_Status(&status));
  EXPECT_EQ(SUCCESS, status);
  ASSERT_HRESULT_SUCCEEDED(b->get_Status(&status));
  EXPECT_EQ(FAILURE, status);
  EXPECT_EQ(E_POINTER, b->get_Status(nullptr));
}

TEST_F(EarlyBound, QueryInterfaceAnswersOnlyWhatTheObjectIs) {
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, log->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.Put())));
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(S_OK, log->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put())));
  EXPECT_EQ(static_cast<void*>(log.get()), static_cast<void*>(dispatch.get()));
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, log->QueryInterface(IID__CErrorStatus, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_NOINTERFACE, log->QueryInterface(IID_IClassFactory, &out));
  EXPECT_EQ(E_POINTER, log->QueryInterface(IID_IUnknown, nullptr));

  ComPtr<IClassFactory> factory;
  ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_ErrorLog, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.Put())));
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            factory->CreateInstance(unknown.get(), IID_IUnknown, reinterpret_cast<void**>(aggregated.Put())));
}
