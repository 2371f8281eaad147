// The POSIX settings store: registry reads served from .reg files named by VX380_HKCU/VX380_HKLM.
#include <gtest/gtest.h>

#include <random>

#include "PosixTestSupport.h"
#include "vx380/Platform.h"
#include "vx380/PosixPlatform.h"

namespace vx380::testing {
namespace {

using namespace std::string_literals;

constexpr Long kHklm = kHKeyLocalMachine;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// UTF-16LE with BOM, as the registry editor exports.
std::string Utf16File(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

class RegistryFiles : public ::testing::Test {
 protected:
  ScratchDir dir;
  ScopedEnv user{"VX380_HKCU", dir.File("user.reg")};
  ScopedEnv machine{"VX380_HKLM", dir.File("machine.reg")};
  Platform& platform = SystemPlatform();

  void WriteUser(const std::string& bytes) { dir.Write("user.reg", bytes); }

  bool KeyExists(Long root, const std::string& key) {
    RegKeyHandle h = 0;
    if (!platform.OpenSettingsKey(root, key, h)) return false;
    platform.CloseSettingsKey(h);
    return true;
  }

  // The value's bytes through a buffer of `room` bytes; nullopt when the open or query fails.
  std::optional<std::string> Read(Long root, const std::string& key, const std::string& name,
                                  std::uint32_t room = 255) {
    RegKeyHandle h = 0;
    if (!platform.OpenSettingsKey(root, key, h)) return std::nullopt;
    std::string buffer(room, '\xCC');
    std::uint32_t size = room;
    const bool ok = platform.QuerySettingsValue(h, name, reinterpret_cast<unsigned char*>(buffer.data()), &size);
    platform.CloseSettingsKey(h);
    if (!ok) return std::nullopt;
    buffer.resize(size);
    return buffer;
  }
  std::optional<std::string> ReadUser(const std::string& key, const std::string& name) {
    return Read(kHKeyCurrentUser, key, name);
  }
};

TEST_F(RegistryFiles, PublishesTheFilesItReads) {
  EXPECT_EQ(posix::SettingsFilePath(kHKeyCurrentUser), dir.File("user.reg"));
  EXPECT_EQ(posix::SettingsFilePath(kHklm), dir.File("machine.reg"));
  EXPECT_EQ(posix::SettingsFilePath(0x80000003), "");
  ScopedEnv noOverride("VX380_HKCU", std::nullopt);
  ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(posix::SettingsFilePath(kHKeyCurrentUser), "/cfg/vx380/user.reg");
}

TEST_F(RegistryFiles, Regedit4StringsAreTheirAnsiBytesAndANul) {
  WriteUser(
      "REGEDIT4\r\n\r\n"
      "; settings of one application\r\n"
      "[HKEY_CURRENT_USER\\Software\\Meridox\\Applications\\App.Application\\ErrorReporting\\ReportingLevel]\r\n"
      "@=\"Log\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
      "\"Empty\"=\"\"\r\n"
      "\"Path\"=\"C:\\\\Temp\\\\a \\\"b\\\"\"\r\n"
      "\"Verbatim\"=\"C:\\Temp\"\r\n"
      "\"Latin\"=\"caf\xE9\"\r\n"
      "  \"Spaced\" = \"x\"   \r\n");
  EXPECT_EQ(ReadUser("SOFTWARE\\meridox\\Applications\\APP.application\\ErrorReporting\\ReportingLevel", ""),
            std::string("Log\0", 4));
  EXPECT_EQ(ReadUser("Software\\Test", "Empty"), std::string("\0", 1));
  EXPECT_EQ(ReadUser("Software\\Test", "path"), std::string("C:\\Temp\\a \"b\"\0", 14));
  EXPECT_EQ(ReadUser("Software\\Test", "Verbatim"), std::string("C:\\Temp\0", 8));
  EXPECT_EQ(ReadUser("Software\\Test", "LATIN"), std::string("caf\xE9\0", 5));
  EXPECT_EQ(ReadUser("Software\\Test", "Spaced"), std::string("x\0", 2));
  EXPECT_EQ(ReadUser("Software\\Test", ""), std::nullopt);
}

TEST_F(RegistryFiles, NumbersAndHexDataGoOverContinuationLines) {
  WriteUser(
      "REGEDIT4\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\n"
      "\"One\"=dword:00000001\n"
      "\"Big\"=DWORD:12345678\n"
      "\"Short\"=dword:ff\n"
      "\"Bin\"=hex:de,ad,\\\n"
      "  be,ef\n"
      "; a comment between values\n"
      "\"Expand\"=hex(2):41,42,00\n"
      "\"Raw\"=hex(0):\n"
      "\"Quad\"=hex(b):01,00,00,00,00,00,00,80\n"
      "\"After\"=\"still read\"\n");
  EXPECT_EQ(ReadUser("Software\\Test", "One"), Bytes({1, 0, 0, 0}));
  EXPECT_EQ(ReadUser("Software\\Test", "Big"), Bytes({0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(ReadUser("Software\\Test", "Short"), Bytes({0xFF, 0, 0, 0}));
  EXPECT_EQ(ReadUser("Software\\Test", "Bin"), Bytes({0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(ReadUser("Software\\Test", "Expand"), std::string("AB\0", 3));  // ANSI in REGEDIT4
  EXPECT_EQ(ReadUser("Software\\Test", "Raw"), "");
  EXPECT_EQ(ReadUser("Software\\Test", "Quad"), Bytes({1, 0, 0, 0, 0, 0, 0, 0x80}));
  EXPECT_EQ(ReadUser("Software\\Test", "After"), std::string("still read\0", 11));
}

TEST_F(RegistryFiles, UnicodeFilesAreReadInTheAnsiCodePage) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\Test]\r\n"
      u"@=\"\u20ACuro \u0100\"\r\n"
      u"\"NoNul\"=hex(1):41,00,42,00\r\n"
      u"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      u"\"Number\"=dword:00000001\r\n"
      u"\"Bin\"=hex:41,00\r\n";
  for (const std::string& file : {Utf16File(text), ToUtf8(text)}) {
    SCOPED_TRACE(file.substr(0, 2) == "\xFF\xFE" ? "UTF-16" : "UTF-8");
    WriteUser(file);
    EXPECT_EQ(ReadUser("Software\\Test", ""), std::string("\x80uro ?\0", 7));
    // A string stored without its NUL comes back without one.
    EXPECT_EQ(ReadUser("Software\\Test", "NoNul"), "AB");
    EXPECT_EQ(ReadUser("Software\\Test", "Multi"), std::string("a\0b\0\0", 5));
    EXPECT_EQ(ReadUser("Software\\Test", "Number"), Bytes({1, 0, 0, 0}));
    EXPECT_EQ(ReadUser("Software\\Test", "Bin"), Bytes({0x41, 0}));  // binary stays as stored
  }
}

TEST_F(RegistryFiles, QueriesReportTheStoredSizeAndFailWhenItDoesNotFit) {
  WriteUser("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Test]\n\"254\"=\"" + std::string(254, 'a') + "\"\n\"255\"=\"" +
            std::string(255, 'b') + "\"\n");
  EXPECT_EQ(ReadUser("Software\\Test", "254"), std::string(254, 'a') + '\0');
  EXPECT_EQ(ReadUser("Software\\Test", "255"), std::nullopt);

  RegKeyHandle h = 0;
  ASSERT_TRUE(platform.OpenSettingsKey(kHKeyCurrentUser, "Software\\Test", h));
  unsigned char buffer[255];
  std::uint32_t size = sizeof buffer;
  EXPECT_FALSE(platform.QuerySettingsValue(h, "255", buffer, &size));
  EXPECT_EQ(size, 256u);
  size = 0;
  EXPECT_TRUE(platform.QuerySettingsValue(h, "255", nullptr, &size));
  EXPECT_EQ(size, 256u);
  size = sizeof buffer;
  EXPECT_FALSE(platform.QuerySettingsValue(h, "missing", buffer, &size));
  platform.CloseSettingsKey(h);
  size = sizeof buffer;
  EXPECT_FALSE(platform.QuerySettingsValue(h, "254", buffer, &size)) << "a closed key reads nothing";
}

TEST_F(RegistryFiles, KeysExistWhenNamedOrWhenASubkeyIsNamed) {
  WriteUser(
      "REGEDIT4\n"
      "[HKEY_CURRENT_USER\\Software\\A\\B\\C]\n\"x\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\Software\\NoDefault]\n\"named\"=\"v\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\n@=\"not this hive\"\n"
      "[HKEY_CURRENT_USER]\n\"AtRoot\"=\"r\"\n");
  dir.Write("machine.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel]\n@=\"1\"\n");

  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, ""));
  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, "Software"));
  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, "software\\a\\b"));
  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, "Software\\A\\B\\C\\"));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\A\\X"));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\A\\B\\C\\D"));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "\\Software\\A"));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\Elsewhere"));
  EXPECT_FALSE(KeyExists(kHklm, "Software\\Elsewhere"));
  EXPECT_FALSE(KeyExists(static_cast<Long>(0x80000003u), "Software"));
  EXPECT_FALSE(KeyExists(0, ""));

  EXPECT_EQ(ReadUser("", "AtRoot"), std::string("r\0", 2));
  unsigned char root[4];
  std::uint32_t rootSize = sizeof root;
  EXPECT_TRUE(platform.QuerySettingsValue(kHKeyCurrentUser, "atroot", root, &rootSize)) << "a root is always open";
  EXPECT_EQ(rootSize, 2u);

  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, "Software\\NoDefault"));
  EXPECT_EQ(ReadUser("Software\\NoDefault", ""), std::nullopt);
  EXPECT_EQ(Read(kHklm, "SOFTWARE\\Meridox\\DEBUG\\LogMessageLevel", ""), std::string("1\0", 2));

  // An open key serves as the parent of another open.
  RegKeyHandle parent = 0, child = 0;
  ASSERT_TRUE(platform.OpenSettingsKey(kHKeyCurrentUser, "Software\\A", parent));
  ASSERT_TRUE(platform.OpenSettingsKey(static_cast<Long>(parent), "B\\C", child));
  unsigned char buffer[8];
  std::uint32_t size = sizeof buffer;
  EXPECT_TRUE(platform.QuerySettingsValue(child, "x", buffer, &size));
  EXPECT_EQ(size, 2u);
  platform.CloseSettingsKey(child);
  platform.CloseSettingsKey(parent);
  EXPECT_FALSE(platform.OpenSettingsKey(static_cast<Long>(parent), "B", child)) << "closed parent";
}

