// Single-digit primitives. Products and quotients of digits are built from 16-bit halves so that no
// intermediate ever needs more than 32 bits.
#include "bignum/BigNumInternal.h"

namespace Rsa {

namespace {

constexpr Digit HalfMask = 0xFFFFu;

// t1:t0 := t1:t0 - x, the borrow out of the low digit taken from the high digit.
inline void SubtractWithBorrow(Digit& t1, Digit& t0, Digit x) {
  t0 -= x;
  if (t0 > DigitMax - x) --t1;
}

}  // namespace

unsigned DigitBits(Digit x) {
  unsigned count = 0;
  while (x != 0 && count < 32) {
    x >>= 1;
    ++count;
  }
  return count;
}

void DigitMult(Digit a[2], Digit b, Digit c) { DigitProduct(a, b, c); }

// Schoolbook division of a two-digit value by a digit in base 2^16. Each 16-bit quotient half is first
// estimated from below by dividing by cHigh + 1, which can only under-estimate, and then counted upward
// while the running remainder is still at least the divisor. cHigh = 2^16 - 1 is taken apart because
// cHigh + 1 would need 17 bits; the estimate is then simply the remainder's top half.
void DigitDiv(Digit* a, const Digit b[2], Digit c) {
  BN_ASSERT(b[1] < c && c >= (Digit{1} << 16));
  const Digit cHigh = c >> 16, cLow = c & HalfMask;
  Digit t1 = b[1], t0 = b[0];

  // High half: subtract aHigh * c * 2^16.
  Digit aHigh = (cHigh == HalfMask) ? (t1 >> 16) : t1 / (cHigh + 1);
  Digit u = aHigh * cLow;
  Digit v = aHigh * cHigh;
  SubtractWithBorrow(t1, t0, u << 16);
  t1 -= u >> 16;
  t1 -= v;
  while (t1 > cHigh || (t1 == cHigh && t0 >= (cLow << 16))) {
    SubtractWithBorrow(t1, t0, cLow << 16);
    t1 -= cHigh;
    ++aHigh;
  }

  // Low half: the remainder is now below c * 2^16, so t1 <= cHigh.
  Digit aLow = (cHigh == HalfMask) ? (t1 & HalfMask) : ((t1 << 16) + (t0 >> 16)) / (cHigh + 1);
  u = aLow * cLow;
  v = aLow * cHigh;
  SubtractWithBorrow(t1, t0, u);
  SubtractWithBorrow(t1, t0, v << 16);
  t1 -= v >> 16;
  while (t1 > 0 || t0 >= c) {
    SubtractWithBorrow(t1, t0, c);
    ++aLow;
  }

  *a = ((aHigh & HalfMask) << 16) + (aLow & HalfMask);
}

}  // namespace Rsa
