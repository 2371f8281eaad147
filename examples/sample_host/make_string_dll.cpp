// Makes a resource-only Windows DLL (PE32+, x86-64) from the STRINGTABLE of a .rc file, so a
// native build has the sample host's user texts in a real resource module without a cross
// compiler: make_string_dll messages.rc SampleMessages.dll
//
// It understands what a string table needs: `id "text"` lines (an optional comma between)
// inside STRINGTABLE ... BEGIN/{ ... END/}, "" and the escapes \" \\ \n \t \r in the text,
// and // or ; comments on lines of their own. The texts get the language US English.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Table = std::map<std::uint32_t, std::u16string>;

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kLanguage = 0x409;  // US English, as a resource compiler's default
constexpr std::uint32_t kRtString = 6;

std::uint32_t Align(std::uint32_t value, std::uint32_t to) { return (value + to - 1) / to * to; }

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
  Put32(b, at, static_cast<std::uint32_t>(v));
  Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = utf8[i];
    const int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra >= utf8.size()) throw std::runtime_error("the text is not UTF-8");
    std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) code = (code << 6) | (utf8[i + k] & 0x3F);
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

// The quoted text that starts at `at` (the opening quote), with its escapes resolved.
std::string Quoted(const std::string& line, std::size_t at) {
  std::string text;
  for (std::size_t i = at + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (i + 1 < line.size() && line[i + 1] == '"') {
        text += '"', ++i;
        continue;
      }
      return text;
    }
    if (c == '\\' && i + 1 < line.size()) {
      const char e = line[++i];
      text += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      continue;
    }
    text += c;
  }
  throw std::runtime_error("a text lacks its closing quote: " + line);
}

Table ReadStringTable(std::istream& rc) {
  Table table;
  std::string line;
  bool inTable = false, inBlock = false;
  while (std::getline(rc, line)) {
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first.rfind("//", 0) == 0 || first[0] == ';') continue;
    if (first == "STRINGTABLE") inTable = true;
    else if (inTable && !inBlock && (first == "BEGIN" || first == "{")) inBlock = true;
    else if (inBlock && (first == "END" || first == "}")) inTable = inBlock = false;
    else if (inBlock) {
      const std::size_t quote = line.find('"');
      if (quote == std::string::npos) throw std::runtime_error("not an `id \"text\"` line: " + line);
      const unsigned long id = std::stoul(first);
      if (id > 0xFFFF) throw std::runtime_error("a string id above 65535: " + line);
      table[static_cast<std::uint32_t>(id)] = Utf16(Quoted(line, quote));
    }
  }
  if (table.empty()) throw std::runtime_error("no STRINGTABLE entries");
  return table;
}

// Directory header with `count` id entries at `at`; the entries follow it.
void Directory(Bytes& b, std::size_t at, std::uint32_t count) { Put16(b, at + 14, count); }

// The .rsrc section: root -> RT_STRING -> one directory per block of 16 ids -> US English
// -> data entry -> the block's 16 counted strings.
Bytes ResourceSection(const Table& table) {
  std::map<std::uint32_t, std::vector<std::u16string>> blocks;
  for (const auto& [id, text] : table) {
    auto& block = blocks[(id >> 4) + 1];
    block.resize(16);
    block[id & 15] = text;
  }
  const auto n = static_cast<std::uint32_t>(blocks.size());
  const std::uint32_t typeDir = 24, languageDirs = typeDir + 16 + 8 * n, dataEntries = languageDirs + 24 * n;
  std::uint32_t data = dataEntries + 16 * n;
  Bytes b(data);
  Directory(b, 0, 1);
  Put32(b, 16, kRtString);
  Put32(b, 20, 0x80000000u | typeDir);
  Directory(b, typeDir, n);
  std::uint32_t i = 0;
  for (const auto& [blockId, texts] : blocks) {
    Put32(b, typeDir + 16 + 8 * i, blockId);
    Put32(b, typeDir + 20 + 8 * i, 0x80000000u | (languageDirs + 24 * i));
    Directory(b, languageDirs + 24 * i, 1);
    Put32(b, languageDirs + 24 * i + 16, kLanguage);
    Put32(b, languageDirs + 24 * i + 20, dataEntries + 16 * i);
    const std::size_t start = b.size();
    for (const std::u16string& text : texts) {
      b.push_back(text.size() & 0xFF), b.push_back(text.size() >> 8);
      for (char16_t unit : text) b.push_back(unit & 0xFF), b.push_back(unit >> 8);
    }
    Put32(b, dataEntries + 16 * i, kSectionRva + static_cast<std::uint32_t>(start));
    Put32(b, dataEntries + 16 * i + 4, static_cast<std::uint32_t>(b.size() - start));
    b.resize(Align(static_cast<std::uint32_t>(b.size()), 8));
    ++i;
  }
  return b;
}

