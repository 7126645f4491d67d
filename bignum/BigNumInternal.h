// Internals of the arithmetic library, shared between its source files and its tests only.
#pragma once

#include <cassert>

#include "bignum/BigNum.h"

// Checks a stated precondition in debug builds; release builds (NDEBUG) compile it away.
#define BN_ASSERT(condition) assert(condition)

namespace Rsa {

// The largest digit, 2^32 - 1.
inline constexpr Digit DigitMax = 0xFFFFFFFFu;

// a[1]*2^32 + a[0] := b*c exactly, the body of DigitMult. It lives here so that the inner loops of
// multiplication and division can have it inlined. The four 16x16-bit partial products each fit in a
// digit; the two middle ones sit 16 bits up and their sum may carry into bit 48.
inline void DigitProduct(Digit a[2], Digit b, Digit c) {
  const Digit bHigh = b >> 16, bLow = b & 0xFFFFu;
  const Digit cHigh = c >> 16, cLow = c & 0xFFFFu;

  Digit low = bLow * cLow;
  Digit t = bLow * cHigh;
  Digit u = bHigh * cLow;
  Digit high = bHigh * cHigh;

  t += u;
  if (t < u) high += Digit{1} << 16;
  u = t << 16;
  low += u;
  if (low < u) ++high;
  high += t >> 16;

  a[0] = low;
  a[1] = high;
}

// a := b^c mod d by left-to-right exponentiation in aligned two-bit windows over a table of b, b^2, b^3.
// Same contract as BNModExp: dDigits <= ScratchDigits, any cDigits, exponent zero gives 1 (not reduced), a is
// written only at the end so it may be b, c or d, and b need not be below d. Serves every modulus; it is
// the method that faster paths are checked against.
void BNModExpReference(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                       unsigned dDigits);

}  // namespace Rsa
