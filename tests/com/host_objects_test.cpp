// Host objects reached late-bound by the dump members: a matrix filled through an
// array of Doubles by reference, a drawing tree walked by name and enumeration,
// type names from type information, and host failures passed on as their own errors.
#include <gtest/gtest.h>

#include <cstring>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

class HostObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(capture.ok()) << "another debug-output listener is running";
    log = NewErrorLog();
    ASSERT_TRUE(log);
    SetErrorInfo(0, nullptr);
    capture.Clear();
  }
  Apartment apartment;
  DebugCapture capture;
  ComPtr<_ErrorLog> log;
};

// GetElements (dispatch id 19) as the drawing library answers it: row by row.
ComPtr<FakeObject> MakeMatrix(const double (&values)[16], std::string* seen) {
  auto m = FakeObject::Make();
  std::vector<double> v(values, values + 16);
  m->On(L"GetElements", 19, [v, seen](WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*) -> HRESULT {
    if (!(flags & DISPATCH_METHOD) || !p || p->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT& arg = p->rgvarg[0];
    if (arg.vt != (VT_BYREF | VT_ARRAY | VT_R8) || !arg.pparray || !*arg.pparray) return DISP_E_TYPEMISMATCH;
    SAFEARRAY* a = *arg.pparray;
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(a, 1, &lower);
    SafeArrayGetUBound(a, 1, &upper);
    if (seen) *seen = std::to_string(lower) + ".." + std::to_string(upper);
    for (LONG i = 0; i < 16; ++i) {
      LONG at = lower + i;
      SafeArrayPutElement(a, &at, const_cast<double*>(&v[i]));
    }
    return S_OK;
  });
  return m;
}

ComPtr<ITypeInfo> StatusTypeInfo() {
  ComPtr<ITypeLib> lib;
  LoadRegTypeLib(LIBID_VX380ErrorLogging, 1, 0, 0x409, lib.Put());
  ComPtr<ITypeInfo> info;
  if (lib) lib->GetTypeInfoOfGuid(IID__CErrorStatus, info.Put());
  return info;
}

ComPtr<FakeObject> MakeDrawing(const wchar_t* name, LONG type, IDispatch* children, ITypeInfo* info) {
  auto d = FakeObject::Make();
  d->Property(L"Name", 1, Str(name)).Property(L"Type", 2, Long(type));
  if (children) d->Property(L"DrawingObjects", 3, Object(children));
  if (info) d->WithTypeInfo(info);
  return d;
}

}  // namespace

TEST_F(HostObjects, MatrixIsReadThroughSeventeenDoublesByReference) {
  const double values[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 123.456, -0.5, 0, 1};
  std::string bounds;
  auto matrix = MakeMatrix(values, &bounds);
  IDispatch* xform = matrix.get();
  Bstr text;
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGMATRIX(&xform, text.Put()));
  EXPECT_EQ("0..16", bounds);
  std::wstring expected =
      L"\r\n"
      L"|  1.0000000 ,  0.0000000 ,  0.0000000 ,  0.0000000 |\r\n"
      L"|  0.0000000 ,  1.0000000 ,  0.0000000 ,  0.0000000 |\r\n"
      L"|  0.0000000 ,  0.0000000 ,  1.0000000 ,  0.0000000 |\r\n"
      L"| 123.4560000 , -0.5000000 ,  0.0000000 ,  1.0000000 |\r\n";
  EXPECT_EQ(expected, std::wstring(text.get()));
  EXPECT_EQ((std::vector<std::wstring>{L"GetElements"}), matrix->calls());
  EXPECT_EQ(xform, matrix.get()) << "the ByRef object reference is handed back unchanged";
}

