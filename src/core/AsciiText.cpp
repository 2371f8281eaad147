// Plain ASCII text checked and narrowed to bytes many units at a time: a host that traces
// every routine makes a line per call, so a unit at a time is too slow.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

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
// Sixteen units a look, packed to bytes by the processor's saturating pack: a unit over 0xFF
// would saturate, so a block with any unit of 0x80 or more is left to the tail.
size_t NarrowVectors(const char16_t* in, size_t count, char* out) {
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), high), zero)) != 0xFFFF) return i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
  if (i + 8 <= count) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero)) != 0xFFFF) return i;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, a));
    i += 8;
  }
  // The last few units, as the eight that end the text: those before them are narrowed again.
  if (i < count && count >= 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + count - 8));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(a, high), zero)) != 0xFFFF) return i;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + count - 8), _mm_packus_epi16(a, a));
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

}  // namespace

#if defined(__SSE2__) && defined(__GNUC__)
// Eight units a look, from aligned blocks: a block never spans two pages, so reading the whole
// block that holds the terminator is safe, as the C library's strlen does. The sanitizer would
// take the bytes after the terminator for an overflow.
__attribute__((no_sanitize_address)) size_t TextLength(const char16_t* text) {
  const auto address = reinterpret_cast<std::uintptr_t>(text);
  if (address % 2 != 0) return std::char_traits<char16_t>::length(text);
  const __m128i zero = _mm_setzero_si128();
  const auto* block = reinterpret_cast<const __m128i*>(address & ~std::uintptr_t{15});
  // Two bits a unit that is NUL; the first block's bytes before the text do not count.
  auto nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(block), zero))) &
             (0xFFFFu << (address & 15));
  while (nul == 0) nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(++block), zero)));
  return (reinterpret_cast<std::uintptr_t>(block) + static_cast<unsigned>(std::countr_zero(nul)) - address) / 2;
}
#else
size_t TextLength(const char16_t* text) { return std::char_traits<char16_t>::length(text); }
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
