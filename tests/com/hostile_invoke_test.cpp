// Hostile late-bound callers: 100,000 Invoke calls with random dispatch ids, flags,
// argument counts and types, null strings and pointers and named arguments. Nothing
// may crash, and every refused call must carry the dispatch error that fits it.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

// Members a random caller may call without a person at the screen. Left out: those
// that answer misuse with a message box by design (RBDEBUGMESSAGE always asks; the
// module stack members and RBDEBUGLINE report their own failures, such as a stack
// driven out of range, in a box), and the reporting level, which with display on
// makes LogError ask too. They are still called with wrong counts and unknown names.
const DISPID kMembers[] = {0x60030003, 0x60030004, 0x60030005, 0x60030006, 0x60030008, 0x60030009,
                           0x6003000A, 0x6003000E, 0x60030010, 0x60030011, 0x60030012, 0x68030002,
                           0x68030001, 0x68030000, 0x60030016, 0x60030017};
const DISPID kBoxMembers[] = {0x60030007, 0x6003000B, 0x6003000C, 0x6003000D, 0x6003000F};
const DISPID kOthers[] = {
    0, -1, DISPID_NEWENUM, DISPID_PROPERTYPUT, 0x60000000, 0x60010002, 0x60030007 + 0x100, 0x68030003, 0x7FFFFFFF};
const WORD kFlags[] = {DISPATCH_METHOD,
                       DISPATCH_PROPERTYGET,
                       DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       DISPATCH_PROPERTYPUT,
                       DISPATCH_PROPERTYPUTREF,
                       0,
                       0xFFFF};

// Most parameters any member has (LogError), for the count check.
constexpr UINT kMostParams = 9;

// Fewest and most arguments of the members a random caller uses.
std::pair<int, int> ArgumentRange(DISPID id) {
  switch (id) {
    case 0x60030004:
      return {2, 2};
    case 0x60030005:
      return {2, 9};
    case 0x6003000E:
      return {0, 1};
    case 0x60030010:
      return {1, 2};
    case 0x60030011:
      return {3, 4};
    case 0x60030003:
    case 0x68030002:
    case 0x68030001:
    case 0x68030000:
      return {0, 0};
    default:
      return {1, 1};
  }
}

class Hostile {
 public:
  explicit Hostile(unsigned seed) : rng_(seed) {
    object_ = FakeObject::Make();  // answers nothing: every late-bound use of it fails
    SAFEARRAYBOUND b = {3, 0};
    array_ = SafeArrayCreate(VT_I4, 1, &b);
  }
  ~Hostile() {
    for (VARIANT& v : targets_) VariantClear(&v);
    SafeArrayDestroy(array_);
  }

