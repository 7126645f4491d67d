// Internals of the arithmetic library, shared between its source files and its tests only.
#pragma once

#include "bignum/bignum.h"

namespace Rsa {

// The largest digit, 2^32 - 1.
inline constexpr Digit DigitMax = 0xFFFFFFFFu;

// a := b^c mod d by left-to-right exponentiation in aligned two-bit windows over a table of b, b^2, b^3.
// Same contract as BNModExp: dDigits <= 257, any cDigits, exponent zero gives 1 (not reduced), a is
// written only at the end so it may be b, c or d, and b need not be below d. Serves every modulus; it is
// the method that faster paths are checked against.
void BNModExpReference(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                       unsigned dDigits);

}  // namespace Rsa
