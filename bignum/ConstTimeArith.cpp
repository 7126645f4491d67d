// Constant-time comparisons, selections and the full product, for secret values: key-generation
// primes and the values derived from them. Every loop runs over the given digit count and every
// carry, borrow and choice is computed arithmetically, so neither a branch nor a memory address
// depends on the digits.
#include "bignum/BigNumInternal.h"
#include "bignum/ConstantTime.h"
#include "bignum/ConstTimeLinear.h"

namespace Rsa {

Digit BNLessConstTime(const Digit* a, const Digit* b, unsigned digits) {
  BN_ASSERT(digits <= 2 * ScratchDigits);
  return ConstTimeLinear::Borrow(a, b, digits);
}

Digit BNEqualConstTime(const Digit* a, const Digit* b, unsigned digits) {
  Digit diff = 0;
  for (unsigned i = 0; i < digits; ++i) diff |= a[i] ^ b[i];
  return ConstantTime::MaskIsZero(diff) & 1;
}

Digit BNIsZeroConstTime(const Digit* a, unsigned digits) {
  Digit any = 0;
  for (unsigned i = 0; i < digits; ++i) any |= a[i];
  return ConstantTime::MaskIsZero(any) & 1;
}

unsigned BNDigitsConstTime(const Digit* a, unsigned digits) {
  // Scans every digit: the count is the index of the last non-zero digit seen, plus one.
  Digit count = 0;
  for (unsigned i = 0; i < digits; ++i) {
    const Digit nonZero = ~ConstantTime::MaskIsZero(a[i]);
    count = ConstantTime::Select(nonZero, Digit(i + 1), count);
  }
  return count;
}

void BNSelectConstTime(Digit* a, Digit bit, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(bit <= 1);
  const Digit mask = ConstantTime::MaskFromBit(bit);
  for (unsigned i = 0; i < digits; ++i) a[i] = ConstantTime::Select(mask, b[i], c[i]);
}

void BNSwapConstTime(Digit* a, Digit* b, Digit bit, unsigned digits) {
  BN_ASSERT(bit <= 1);
  const Digit mask = ConstantTime::MaskFromBit(bit);
  for (unsigned i = 0; i < digits; ++i) {
    const Digit t = mask & (a[i] ^ b[i]);
    a[i] ^= t;
    b[i] ^= t;
  }
}

// Schoolbook rows over every digit of both operands, 64-bit column sums.
void BNMultConstTime(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(digits <= ScratchDigits);
  Digit t[2 * ScratchDigits];
  for (unsigned i = 0; i < 2 * digits; ++i) t[i] = 0;
  for (unsigned i = 0; i < digits; ++i) {
    std::uint64_t carry = 0;
    const std::uint64_t bi = b[i];
    for (unsigned j = 0; j < digits; ++j) {
      carry += bi * c[j] + t[i + j];
      t[i + j] = Digit(carry);
      carry >>= 32;
    }
    t[i + digits] = Digit(carry);
  }
  BNAssign(a, t, 2 * digits);
  BNWipe(t, 0, sizeof t);
}

// One bit at a time from the top: r stays below m, so 2r + bit is below 2m and one masked subtraction
// brings it back. No division, whose time could follow the dividend.
Digit BNModDigitConstTime(const Digit* b, Digit m, unsigned digits) {
  BN_ASSERT(m > 0);
  std::uint64_t r = 0;
  for (unsigned i = digits; i-- > 0;) {
    for (int bit = 31; bit >= 0; --bit) {
      r = (r << 1) | ((b[i] >> bit) & 1);
      const std::uint64_t below = (r - m) >> 63;  // 1 when r < m (r < 2m < 2^33)
      r -= m & (below - 1);
    }
  }
  return Digit(r);
}

Digit BNMultDigitAddConstTime(Digit* a, const Digit* b, Digit m, Digit c, unsigned digits) {
  std::uint64_t carry = c;
  for (unsigned i = 0; i < digits; ++i) {
    carry += std::uint64_t(b[i]) * m;
    a[i] = Digit(carry);
    carry >>= 32;
  }
  return Digit(carry);
}

// Exact division from the low end: with inv = 1/m mod 2^32, each quotient digit is the remaining low
// digit times inv, and its product by m takes that digit to zero and borrows its high half from the
// digit above.
void BNDivExactDigitConstTime(Digit* a, const Digit* b, Digit m, unsigned digits) {
  BN_ASSERT((m & 1) == 1);
  Digit inv = m;  // right in the low 3 bits for odd m; each step doubles that
  for (int i = 0; i < 4; ++i) inv *= 2 - m * inv;
  Digit borrow = 0;  // at most m: the high half of a product by m is below m, plus one
  for (unsigned i = 0; i < digits; ++i) {
    const std::uint64_t rest = std::uint64_t(b[i]) - borrow;
    const Digit q = Digit(rest) * inv;
    a[i] = q;
    borrow = Digit((std::uint64_t(q) * m) >> 32) + Digit(rest >> 63);
  }
}

}  // namespace Rsa
