// The thread's pending error as COM clients see it: LogError without a raise leaves
// the caller's error info in place, a raise replaces it, members that touch the error
// object (Initialize sets its source) publish what they left.
#include <gtest/gtest.h>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

ComPtr<IErrorInfo> MakeErrorInfo(const wchar_t* source, const wchar_t* description, const wchar_t* helpFile,
                                 DWORD context) {
  ComPtr<ICreateErrorInfo> create;
  CreateErrorInfo(create.Put());
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetHelpFile(const_cast<LPOLESTR>(helpFile));
  create->SetHelpContext(context);
  return create.As<IErrorInfo>(IID_IErrorInfo);
}

struct Pending {
  std::wstring source, description, helpFile;
  DWORD context = 0;
  bool present = false;
  IErrorInfo* identity = nullptr;
};

Pending TakePending() {
  Pending p;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return p;
  p.present = true;
  p.identity = info.get();
  Bstr s, d, f;
  info->GetSource(s.Put());
  info->GetDescription(d.Put());
  info->GetHelpFile(f.Put());
  info->GetHelpContext(&p.context);
  p.source = s.get() ? s.get() : L"";
  p.description = d.get() ? d.get() : L"";
  p.helpFile = f.get() ? f.get() : L"";
  return p;
}

class PendingError : public ::testing::Test {
 protected:
  void SetUp() override {
    log = NewErrorLog();
    ASSERT_TRUE(log);
    ASSERT_HRESULT_SUCCEEDED(log->Main());
    SetErrorInfo(0, nullptr);
  }
  HRESULT LogError(const wchar_t* source, LONG number, bool raise) {
    Bstr s(std::u16string(source, source + wcslen(source))), d(u"described");
    VARIANT_BOOL r = raise ? VARIANT_TRUE : VARIANT_FALSE;
    return log->LogError(s.get(), d.get(), nullptr, nullptr, &number, nullptr, nullptr, nullptr, &r);
  }
  Apartment apartment;
  DebugCapture capture;  // keeps the trace lines off other listeners
  ComPtr<_ErrorLog> log;
};

}  // namespace

TEST_F(PendingError, LogErrorWithoutRaiseLeavesTheCallersErrorInPlace) {
  ComPtr<IErrorInfo> mine = MakeErrorInfo(L"Host", L"File not found", L"host.chm", 53);
  SetErrorInfo(0, mine.get());
  ASSERT_HRESULT_SUCCEEDED(LogError(L"App", 61, false));
  Pending after = TakePending();
  ASSERT_TRUE(after.present);
  EXPECT_EQ(mine.get(), after.identity) << "the caller's own error object comes back";
  EXPECT_EQ(L"Host", after.source);
  EXPECT_EQ(L"File not found", after.description);
  EXPECT_EQ(L"host.chm", after.helpFile);
  EXPECT_EQ(53u, after.context);

  // No pending error before: none after.
  ASSERT_HRESULT_SUCCEEDED(LogError(L"App", 61, false));
  EXPECT_FALSE(TakePending().present);
}

TEST_F(PendingError, RaiseReplacesThePendingError) {
  ComPtr<IErrorInfo> mine = MakeErrorInfo(L"Host", L"old", L"", 0);
  SetErrorInfo(0, mine.get());
  EXPECT_EQ(static_cast<HRESULT>(0x800A0457), LogError(L"App", 1111, true));
  Pending after = TakePending();
  ASSERT_TRUE(after.present);
  EXPECT_EQ(L"App", after.source);
  EXPECT_EQ(L"described", after.description);

  // The raised error, pending again, survives a later LogError that does not raise.
  EXPECT_EQ(static_cast<HRESULT>(0x800A0457), LogError(L"App", 1111, true));
  ComPtr<IErrorInfo> raised;
  ASSERT_EQ(S_OK, GetErrorInfo(0, raised.Put()));
  SetErrorInfo(0, raised.get());
  ASSERT_HRESULT_SUCCEEDED(LogError(L"Other", 5, false));
  EXPECT_EQ(raised.get(), TakePending().identity);
}

TEST_F(PendingError, RaisedNumbersMapToControlFacilityHresults) {
  EXPECT_EQ(static_cast<HRESULT>(0x800A0001), LogError(L"App", 1, true));
  EXPECT_EQ(static_cast<HRESULT>(0x800AFFFF), LogError(L"App", 65535, true));
  // Beyond what the facility can hold: invalid procedure call, the texts still carried.
  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), LogError(L"Big", 65536, true));
  EXPECT_EQ(L"Big", TakePending().source);
  // Zero or a negative number is no raise at all.
  EXPECT_EQ(S_OK, LogError(L"App", 0, true));
  EXPECT_EQ(S_OK, LogError(L"App", -1, true));
}

TEST_F(PendingError, InitializeSetsTheSourceOfTheErrorObject) {
  Bstr app(u"SourceApp"), none;
  ASSERT_HRESULT_SUCCEEDED(log->Initialize(app.get(), none.get()));
  Pending after = TakePending();
  ASSERT_TRUE(after.present);
  EXPECT_EQ(L"SourceApp", after.source);
  EXPECT_EQ(L"", after.description);
}