TEST_F(RegistryFiles, DeletionsUnknownTypesAndBrokenLinesAreSkipped) {
  WriteUser(
      "REGEDIT4\n"
      "\"Orphan\"=\"before any key\"\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\n"
      "\"Kept\"=\"yes\"\n"
      "\"Deleted\"=-\n"
      "\"Quad\"=qword:1\n"
      "\"BadHex\"=hex:zz,01\n"
      "\"TooLong\"=dword:123456789\n"
      "\"Unclosed\"=\"abc\n"
      "\"Trailing\"=\"abc\" junk\n"
      "\"NoEquals\" \"abc\"\n"
      "garbage line\n"
      "[HKEY_CURRENT_USER\\Software\\Test\n"
      "\"AfterBrokenKey\"=\"x\"\n"
      "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
      "\"AfterDeletion\"=\"x\"\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\n"
      "\"Last\"=\"read\"\n");
  EXPECT_EQ(ReadUser("Software\\Test", "Kept"), std::string("yes\0", 4));
  EXPECT_EQ(ReadUser("Software\\Test", "Last"), std::string("read\0", 5));
  for (const char* name : {"Orphan", "Deleted", "Quad", "BadHex", "TooLong", "Unclosed", "Trailing", "NoEquals",
                           "AfterBrokenKey", "AfterDeletion"})
    EXPECT_EQ(ReadUser("Software\\Test", name), std::nullopt) << name;
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\Gone"));
}

