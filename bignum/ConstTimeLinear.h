// Linear steps on secret digit arrays for the constant-time routines: sums and differences under a
// mask, the borrow of a comparison, and a halving under a mask. Carries are taken from 64-bit sums,
// choices from masks; nothing branches on a digit. Internal to the arithmetic library.
#pragma once

#include <cstdint>

#include "bignum/BigNum.h"

namespace Rsa::ConstTimeLinear {

// a := a + (b AND mask) over digits digits; returns the carry out (0 or 1).
inline Digit AddMasked(Digit* a, const Digit* b, Digit mask, unsigned digits) {
  std::uint64_t carry = 0;
  for (unsigned i = 0; i < digits; ++i) {
    carry += std::uint64_t(a[i]) + (b[i] & mask);
    a[i] = Digit(carry);
    carry >>= 32;
  }
  return Digit(carry);
}

// a := a - (b AND mask) over digits digits; returns the borrow out (0 or 1).
inline Digit SubMasked(Digit* a, const Digit* b, Digit mask, unsigned digits) {
  std::uint64_t borrow = 0;
  for (unsigned i = 0; i < digits; ++i) {
    const std::uint64_t x = std::uint64_t(a[i]) - (b[i] & mask) - borrow;
    a[i] = Digit(x);
    borrow = (x >> 32) & 1;
  }
  return Digit(borrow);
}

// The borrow of a - b: 1 exactly when a < b.
inline Digit Borrow(const Digit* a, const Digit* b, unsigned digits) {
  std::uint64_t borrow = 0;
  for (unsigned i = 0; i < digits; ++i) borrow = ((std::uint64_t(a[i]) - b[i] - borrow) >> 32) & 1;
  return Digit(borrow);
}

// Where the mask is set, a := (top * 2^(32*digits) + a) div 2 for a top bit of 0 or 1; else a stays.
inline void HalveMasked(Digit* a, Digit top, Digit mask, unsigned digits) {
  for (unsigned i = 0; i < digits; ++i) {
    const Digit above = (i + 1 < digits) ? a[i + 1] : top;
    const Digit halved = (a[i] >> 1) | (above << 31);
    a[i] ^= mask & (a[i] ^ halved);
  }
}

}  // namespace Rsa::ConstTimeLinear
