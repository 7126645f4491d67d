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

}  // namespace Rsa