  template <class T>
  T Pick(const T* items, size_t n) {
    return items[std::uniform_int_distribution<size_t>(0, n - 1)(rng_)];
  }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  // plausible: a value a script could pass (no broken pointers, arrays or odd kinds).
  VARIANT RandomArg(size_t slot, bool plausible = false) {
    VARIANT v;
    VariantInit(&v);
    switch (plausible ? Int(2, 13) : Int(0, 21)) {
      case 0:
        break;  // Empty
      case 1:
        v.vt = VT_NULL;
        break;
      case 2:
        v = Short(static_cast<SHORT>(Int(-32768, 32767)));
        break;
      case 3:
        v = Long(Int(-2, 70000));
        break;
      case 4:
        v = Double(Int(-5, 5) * 1e300);
        break;
      case 5:
        v = Str(nullptr);
        break;
      case 6:
        v = Str(L"");
        break;
      case 7:
        v = Str(L"Z:\\no\\such\\folder\\x.log");
        break;
      case 8:
        v = Str(L"12");
        break;
      case 9:
        v = Bool(Int(0, 1));
        break;
      case 10:
        v = Object(nullptr);
        break;
      case 11:
        v = Object(object_.get());
        break;
      case 12:
        v = Missing();
        break;
      case 13: {  // a script variable holding something
        VariantClear(&targets_[slot]);
        targets_[slot] = Int(0, 1) ? Str(L"var") : Long(Int(-3, 3));
        v = RefTo(&targets_[slot]);
        break;
      }
      case 14: {
        VariantClear(&bstrs_[slot]);
        v.vt = VT_BYREF | VT_BSTR;
        v.pbstrVal = Int(0, 3) ? &bstrs_[slot].bstrVal : nullptr;
        bstrs_[slot].vt = VT_BSTR;
        bstrs_[slot].bstrVal = nullptr;
        break;
      }
      case 15:
        v.vt = VT_BYREF | VT_I4;
        v.plVal = Int(0, 1) ? &longs_[slot] : nullptr;
        break;
      case 16:
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = nullptr;
        break;
      case 17:
        v.vt = VT_ARRAY | VT_I4;
        v.parray = array_;
        break;
      case 18:
        v.vt = VT_UNKNOWN;
        v.punkVal = nullptr;
        break;
      case 19:
        v.vt = static_cast<VARTYPE>(Int(0, 1) ? 0x7FF : VT_RECORD);  // no such kind / no record info
        break;
      case 20:
        v.vt = VT_DATE;
        v.date = Int(-1000, 1000);
        break;
      default:
        v.vt = VT_ERROR;
        v.scode = Int(0, 1) ? DISP_E_PARAMNOTFOUND : E_FAIL;
        break;
    }
    return v;
  }

  std::mt19937 rng_;
  ComPtr<FakeObject> object_;
  SAFEARRAY* array_ = nullptr;
  VARIANT targets_[12] = {};
  VARIANT bstrs_[12] = {};
  LONG longs_[12] = {};
};

bool IsDispatchError(HRESULT hr) {
  static const std::set<HRESULT> known = {DISP_E_MEMBERNOTFOUND,   DISP_E_BADPARAMCOUNT,   DISP_E_PARAMNOTFOUND,
                                          DISP_E_PARAMNOTOPTIONAL, DISP_E_TYPEMISMATCH,    DISP_E_OVERFLOW,
                                          DISP_E_BADVARTYPE,       DISP_E_UNKNOWNINTERFACE};
  return known.count(hr) != 0;
}

}  // namespace

