// String resources of PE files on the POSIX platform: tables built here byte by byte (PE32 and
// PE32+), damaged copies of them, and DLLs built by the MinGW resource compiler.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <vector>

#include "PosixTestSupport.h"
#include "vx380/Platform.h"

namespace vx380::testing {
namespace {

struct Block {
  std::uint16_t id;  // (string id >> 4) + 1
  std::uint16_t language;
  std::map<int, std::u16string> strings;  // entry 0..15 -> text
};

void Put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A DLL image holding only a .rsrc section with these string blocks.
std::string BuildImage(bool pe32plus, const std::vector<Block>& blocks) {
  constexpr std::uint32_t kSectionRva = 0x1000, kSectionFile = 0x200;
  std::map<std::uint16_t, std::vector<const Block*>> byId;
  for (const Block& b : blocks) byId[b.id].push_back(&b);

  std::string rsrc(24 + 16 + 8 * byId.size(), '\0');
  Put16(rsrc, 14, 1);                 // root: one id entry
  Put32(rsrc, 16, 6);                 // RT_STRING
  Put32(rsrc, 20, 0x80000000u | 24);  // -> type directory
  Put16(rsrc, 24 + 14, static_cast<std::uint32_t>(byId.size()));
  std::vector<std::pair<std::size_t, const Block*>> dataEntries;
  std::size_t entry = 24 + 16;
  for (const auto& [id, languages] : byId) {
    const std::size_t dir = rsrc.size();
    Put32(rsrc, entry, id);
    Put32(rsrc, entry + 4, 0x80000000u | static_cast<std::uint32_t>(dir));
    entry += 8;
    rsrc.resize(dir + 16 + 8 * languages.size());
    Put16(rsrc, dir + 14, static_cast<std::uint32_t>(languages.size()));
    for (std::size_t i = 0; i < languages.size(); ++i) {
      Put32(rsrc, dir + 16 + 8 * i, languages[i]->language);
      dataEntries.emplace_back(dir + 16 + 8 * i + 4, languages[i]);
    }
  }
  for (auto& [slot, block] : dataEntries) {
    const std::size_t dataEntry = rsrc.size();
    rsrc.resize(dataEntry + 16);
    Put32(rsrc, slot, static_cast<std::uint32_t>(dataEntry));
    std::string data;
    for (int i = 0; i < 16; ++i) {
      const auto it = block->strings.find(i);
      const std::u16string text = it == block->strings.end() ? u"" : it->second;
      data.resize(data.size() + 2 + 2 * text.size());
      Put16(data, data.size() - 2 - 2 * text.size(), static_cast<std::uint32_t>(text.size()));
      for (std::size_t k = 0; k < text.size(); ++k) Put16(data, data.size() - 2 * text.size() + 2 * k, text[k]);
    }
    Put32(rsrc, dataEntry, kSectionRva + static_cast<std::uint32_t>(rsrc.size()));
    Put32(rsrc, dataEntry + 4, static_cast<std::uint32_t>(data.size()));
    rsrc += data;
  }

  std::string image(kSectionFile, '\0');
  image[0] = 'M', image[1] = 'Z';
  Put32(image, 0x3C, 0x40);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::size_t coff = 0x44, optional = coff + 20;
  const std::uint32_t optionalSize = pe32plus ? 240 : 224;
  Put16(image, coff, pe32plus ? 0x8664 : 0x14C);
  Put16(image, coff + 2, 1);
  Put16(image, coff + 16, optionalSize);
  Put16(image, coff + 18, 0x2102);
  Put16(image, optional, pe32plus ? 0x20B : 0x10B);
  const std::size_t directories = optional + (pe32plus ? 112 : 96);
  Put32(image, directories - 4, 16);
  Put32(image, directories + 16, kSectionRva);
  Put32(image, directories + 20, static_cast<std::uint32_t>(rsrc.size()));
  const std::size_t section = optional + optionalSize;
  image.replace(section, 5, ".rsrc");
  Put32(image, section + 8, static_cast<std::uint32_t>(rsrc.size()));
  Put32(image, section + 12, kSectionRva);
  Put32(image, section + 16, static_cast<std::uint32_t>(rsrc.size()));
  Put32(image, section + 20, kSectionFile);
  return image + rsrc;
}

const std::vector<Block> kBlocks = {
    {1, 0x0409, {{0, u"zero"}, {1, u"one"}, {15, u"fifteen"}}},
    {2, 0x0409, {{1, u"seventeen"}, {2, u"\u20AC \u0100 \U0001F600"}}},
    {3, 0x0409, {{0, std::u16string(600, u'x')}}},
    // Several languages: US English wins over German listed first; neutral wins over both.
    {4, 0x0407, {{0, u"Deutsch"}}},
    {4, 0x0409, {{0, u"English"}}},
    {5, 0x0407, {{0, u"Deutsch"}}},
    {5, 0x0000, {{0, u"Neutral"}}},
    {6, 0x040C, {{0, u"Fran\u00E7ais seulement"}}},
    {0x1000, 0x0409, {{15, u"high id"}}},
};

class ResourceModules : public ::testing::Test {
 protected:
  ScratchDir dir;
  Platform& platform = SystemPlatform();

