// Plain ASCII text checked and narrowed to bytes many units at a time: a host that traces
// every routine makes a line per call, so a unit at a time is too slow.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

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

#if defined(__SSE2__) && defined(__GNUC__)
// Eight units, and sixteen bytes, in one of the processor's vector registers; the compiler's
// own vector types and the processor's pack and mask, with no system header.
typedef short Units8 __attribute__((vector_size(16), may_alias));
typedef short LooseUnits8 __attribute__((vector_size(16), may_alias, aligned(2)));  // at any unit
typedef char Bytes16 __attribute__((vector_size(16)));

Units8 Load8(const char16_t* in) {
  Units8 units;
  std::memcpy(&units, in, sizeof units);
  return units;
}

bool Ascii8(Units8 units) {
  const Units8 clear = (units & static_cast<short>(0xFF80)) == 0;
  return __builtin_ia32_pmovmskb128(reinterpret_cast<Bytes16>(clear)) == 0xFFFF;
}

// The bytes of `a` then `b`, each unit saturated to a byte (so only ASCII units come out as they were).
Bytes16 Pack(Units8 a, Units8 b) { return reinterpret_cast<Bytes16>(__builtin_ia32_packuswb128(a, b)); }

// Sixteen units a look: a block with any unit of 0x80 or more is left to the tail.
size_t NarrowVectors(const char16_t* in, size_t count, char* out) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const Units8 a = Load8(in + i), b = Load8(in + i + 8);
    if (!Ascii8(a | b)) return i;
    const Bytes16 bytes = Pack(a, b);
    std::memcpy(out + i, &bytes, 16);
  }
  if (i + 8 <= count) {
    const Units8 a = Load8(in + i);
    if (!Ascii8(a)) return i;
    const Bytes16 bytes = Pack(a, a);
    std::memcpy(out + i, &bytes, 8);
    i += 8;
  }
  // The last few units, as the eight that end the text: those before them are narrowed again.
  if (i < count && count >= 8) {
    const Units8 a = Load8(in + count - 8);
    if (!Ascii8(a)) return i;
    const Bytes16 bytes = Pack(a, a);
    std::memcpy(out + count - 8, &bytes, 8);
    i = count;
  }
  return i;
}
#else
// Sixteen units at a time, in loops of a fixed length that compilers turn into vector code.
size_t NarrowVectors(const char16_t* in, size_t count, char* out) {
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
#endif

// Up to `count` units one at a time, as NarrowTerminatedWhileAscii; `done` when it is.
size_t NarrowTerminatedUnits(const char16_t* in, size_t count, char* out, bool& done, bool& ended) {
  for (size_t i = 0; i < count; ++i) {
    if (in[i] == 0 || in[i] >= 0x80) {
      done = true;
      ended = in[i] == 0;
      return i;
    }
    out[i] = static_cast<char>(in[i]);
  }
  return count;
}

}  // namespace

#if defined(__SSE2__) && defined(__GNUC__)
// Eight units a look, from aligned blocks: a block never spans two pages, so reading the whole
// block that holds the terminator is safe, as the C library's strlen does. The sanitizer would
// take the bytes after the terminator for an overflow.
__attribute__((no_sanitize_address)) size_t TextLength(const char16_t* text) {
  const auto address = reinterpret_cast<std::uintptr_t>(text);
  if (address % 2 != 0) return std::char_traits<char16_t>::length(text);
  const auto* block = reinterpret_cast<const Units8*>(address & ~std::uintptr_t{15});
  // Two bits a unit that is NUL; the first block's bytes before the text do not count.
  const auto nulMask = [](Units8 units) {
    return static_cast<unsigned>(__builtin_ia32_pmovmskb128(reinterpret_cast<Bytes16>(units == 0)));
  };
  unsigned nul = nulMask(*block) & (0xFFFFu << (address & 15));
  while (nul == 0) nul = nulMask(*++block);
  return (reinterpret_cast<std::uintptr_t>(block) + static_cast<unsigned>(std::countr_zero(nul)) - address) / 2;
}

// Sixteen units a look where the look stays within a page: a look may pass the NUL, and so
// reads no page the text does not reach. A block that spans two pages is taken a unit at a time.
__attribute__((no_sanitize_address)) size_t NarrowTerminatedWhileAscii(const char16_t* in, size_t room, char* out,
                                                                       bool& ended) {
  constexpr std::uintptr_t kPage = 4096;
  ended = false;
  bool done = false;
  size_t i = 0;
  for (; i + 16 <= room; i += 16) {
    if ((reinterpret_cast<std::uintptr_t>(in + i) & (kPage - 1)) > kPage - 32) {
      const size_t n = NarrowTerminatedUnits(in + i, 16, out + i, done, ended);
      if (done) return i + n;
      continue;
    }
    // Loaded here, not by Load8: only this function may read past the NUL.
    const Bytes16 bytes =
        Pack(*reinterpret_cast<const LooseUnits8*>(in + i), *reinterpret_cast<const LooseUnits8*>(in + i + 8));
    // The pack keeps ASCII units as they are and makes every other unit 0 (0x8000 and up) or
    // 0x80 and up: a byte that is 0 or has its top bit set is where the units stop.
    const auto stop = static_cast<unsigned>(__builtin_ia32_pmovmskb128(bytes) |
                                            __builtin_ia32_pmovmskb128(reinterpret_cast<Bytes16>(bytes == 0)));
    std::memcpy(out + i, &bytes, 16);
    if (stop != 0) {
      const auto at = static_cast<size_t>(std::countr_zero(stop));
      ended = in[i + at] == 0;
      return i + at;
    }
  }
  return i + NarrowTerminatedUnits(in + i, room - i, out + i, done, ended);
}
#else
size_t TextLength(const char16_t* text) { return std::char_traits<char16_t>::length(text); }

size_t NarrowTerminatedWhileAscii(const char16_t* in, size_t room, char* out, bool& ended) {
  bool done = false;
  ended = false;
  return NarrowTerminatedUnits(in, room, out, done, ended);
}
#endif

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
  size_t i = NarrowVectors(in, count, out);
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
