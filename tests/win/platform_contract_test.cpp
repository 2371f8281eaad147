// The Windows platform keeps what every platform keeps.
#include <windows.h>

#include "PlatformContract.h"
#include "WinTestSupport.h"

namespace vx380::testcases {
namespace {

struct WindowsPlace {
  static constexpr bool kThreadSafe = true;
  wintest::ScratchFolder folder{L"contract"};
  Platform& Under() { return SystemPlatform(); }
  String ScratchFile() { return folder.File(L"contract.txt"); }
  void StoreString(const std::string& key, const std::string& name, const std::string& text) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(opened, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(opened);
  }
  ~WindowsPlace() { RegDeleteKeyA(HKEY_CURRENT_USER, kContractKey.c_str()); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Windows, PlatformContract, ::testing::Types<WindowsPlace>);

}  // namespace
}  // namespace vx380::testcases
