// The shared registry cases (tests/shared/RegistryCases.h) against the POSIX settings
// store, written as .reg files in both formats the registry editor exports. The Windows
// tests check the same table against the real registry.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "../shared/RegistryCaseCheck.h"
#include "vx380/ErrorLog.h"
#include "vx380/Platform.h"

namespace {

using vx380::Long;
using vx380::String;
using vx380::testcases::Kind;
using vx380::testcases::RegistryCase;

enum class Format { kUnicode, kAnsi };

String Quoted(const std::string& utf8) {
  String out = u"\"";
  for (char16_t c : vx380::FromUtf8(utf8)) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  return out + u"\"";
}

String Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  String out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += u',';
    out += static_cast<char16_t>(digits[b >> 4]);
    out += static_cast<char16_t>(digits[b & 15]);
  }
  return out;
}

// The .reg text of every case stored under one root, as the registry editor writes it.
String RegText(Format format, Long root) {
  String text = format == Format::kUnicode ? u"Windows Registry Editor Version 5.00\r\n" : u"REGEDIT4\r\n";
  const String rootName = root == vx380::testcases::kLocalMachine ? u"HKEY_LOCAL_MACHINE" : u"HKEY_CURRENT_USER";
  for (const RegistryCase& c : vx380::testcases::RegistryCases()) {
    if (!c.create || c.root != root) continue;
    text += u"\r\n[" + rootName + u"\\" + vx380::FromUtf8(c.key) + u"]\r\n";
    for (const auto& v : c.values) {
      text += v.name.empty() ? String(u"@") : Quoted(v.name);
      text += u"=";
      switch (v.kind) {
        case Kind::kString:
          text += Quoted(v.data);
          break;
        case Kind::kBinary:
          text += u"hex:" + Hex(v.data);
          break;
        case Kind::kDword: {
          char digits[16];
          std::snprintf(digits, sizeof digits, "%08x", v.dword);
          text += u"dword:" + vx380::FromUtf8(digits);
          break;
        }
      }
      text += u"\r\n";
    }
  }
  return text;
}

void WriteRegFile(const std::string& path, Format format, Long root) {
  const String text = RegText(format, root);
  std::string bytes;
  if (format == Format::kUnicode) {
    bytes = "\xFF\xFE";
    for (char16_t c : text) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
  } else {
    bytes = vx380::SystemPlatform().ToAnsi(text);  // REGEDIT4 files are in the ANSI code page
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

class RegistryFiles : public ::testing::TestWithParam<std::tuple<Format, RegistryCase>> {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/vx380-registry-cases-XXXXXX";
    folder_ = mkdtemp(pattern);
    for (Format f : {Format::kUnicode, Format::kAnsi}) {
      WriteRegFile(File(f, "user"), f, vx380::kHKeyCurrentUser);
      WriteRegFile(File(f, "machine"), f, vx380::testcases::kLocalMachine);
    }
  }
  static void TearDownTestSuite() {
    for (Format f : {Format::kUnicode, Format::kAnsi}) {
      std::remove(File(f, "user").c_str());
      std::remove(File(f, "machine").c_str());
    }
    rmdir(folder_.c_str());
  }
  static std::string File(Format f, const char* hive) {
    return folder_ + "/" + hive + (f == Format::kUnicode ? "-unicode.reg" : "-ansi.reg");
  }

  void SetUp() override {
    Keep("VX380_HKCU", saved_[0]);
    Keep("VX380_HKLM", saved_[1]);
    const Format f = std::get<0>(GetParam());
    setenv("VX380_HKCU", File(f, "user").c_str(), 1);
    setenv("VX380_HKLM", File(f, "machine").c_str(), 1);
    previous_ = vx380::SetPlatform(nullptr);  // the system's own settings store
  }
  void TearDown() override {
    vx380::SetPlatform(previous_);
    Restore("VX380_HKCU", saved_[0]);
    Restore("VX380_HKLM", saved_[1]);
  }

 private:
  struct Saved {
    bool set = false;
    std::string value;
  };
  static void Keep(const char* name, Saved& s) {
    const char* v = std::getenv(name);
    s = v ? Saved{true, v} : Saved{};
  }
  static void Restore(const char* name, const Saved& s) {
    if (s.set) setenv(name, s.value.c_str(), 1);
    else unsetenv(name);
  }
  static inline std::string folder_;
  Saved saved_[2];
  vx380::Platform* previous_ = nullptr;
};

TEST_P(RegistryFiles, MatchesTheSharedTable) { vx380::testcases::ExpectLookUpMatches(std::get<1>(GetParam())); }

INSTANTIATE_TEST_SUITE_P(Shared, RegistryFiles,
                         ::testing::Combine(::testing::Values(Format::kUnicode, Format::kAnsi),
                                            ::testing::ValuesIn(vx380::testcases::RegistryCases())),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) == Format::kUnicode ? "Unicode_" : "Ansi_") +
                                  std::get<1>(info.param).name;
                         });

}  // namespace
