// Counting bits of a 64-bit word, for the decoders' table-free paths.
#pragma once

#include <cstddef>
#include <cstdint>

// The number of zero bits below the lowest set bit; bits must not be 0.
inline uint32_t CountTrailingZeros(uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<uint32_t>(__builtin_ctzll(bits));
#else
  uint32_t n = 0;
  while (((bits >> n) & 1) == 0) ++n;
  return n;
#endif
}

// The number of one bits below the lowest zero bit: 64 for all ones.
inline uint32_t CountTrailingOnes(uint64_t bits) {
  return ~bits == 0 ? 64 : CountTrailingZeros(~bits);
}
