// Plain ASCII text checked and narrowed to bytes many units at a time: a host that traces
// every routine makes a line per call, so a unit at a time is too slow.
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/AsciiText.h"

namespace vx380::core {

namespace {

constexpr std::uint64_t kNonAsciiUnits = 0xFF80FF80FF80FF80ull;  // 0xFF80 per unit, in any byte order

std::uint64_t Units4(const char16_t* in) {
  std::uint64_t word;
  std::memcpy(&word, in, sizeof word);
  return word;
}

// The low bytes of four units, in order, in the low 32 bits (units stored little-endian).
std::uint64_t LowBytes4(std::uint64_t word) {
  word &= 0x00FF00FF00FF00FFull;
  word = (word | word >> 8) & 0x0000FFFF0000FFFFull;
  return (word | word >> 16) & 0xFFFFFFFFull;
}

// Sixteen units at a time, in loops of a fixed length that compilers turn into vector code.
size_t NarrowBlocks(const char16_t* in, size_t count, char* out) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    char16_t any = 0;
    for (size_t k = 0; k < 16; ++k) any |= in[i + k];
    if (any & 0xFF80u) break;
    char block[16];  // a block of its own, so that the bytes cannot overlap the units
    for (size_t k = 0; k < 16; ++k) block[k] = static_cast<char>(in[i + k]);
    std::memcpy(out + i, block, sizeof block);
  }
  return i;
}

}  // namespace

bool AllAscii(const String& text) {
  const char16_t* in = text.data();
  const size_t count = text.size();
  std::uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) any |= Units4(in + i) | Units4(in + i + 4);
  if (i + 4 <= count) any |= Units4(in + i), i += 4;
  for (; i < count; ++i) any |= in[i];
  return (any & kNonAsciiUnits) == 0;
}

size_t NarrowWhileAscii(const char16_t* in, size_t count, char* out) {
  size_t i = NarrowBlocks(in, count, out);
  if constexpr (std::endian::native == std::endian::little) {
    if (i + 4 <= count && (Units4(in + i) & kNonAsciiUnits) == 0) {  // names are often short
      const auto four = static_cast<std::uint32_t>(LowBytes4(Units4(in + i)));
      std::memcpy(out + i, &four, sizeof four);
      i += 4;
    }
  }
  for (; i < count && in[i] < 0x80; ++i) out[i] = static_cast<char>(in[i]);
  return i;
}

}  // namespace vx380::core
