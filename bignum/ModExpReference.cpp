// Left-to-right modular exponentiation in aligned two-bit windows.
#include "bignum/BigNumInternal.h"

namespace Rsa {

// Each aligned bit pair of the exponent costs two modular squarings and, when the pair is not zero, one
// product with b^s from the table. Leading zero pairs are skipped in the top digit only.
void BNModExpReference(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                       unsigned dDigits) {
  // Cleared up front so that a zero modulus, which leaves every reduced product unwritten, still reads
  // defined values.
  Digit power[3][ScratchDigits] = {};
  Digit t[ScratchDigits];

  BNAssign(power[0], b, dDigits);
  BNModMult(power[1], power[0], b, d, dDigits);
  BNModMult(power[2], power[1], b, d, dDigits);

  BNAssignZero(t, dDigits);
  if (dDigits > 0) t[0] = 1;

  const unsigned n = BNDigits(c, cDigits);
  for (unsigned i = n; i-- > 0;) {
    Digit x = c[i];
    unsigned bits = 32;
    if (i == n - 1) {
      while ((x >> 30) == 0) {  // the top digit is non-zero, so this ends
        x <<= 2;
        bits -= 2;
      }
    }
    for (unsigned j = 0; j < bits; j += 2) {
      BNModMult(t, t, t, d, dDigits);
      BNModMult(t, t, t, d, dDigits);
      const unsigned s = x >> 30;
      if (s != 0) BNModMult(t, t, power[s - 1], d, dDigits);
      x <<= 2;
    }
  }

  BNAssign(a, t, dDigits);
  BNWipe(power, 0, sizeof power);
  BNWipe(t, 0, sizeof t);
}

}  // namespace Rsa
