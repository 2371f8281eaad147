// Registry lookups that must come out byte for byte the same on every platform: what
// each test key holds, and what LookUpValueForKey gives for it. The Windows tests
// store the keys with reg.exe, the native tests with a .reg file; both check the
// same expectations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vx380/Automation.h"
#include "vx380/Platform.h"

namespace vx380::testcases {

constexpr Long kLocalMachine = kHKeyLocalMachine;

// Every test key lives below this key, in both roots.
inline const std::string kTestRoot = "Software\\VX380Test";

enum class Kind { kString, kBinary, kDword };

// One value stored under a key. Texts are UTF-8; binary data are the raw bytes.
struct StoredValue {
  std::string name;  // "" is the key's default value
  Kind kind;
  std::string data;
  std::uint32_t dword = 0;
};

// What becomes of szValue.
enum class Outcome {
  kValue,        // equals expectedValue
  kUntouched,    // keeps what the caller had in it
  kUnspecified,  // anything (data that did not fit)
};

struct RegistryCase {
  const char* name;  // also the test's name
  Long root;
  std::string key;  // below the root, kTestRoot included
  bool create;      // store the key with its values; false: the case stores nothing
  std::vector<StoredValue> values;
  bool nameOmitted;
  std::string queryName;  // szName when not omitted (ASCII)
  Boolean expected;
  Outcome outcome;
  String expectedValue;
};

// What a caller's variable holds before the call, to see whether it is touched.
inline const String kUntouchedMarker = u"caller's text";

inline std::string Digits(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
  return s;
}

inline String Widen(const std::string& ascii) { return String(ascii.begin(), ascii.end()); }

inline const std::vector<RegistryCase>& RegistryCases() {
  static const std::vector<RegistryCase> cases = [] {
    const std::string k = kTestRoot + "\\";
    const String spaces(255, u' ');
    std::string full255;
    for (int i = 0; i < 255; ++i) full255 += static_cast<char>('a' + i % 26);
    std::vector<RegistryCase> c = {
        {"StringValue",
         kHKeyCurrentUser,
         k + "Log",
         true,
         {{"", Kind::kString, "Log"}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         u"Log"},
        {"EmptyString",
         kHKeyCurrentUser,
         k + "Empty",
         true,
         {{"", Kind::kString, ""}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         u""},
        {"String254Fits",
         kHKeyCurrentUser,
         k + "Long254",
         true,
         {{"", Kind::kString, Digits(254)}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         Widen(Digits(254))},
        {"String255TooLong",
         kHKeyCurrentUser,
         k + "Long255",
         true,
         {{"", Kind::kString, Digits(255)}},
         false,
         "",
         kFalse,
         Outcome::kUnspecified,
         u""},
        {"BinaryWithoutNul",
         kHKeyCurrentUser,
         k + "NoNul",
         true,
         {{"", Kind::kBinary, "ABC"}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         u"AB"},
        {"BinaryEmbeddedNul",
         kHKeyCurrentUser,
         k + "InnerNul",
         true,
         {{"", Kind::kBinary, std::string("A\0B\0", 4)}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         String(u"A\0B", 3)},
        {"BinaryFills255",
         kHKeyCurrentUser,
         k + "Binary255",
         true,
         {{"", Kind::kBinary, full255}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         Widen(full255.substr(0, 254))},
        {"BinaryNoBytes",
         kHKeyCurrentUser,
         k + "NoBytes",
         true,
         {{"", Kind::kBinary, ""}},
         false,
         "",
         kFalse,
         Outcome::kValue,
         spaces},
        {"DwordOne",
         kHKeyCurrentUser,
         k + "Dword",
         true,
         {{"", Kind::kDword, "", 1}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         String(u"\x01\0\0", 3)},
        {"NoDefaultValue",
         kHKeyCurrentUser,
         k + "NoDefault",
         true,
         {{"Other", Kind::kString, "named"}},
         false,
         "",
         kFalse,
         Outcome::kValue,
         spaces},
        {"NamedValue",
         kHKeyCurrentUser,
         k + "NoDefault",
         true,
         {{"Other", Kind::kString, "named"}},
         false,
         "Other",
         kTrue,
         Outcome::kValue,
         u"named"},
        {"KeyWithoutValues", kHKeyCurrentUser, k + "Bare", true, {}, false, "", kFalse, Outcome::kValue, spaces},
        {"NameOmitted",
         kHKeyCurrentUser,
         k + "Log",
         true,
         {{"", Kind::kString, "Log"}},
         true,
         "",
         kFalse,
         Outcome::kValue,
         spaces},
        {"MissingKey", kHKeyCurrentUser, k + "Missing", false, {}, false, "", kFalse, Outcome::kUntouched, u""},
        {"MissingParentKey",
         kHKeyCurrentUser,
         k + "Nowhere\\Deeper",
         false,
         {},
         false,
         "",
         kFalse,
         Outcome::kUntouched,
         u""},
        {"InvalidRoot", 0, k + "Log", false, {}, false, "", kFalse, Outcome::kUntouched, u""},
        {"LocalMachine",
         kLocalMachine,
         k + "Machine",
         true,
         {{"", Kind::kString, "LogAndDisplay"}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         u"LogAndDisplay"},
        {"AnsiText",
         kHKeyCurrentUser,
         k + "Ansi",
         true,
         {{"", Kind::kString, "Caf\xC3\xA9 \xE2\x82\xAC"}},
         false,
         "",
         kTrue,
         Outcome::kValue,
         u"Caf\u00e9 \u20ac"},
        {"KeyNameCaseInsensitive", kHKeyCurrentUser, k + "LOG", false, {}, false, "", kTrue, Outcome::kValue, u"Log"},
    };
    return c;
  }();
  return cases;
}

}  // namespace vx380::testcases
