// Linear-time routines on digit arrays: copies, sums, shifts, comparisons, size queries and the
// one-digit-times-array steps that multiplication and division are built from. Every digit is read
// before the result digit at the same index is stored, which is what lets results overwrite operands.
#include <cstdint>

#include "bignum/BigNumInternal.h"

namespace Rsa {

void BNAssign(Digit* a, const Digit* b, unsigned digits) {
  for (unsigned i = 0; i < digits; ++i) a[i] = b[i];
}

void BNAssignZero(Digit* a, unsigned digits) {
  for (unsigned i = 0; i < digits; ++i) a[i] = 0;
}

void BNAssign2Exp(Digit* a, unsigned k, unsigned digits) {
  BNAssignZero(a, digits);
  if (k / 32 < digits) a[k / 32] = Digit{1} << (k % 32);
}

// Sums and differences take their carry from a 64-bit sum, so they never branch on a digit.
Digit BNAdd(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  std::uint64_t carry = 0;
  for (unsigned i = 0; i < digits; ++i) {
    carry += std::uint64_t(b[i]) + c[i];
    a[i] = Digit(carry);
    carry >>= 32;
  }
  return Digit(carry);
}

Digit BNSub(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  std::uint64_t borrow = 0;
  for (unsigned i = 0; i < digits; ++i) {
    const std::uint64_t x = std::uint64_t(b[i]) - c[i] - borrow;
    a[i] = Digit(x);
    borrow = (x >> 32) & 1;
  }
  return Digit(borrow);
}

Digit BNLShift(Digit* a, const Digit* b, unsigned c, unsigned digits) {
  if (c >= 32) return 0;
  Digit carry = 0;
  for (unsigned i = 0; i < digits; ++i) {
    const Digit x = b[i];
    a[i] = (x << c) | carry;
    carry = (c == 0) ? 0 : x >> (32 - c);
  }
  return carry;
}

Digit BNRShift(Digit* a, const Digit* b, unsigned c, unsigned digits) {
  if (c >= 32) return 0;
  Digit carry = 0;
  for (unsigned i = digits; i-- > 0;) {
    const Digit x = b[i];
    a[i] = (x >> c) | carry;
    carry = (c == 0) ? 0 : x << (32 - c);
  }
  return carry;
}

int BNCmp(const Digit* a, const Digit* b, unsigned digits) {
  for (unsigned i = digits; i-- > 0;) {
    if (a[i] > b[i]) return 1;
    if (a[i] < b[i]) return -1;
  }
  return 0;
}

int BNIsZero(const Digit* a, unsigned digits) {
  for (unsigned i = 0; i < digits; ++i)
    if (a[i] != 0) return 0;
  return 1;
}

unsigned BNDigits(const Digit* a, unsigned digits) {
  unsigned n = digits;
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

unsigned BNBits(const Digit* a, unsigned digits) {
  const unsigned n = BNDigits(a, digits);
  return (n == 0) ? 0 : 32 * (n - 1) + DigitBits(a[n - 1]);
}

Digit BNAddDigitMult(Digit* a, const Digit* b, Digit c, const Digit* d, unsigned digits) {
  if (c == 0) {
    // The sum is b itself. Callers add in place, where this writes nothing at all.
    if (a != b) BNAssign(a, b, digits);
    return 0;
  }
  Digit carry = 0;
  Digit t[2];
  for (unsigned i = 0; i < digits; ++i) {
    DigitProduct(t, c, d[i]);
    Digit x = b[i] + carry;
    carry = (x < carry) ? 1 : 0;
    x += t[0];
    if (x < t[0]) ++carry;
    carry += t[1];  // b[i] + carry + c*d[i] < 2^64, so this never wraps
    a[i] = x;
  }
  return carry;
}

Digit BNSubDigitMult(Digit* a, const Digit* b, Digit c, const Digit* d, unsigned digits) {
  if (c == 0) {
    if (a != b) BNAssign(a, b, digits);
    return 0;
  }
  Digit borrow = 0;
  Digit t[2];
  for (unsigned i = 0; i < digits; ++i) {
    DigitProduct(t, c, d[i]);
    Digit x = b[i] - borrow;
    borrow = (x > DigitMax - borrow) ? 1 : 0;
    x -= t[0];
    if (x > DigitMax - t[0]) ++borrow;
    borrow += t[1];  // c*d[i] + borrow - b[i] < 2^64, so this never wraps
    a[i] = x;
  }
  return borrow;
}

}  // namespace Rsa
