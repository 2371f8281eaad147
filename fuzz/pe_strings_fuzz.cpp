// Fuzz target: the string tables of PE images.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/posix/PeResources.h"

using vx380::posix::StringTable;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto table = StringTable::FromImage(std::span<const unsigned char>(data, size));
  if (!table) return 0;
  // The first blocks and the last one (ids that wrap the 16-bit block number).
  for (std::uint32_t id = 0; id < 256; ++id) {
    for (std::uint32_t base : {0u, 0xFFF00u, 0xFFFFFF00u}) {
      const std::u16string* text = table->Find(base + id);
      if (text && text->empty()) std::abort();  // an empty string is reported as none
    }
  }
  return 0;
}
