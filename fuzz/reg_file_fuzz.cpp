// Fuzz target: the .reg reader, for both roots, and the name folding its lookups rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/RegFile.h"

using vx380::posix::RegFile;
using vx380::posix::RegRoot;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (RegRoot root : {RegRoot::kCurrentUser, RegRoot::kLocalMachine}) {
    const RegFile file = RegFile::Parse(bytes, root);
    if (!file.HasKey(u"")) std::abort();  // the root key always exists
    file.HasKey(u"Software\\Test");
    file.FindValue(u"Software\\Test", u"");
    file.FindValue(u"", u"AtRoot");
  }
  // Lookups compare folded names, so folding twice must change nothing.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const std::u16string folded = RegFile::Fold(units);
  if (RegFile::Fold(folded) != folded) std::abort();
  return 0;
}