  // Loads a file, asks for each id with a 512-char buffer, frees it.
  std::map<Long, std::string> Strings(const std::string& path, std::initializer_list<Long> ids) {
    std::map<Long, std::string> found;
    const ModuleHandle module = platform.LoadResourceModule(FromUtf8(path));
    EXPECT_NE(module, 0) << path;
    for (Long id : ids) found[id] = platform.LoadResourceString(module, id, 512);
    platform.FreeResourceModule(module);
    return found;
  }
};

TEST_F(ResourceModules, StringsComeFromTheirBlockInEitherImageFormat) {
  for (bool pe32plus : {false, true}) {
    SCOPED_TRACE(pe32plus ? "PE32+" : "PE32");
    const std::string path = dir.Write("strings.dll", BuildImage(pe32plus, kBlocks));
    auto s = Strings(path, {0, 1, 2, 15, 16, 17, 18, 48, 64, 80, 96, 0xFFFF, 99});
    EXPECT_EQ(s[0], "zero");
    EXPECT_EQ(s[1], "one");
    EXPECT_EQ(s[2], "");
    EXPECT_EQ(s[15], "fifteen");
    EXPECT_EQ(s[16], "");
    EXPECT_EQ(s[17], "seventeen");
    EXPECT_EQ(s[18], "\x80 ? ?");  // Windows-1252, one "?" per character it lacks
    EXPECT_EQ(s[48], "English");
    EXPECT_EQ(s[64], "Neutral");
    EXPECT_EQ(s[80],
              "Fran\xE7"
              "ais seulement");
    EXPECT_EQ(s[0xFFFF], "high id");
    EXPECT_EQ(s[99], "");
  }
}

TEST_F(ResourceModules, TextIsCutToTheBufferLessOne) {
  const std::string path = dir.Write("strings.dll", BuildImage(true, kBlocks));
  const ModuleHandle module = platform.LoadResourceModule(FromUtf8(path));
  ASSERT_NE(module, 0);
  EXPECT_EQ(platform.LoadResourceString(module, 32, 512), std::string(511, 'x'));
  EXPECT_EQ(platform.LoadResourceString(module, 32, 601), std::string(600, 'x'));
  EXPECT_EQ(platform.LoadResourceString(module, 1, 3), "on");
  EXPECT_EQ(platform.LoadResourceString(module, 1, 1), "");
  EXPECT_EQ(platform.LoadResourceString(module, 1, 0), "");
  platform.FreeResourceModule(module);
}

TEST_F(ResourceModules, HandlesAreDistinctAndDeadOnceFreed) {
  const std::string path = dir.Write("strings.dll", BuildImage(false, kBlocks));
  const ModuleHandle a = platform.LoadResourceModule(FromUtf8(path));
  const ModuleHandle b = platform.LoadResourceModule(FromUtf8(path));
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, b);
  platform.FreeResourceModule(a);
  EXPECT_EQ(platform.LoadResourceString(a, 1, 512), "");
  EXPECT_EQ(platform.LoadResourceString(b, 1, 512), "one");
  platform.FreeResourceModule(b);
  platform.FreeResourceModule(b);
  EXPECT_EQ(platform.LoadResourceString(b, 1, 512), "");
  EXPECT_EQ(platform.LoadResourceString(0, 1, 512), "");
  EXPECT_EQ(platform.LoadResourceString(987654, 1, 512), "");
}

TEST_F(ResourceModules, PathsAreFoundAsLoadLibraryFindsThem) {
  dir.Write("strings.dll", BuildImage(true, kBlocks));
  EXPECT_EQ(Strings(dir.path() + "\\strings.dll", {1})[1], "one");
  EXPECT_EQ(Strings(dir.File("strings"), {1})[1], "one") << "a name without extension means .dll";

  EXPECT_EQ(platform.LoadResourceModule(FromUtf8(dir.File("missing.dll"))), 0);
  EXPECT_EQ(platform.LoadResourceModule(u""), 0);
  EXPECT_EQ(platform.LoadResourceModule(FromUtf8(dir.path())), 0);
  EXPECT_EQ(platform.LoadResourceModule(FromUtf8(dir.Write("empty.dll", ""))), 0);
  EXPECT_EQ(platform.LoadResourceModule(FromUtf8(dir.Write("text.dll", "MZ but not really a DLL"))), 0);
  EXPECT_EQ(platform.LoadResourceModule(u"/dev/zero"), 0);

  // A real image without resources loads, and has no strings.
  auto s = Strings(dir.Write("bare.dll", BuildImage(true, {}).substr(0, 0x200)), {0, 1});
  EXPECT_EQ(s[0], "");
}

TEST_F(ResourceModules, DamagedImagesNeverCrash) {
  const std::string whole = BuildImage(false, kBlocks);
  for (std::size_t cut = 0; cut < whole.size(); cut += (cut < 0x240 ? 1 : 7)) {
    const ModuleHandle module = platform.LoadResourceModule(FromUtf8(dir.Write("cut.dll", whole.substr(0, cut))));
    for (Long id : {0, 1, 17, 18, 32, 48}) (void)platform.LoadResourceString(module, id, 512);
    platform.FreeResourceModule(module);
  }
  std::mt19937 random(1252);
  for (int round = 0; round < 1500; ++round) {
    std::string damaged = BuildImage(round % 2 == 0, kBlocks);
    for (int k = 0; k < 1 + round % 6; ++k) {
      // Mostly hit the headers and the resource directories, where offsets live.
      const std::size_t at = round % 3 ? 0x200 + random() % 0x100 : random() % damaged.size();
      damaged[at % damaged.size()] = static_cast<char>(round % 5 ? random() : 0xFF);
    }
    const ModuleHandle module = platform.LoadResourceModule(FromUtf8(dir.Write("bad.dll", damaged)));
    for (Long id : {0, 1, 17, 18, 32, 48, 64}) (void)platform.LoadResourceString(module, id, 512);
    platform.FreeResourceModule(module);
  }
}

#if defined(VX380_TEST_STRINGS_DLL_x86_64) || defined(VX380_TEST_STRINGS_DLL_i686)
TEST_F(ResourceModules, ReadsDllsBuiltByTheResourceCompiler) {
  std::vector<std::string> dlls;
#ifdef VX380_TEST_STRINGS_DLL_x86_64
  dlls.push_back(VX380_TEST_STRINGS_DLL_x86_64);
#endif
#ifdef VX380_TEST_STRINGS_DLL_i686
  dlls.push_back(VX380_TEST_STRINGS_DLL_i686);
#endif
  for (const std::string& dll : dlls) {
    SCOPED_TRACE(dll);
    auto s = Strings(dll, {1, 2, 3, 17, 1000, 4095, 4});
    EXPECT_EQ(s[1], "English one");
    EXPECT_EQ(s[2], "Euro \x80 and A-macron ?");
    EXPECT_EQ(s[3], "") << "the block comes whole from the English table";
    EXPECT_EQ(s[17], "Seventeen");
    EXPECT_EQ(s[1000], "Thousand \"quoted\"");
    EXPECT_EQ(s[4095], "Last of block 256");
    EXPECT_EQ(s[4], "");
  }
}
#else
TEST_F(ResourceModules, ReadsDllsBuiltByTheResourceCompiler) { GTEST_SKIP() << "no MinGW resource compiler"; }
#endif

}  // namespace
}  // namespace vx380::testing