TEST_F(HostObjects, HostFailuresKeepTheirOwnNumberSourceAndDescription) {
  auto matrix = FakeObject::Make();
  matrix->On(L"GetElements", 19, Raises(static_cast<HRESULT>(0x800A0457), L"Drw2d.Matrix", L"Matrix is singular"));
  IDispatch* xform = matrix.get();
  Bstr text;
  EXPECT_EQ(static_cast<HRESULT>(0x800A0457), log->RBDEBUGMATRIX(&xform, text.Put()));
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.Put()));
  Bstr source, description;
  info->GetSource(source.Put());
  info->GetDescription(description.Put());
  EXPECT_STREQ(L"Drw2d.Matrix", source.get());
  EXPECT_STREQ(L"Matrix is singular", description.get());

  // A failure HRESULT outside the control facility stays that HRESULT.
  auto other = FakeObject::Make();
  other->On(L"GetElements", 19, Raises(E_ACCESSDENIED, L"Drw2d", L"locked"));
  xform = other.get();
  EXPECT_EQ(E_ACCESSDENIED, log->RBDEBUGMATRIX(&xform, text.Put()));

  // An object without the member: 438.
  auto none = FakeObject::Make();
  xform = none.get();
  EXPECT_EQ(static_cast<HRESULT>(0x800A01B6), log->RBDEBUGMATRIX(&xform, text.Put()));
}

TEST_F(HostObjects, HierarchyWalksNamesTypesAndEnumerations) {
  ComPtr<ITypeInfo> typed = StatusTypeInfo();
  ASSERT_TRUE(typed);
  auto leaf1 = MakeDrawing(L"Pipe1", 0x2D4E13C0, nullptr, nullptr);
  auto leafKids = MakeCollection({});
  auto leaf2 = MakeDrawing(L"Pipe2", 5, leafKids.get(), typed.get());
  auto kids = MakeCollection({leaf1.get(), leaf2.get()});
  auto group = MakeDrawing(L"Group", 7, kids.get(), typed.get());
  IDispatch* root = group.get();
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGHIERARCHY(&root, 0));
  std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("RBDEBUGHIERARCHY ====Begin====\n", lines[0]);
  EXPECT_EQ("RBDEBUGHIERARCHY _CErrorStatus : Group\n", lines[2]);
  EXPECT_EQ("RBDEBUGHIERARCHY   Object : Pipe1\n", lines[3]) << "no type information: Object";
  EXPECT_EQ("RBDEBUGHIERARCHY   _CErrorStatus : Pipe2\n", lines[4]);
  EXPECT_EQ("RBDEBUGHIERARCHY =====End=====\n", lines[5]);
  EXPECT_EQ((std::vector<std::wstring>{L"Name", L"Type"}), leaf1->calls()) << "no children read for this type";
  EXPECT_EQ((std::vector<std::wstring>{L"Name", L"Type", L"DrawingObjects"}), group->calls());
}

TEST_F(HostObjects, HierarchyEndsQuietlyOnAMissingMember) {
  auto broken = FakeObject::Make();  // no Name
  auto good = MakeDrawing(L"Good", 0x2D4E13C0, nullptr, nullptr);
  auto kids = MakeCollection({broken.get(), good.get()});
  auto group = MakeDrawing(L"Group", 7, kids.get(), nullptr);
  IDispatch* root = group.get();
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGHIERARCHY(&root, 3));
  std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("RBDEBUGHIERARCHY       Object : Group\n", lines[0]);
  EXPECT_EQ("RBDEBUGHIERARCHY         Object : Good\n", lines[1]);
}

TEST_F(HostObjects, ObjectsAreReleasedAfterTheCall) {
  const double values[16] = {};
  auto matrix = MakeMatrix(values, nullptr);
  auto kids = MakeCollection({});
  auto group = MakeDrawing(L"Group", 7, kids.get(), nullptr);
  ULONG matrixRefs = matrix->refs(), groupRefs = group->refs(), kidRefs = kids->refs();
  IDispatch* xform = matrix.get();
  Bstr text;
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGMATRIX(&xform, text.Put()));
  IDispatch* root = group.get();
  ASSERT_HRESULT_SUCCEEDED(log->RBDEBUGHIERARCHY(&root, 1));
  EXPECT_EQ(matrixRefs, matrix->refs());
  EXPECT_EQ(groupRefs, group->refs());
  EXPECT_EQ(kidRefs, kids->refs());
}