TEST(HostileInvoke, RandomCallsNeverCrashAndFailProperly) {
  Apartment apartment;
  ComPtr<_ErrorLog> log = NewErrorLog();
  ASSERT_TRUE(log);
  ComPtr<IDispatch> disp = log.As<IDispatch>(IID_IDispatch);
  const unsigned seed = 380;
  Hostile h(seed);
  std::set<DISPID> known(std::begin(kMembers), std::end(kMembers));
  known.insert(std::begin(kBoxMembers), std::end(kBoxMembers));
  int succeeded = 0, raised = 0, refused = 0;

  for (int call = 0; call < 100000; ++call) {
    const int kind = h.Int(0, 19);
    const bool boxMember = kind == 0;  // only ever with more arguments than any member takes
    DISPID id = kind < 3 ? h.Pick(kOthers, std::size(kOthers)) : h.Pick(kMembers, std::size(kMembers));
    if (boxMember) id = h.Pick(kBoxMembers, std::size(kBoxMembers));
    WORD flags = h.Pick(kFlags, std::size(kFlags));
    if (id == 0x68030002 && (flags & DISPATCH_PROPERTYPUT)) flags = DISPATCH_PROPERTYGET;
    // Half the calls look like a script's: a fitting count of plausible values.
    const bool plausible = !boxMember && kind >= 3 && h.Int(0, 1) == 0;
    auto [fewest, most] = ArgumentRange(id);
    const UINT cArgs = static_cast<UINT>(boxMember   ? h.Int(kMostParams + 1, 11)
                                         : plausible ? h.Int(fewest, most)
                                                     : h.Int(0, 11));
    const UINT cNamed =
        !boxMember && !plausible && h.Int(0, 4) == 0 ? static_cast<UINT>(h.Int(0, static_cast<int>(cArgs))) : 0;
    std::vector<VARIANT> args;
    for (UINT i = 0; i < cArgs; ++i) args.push_back(h.RandomArg(i, plausible));
    std::vector<DISPID> named;
    for (UINT i = 0; i < cNamed; ++i) named.push_back(h.Int(0, 3) ? h.Int(-1, 9) : DISPID_PROPERTYPUT);
    DISPPARAMS params = {args.empty() ? nullptr : args.data(), named.empty() ? nullptr : named.data(), cArgs, cNamed};
    const bool otherIid = h.Int(0, 99) == 0;

    Var result;
    EXCEPINFO excep{};
    UINT argErr = 0xFFFFFFFF;
    HRESULT hr = disp->Invoke(id, otherIid ? IID_IUnknown : IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.get(),
                              &excep, &argErr);
    SCOPED_TRACE(testing::Message() << "call " << call << " id " << std::hex << id << " flags " << flags << std::dec
                                    << " args " << cArgs << " named " << cNamed);
    if (hr == S_OK) {
      ++succeeded;
    } else if (hr == DISP_E_EXCEPTION) {
      ++raised;
      EXPECT_TRUE(FAILED(excep.scode));
    } else {
      ++refused;
      ASSERT_TRUE(IsDispatchError(hr)) << std::hex << hr;
      if (otherIid) {
        EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, hr);
      } else if (!known.count(id)) {
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, hr);
      }
      if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) {
        EXPECT_LT(argErr, cArgs);
      }
    }
    if (!otherIid && known.count(id) && cArgs - cNamed > kMostParams) {
      EXPECT_NE(S_OK, hr);
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    for (VARIANT& v : args)
      if (!(v.vt & VT_BYREF) && v.vt != (VT_ARRAY | VT_I4) && v.vt != 0x7FF && v.vt != VT_RECORD) VariantClear(&v);
    if (::testing::Test::HasFatalFailure()) return;
  }
  std::printf("hostile calls: %d succeeded, %d raised, %d refused\n", succeeded, raised, refused);
  EXPECT_GT(succeeded, 5000);
  EXPECT_GT(raised, 100);
  EXPECT_GT(refused, 10000);

  // Still answering, and nothing left alive once released.
  BSTR path = SysAllocString(L"C:\\Temp");
  Bstr slashed;
  ASSERT_HRESULT_SUCCEEDED(log->AppendSlash(&path, slashed.Put()));
  EXPECT_STREQ(L"C:\\Temp\\", slashed.get());
  SysFreeString(path);
  ASSERT_HRESULT_SUCCEEDED(log->Main());
  disp = nullptr;
  SetErrorInfo(0, nullptr);
  // The server never unloads, so DllCanUnloadNow cannot tell; the object's own count can.
  _ErrorLog* last = log.get();
  last->AddRef();
  log = nullptr;
  EXPECT_EQ(0u, last->Release()) << "references the hostile calls left on the object";
}

TEST(HostileInvoke, RandomNamesNeverCrash) {
  Apartment apartment;
  ComPtr<_ErrorLog> log = NewErrorLog();
  ASSERT_TRUE(log);
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::wstring a(static_cast<size_t>(rng() % 20), L'\0');
    for (wchar_t& c : a) c = static_cast<wchar_t>(1 + rng() % 0xD7FF);
    std::wstring b = L"LogError";
    LPOLESTR names[3] = {rng() % 2 ? b.data() : a.data(), rng() % 3 ? a.data() : nullptr, a.data()};
    DISPID ids[3] = {};
    HRESULT hr = log->GetIDsOfNames(IID_NULL, names, static_cast<UINT>(rng() % 4), LOCALE_USER_DEFAULT, ids);
    EXPECT_TRUE(hr == S_OK || hr == DISP_E_UNKNOWNNAME) << std::hex << hr;
  }
}