TEST_F(RegistryFiles, FilesWithoutAHeaderOrWithoutAFileHoldOnlyTheRoot) {
  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, ""));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software"));
  WriteUser("[HKEY_CURRENT_USER\\Software\\Test]\n@=\"x\"\n");
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\Test"));
}

TEST_F(RegistryFiles, EveryOpenSeesTheFileAsItIsNow) {
  const std::string key = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Level]\n@=";
  WriteUser(key + "\"Log\"\n");
  EXPECT_EQ(ReadUser("Software\\Level", ""), std::string("Log\0", 4));
  WriteUser(key + "\"Off\"\n");  // same size, same second
  EXPECT_EQ(ReadUser("Software\\Level", ""), std::string("Off\0", 4));
  std::filesystem::remove(dir.File("user.reg"));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\Level"));
}

TEST_F(RegistryFiles, MalformedFilesAreReadAsFarAsTheyAreValid) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n\"A\"=\"first\"\r\n"
      u"\"B\"=hex(1):41,00,\\\r\n  42,00\r\n";
  WriteUser(Utf16File(text) + "\x42");  // odd length
  EXPECT_EQ(ReadUser("Software\\Test", "A"), std::string("first\0", 6));
  EXPECT_EQ(ReadUser("Software\\Test", "B"), "AB");

  // Cut anywhere: no crash, and a value whose line is whole is read.
  const std::string whole = Utf16File(text);
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    WriteUser(whole.substr(0, cut));
    const auto a = ReadUser("Software\\Test", "A");
    if (cut >= whole.find("\r\0\n\0\"\0B"s)) {
      EXPECT_EQ(a, std::string("first\0", 6)) << cut;
    }
  }

  // A 1 MB line, then more settings.
  WriteUser("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Huge\"=\"" + std::string(1 << 20, 'h') +
            "\"\n\"HugeHex\"=hex:" + std::string(1 << 20, ',') + "\n\"Small\"=\"s\"\n");
  EXPECT_EQ(ReadUser("Software\\Test", "Small"), std::string("s\0", 2));
  EXPECT_EQ(ReadUser("Software\\Test", "Huge"), std::nullopt);
  EXPECT_EQ(Read(kHKeyCurrentUser, "Software\\Test", "Huge", (1 << 20) + 1)->size(), (1u << 20) + 1);

  // A key 250 000 levels deep (the registry stops at 512) is read in linear time.
  std::string deep = "REGEDIT4\n[HKEY_CURRENT_USER\\Software";
  for (int i = 0; i < 250000; ++i) deep += "\\k";
  WriteUser(deep + "]\n@=\"deep\"\n");
  EXPECT_TRUE(KeyExists(kHKeyCurrentUser, "Software\\k\\k\\k"));
  EXPECT_FALSE(KeyExists(kHKeyCurrentUser, "Software\\k\\x"));

  // Random damage to a valid file never crashes the reader.
  const std::string valid =
      "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n@=\"d\"\r\n\"N\"=dword:00000010\r\n"
      "\"H\"=hex(7):61,00,\\\r\n 62,00\r\n[HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n\"S\"=\"x\\\\y\"\r\n";
  std::mt19937 random(380);
  for (int round = 0; round < 400; ++round) {
    std::string damaged = round % 2 ? Utf16File(FromUtf8(valid)) : valid;
    for (int k = 0; k < 1 + round % 8; ++k) {
      const std::size_t at = random() % damaged.size();
      switch (random() % 3) {
        case 0:
          damaged[at] = static_cast<char>(random());
          break;
        case 1:
          damaged.erase(at, 1 + random() % 4);
          break;
        default:
          damaged.insert(at, 1, "\\\"[]\r\n,:;=@\0"[random() % 12]);
          break;
      }
      if (damaged.empty()) damaged.assign(1, 'x');
    }
    WriteUser(damaged);
    for (const char* key : {"", "Software\\Test", "Software\\Test\\Sub"})
      for (const char* name : {"", "N", "H", "S"}) (void)ReadUser(key, name);
  }
}

}  // namespace
}  // namespace vx380::testing
