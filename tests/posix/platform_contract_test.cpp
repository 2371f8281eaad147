// The POSIX platform keeps what every platform keeps.
#include "PlatformContract.h"
#include "PosixTestSupport.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testcases {
namespace {

using namespace vx380::testing;

struct PosixPlace {
  static constexpr bool kThreadSafe = true;
  ScratchDir dir;
  ScopedEnv user{"VX380_HKCU", dir.File("user.reg")};
  ScopedEnv socket{"VX380_DEBUG_SOCKET", dir.File("nobody.sock")};  // lines go nowhere
  std::string values;
  Platform& Under() { return SystemPlatform(); }
  String ScratchFile() { return FromUtf8(dir.File("contract.txt")); }
  void StoreString(const std::string& key, const std::string& name, const std::string& text) {
    values += "\"" + name + "\"=\"" + text + "\"\n";
    dir.Write("user.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + key + "]\n" + values);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, PlatformContract, ::testing::Types<PosixPlace>);

}  // namespace
}  // namespace vx380::testcases