// DOS stub header, PE signature, COFF header, PE32+ optional header and one section header.
Bytes Image(const Bytes& rsrc) {
  const auto size = static_cast<std::uint32_t>(rsrc.size());
  const std::uint32_t raw = Align(size, kFileAlignment);
  Bytes b(kFileAlignment + raw);
  b[0] = 'M', b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  Put32(b, 0x40, 0x00004550);  // "PE\0\0"
  const std::size_t coff = 0x44, opt = coff + 20, section = opt + 240;
  Put16(b, coff, 0x8664);                         // x86-64
  Put16(b, coff + 2, 1);                          // one section
  Put16(b, coff + 16, 240);                       // optional header size
  Put16(b, coff + 18, 0x2000 | 0x0020 | 0x0002);  // DLL, large addresses, executable image
  Put16(b, opt, 0x20B);                           // PE32+
  Put32(b, opt + 8, raw);                         // initialised data
  Put32(b, opt + 20, kSectionRva);                // base of code (there is none)
  Put64(b, opt + 24, 0x180000000ull);             // image base
  Put32(b, opt + 32, kSectionAlignment);
  Put32(b, opt + 36, kFileAlignment);
  Put16(b, opt + 40, 6), Put16(b, opt + 48, 6);                      // operating system and subsystem 6.0
  Put32(b, opt + 56, kSectionRva + Align(size, kSectionAlignment));  // image size
  Put32(b, opt + 60, kFileAlignment);                                // headers size
  Put16(b, opt + 68, 2);                                             // Windows GUI subsystem
  Put16(b, opt + 70, 0x0100 | 0x0040);                               // NX compatible, dynamic base
  Put64(b, opt + 72, 0x100000), Put64(b, opt + 80, 0x1000);          // stack
  Put64(b, opt + 88, 0x100000), Put64(b, opt + 96, 0x1000);          // heap
  Put32(b, opt + 108, 16);                                           // data directories
  Put32(b, opt + 112 + 2 * 8, kSectionRva), Put32(b, opt + 112 + 2 * 8 + 4, size);  // resources
  const char name[8] = {'.', 'r', 's', 'r', 'c'};
  for (int k = 0; k < 8; ++k) b[section + k] = name[k];
  Put32(b, section + 8, size);
  Put32(b, section + 12, kSectionRva);
  Put32(b, section + 16, raw);
  Put32(b, section + 20, kFileAlignment);
  Put32(b, section + 36, 0x40000000u | 0x00000040u);  // readable, initialised data
  std::copy(rsrc.begin(), rsrc.end(), b.begin() + kFileAlignment);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_string_dll FILE.rc FILE.dll\n";
    return 2;
  }
  try {
    std::ifstream rc(argv[1]);
    if (!rc) throw std::runtime_error(std::string("cannot read ") + argv[1]);
    const Bytes image = Image(ResourceSection(ReadStringTable(rc)));
    const std::string temporary = std::string(argv[2]) + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out.flush() || (out.close(), std::rename(temporary.c_str(), argv[2]) != 0))
      throw std::runtime_error(std::string("cannot write ") + argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "make_string_dll: " << argv[1] << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
