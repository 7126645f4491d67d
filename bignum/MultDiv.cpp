// Quadratic-time routines: the full product, division with quotient and remainder, the remainder alone
// and the reduced product. Each keeps its intermediate values in fixed-capacity locals that are wiped
// over their whole capacity before it returns.
#include "bignum/BigNumInternal.h"

namespace Rsa {

// Row-by-row schoolbook product over the significant digits of both operands only.
void BNMult(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(digits <= ScratchDigits);
  Digit t[2 * ScratchDigits];
  BNAssignZero(t, 2 * digits);
  const unsigned bDigits = BNDigits(b, digits);
  const unsigned cDigits = BNDigits(c, digits);
  for (unsigned i = 0; i < bDigits; ++i) {
    // t[i + cDigits] is still zero here, so adding the row's carry digit cannot carry further.
    t[i + cDigits] += BNAddDigitMult(&t[i], &t[i], b[i], c, cDigits);
  }
  BNAssign(a, t, 2 * digits);
  BNWipe(t, 0, sizeof t);
}

// Normalised schoolbook division, one quotient digit per step. The divisor is shifted so that its top
// digit t has bit 31 set; each quotient digit is then estimated from the dividend's top two digits
// divided by t + 1, which never exceeds the true digit and falls short of it by at most two, and the
// estimate is counted upward while the window still holds a multiple of the divisor. For t = 2^32 - 1,
// where t + 1 wraps, the estimate is the window's top digit, again from below.
void BNDiv(Digit* a, Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits) {
  BN_ASSERT(cDigits <= ProductDigits && a != b);
  const unsigned ddDigits = BNDigits(d, dDigits);
  BN_ASSERT(ddDigits <= ScratchDigits);
  if (ddDigits == 0) return;  // zero divisor: neither output is written
  const unsigned shift = 32 - DigitBits(d[ddDigits - 1]);

  Digit cc[2 * ScratchDigits + 1];
  Digit dd[ScratchDigits];
  // Clearing the low ddDigits digits first makes a dividend shorter than the divisor read as zero above
  // its own digits.
  BNAssignZero(cc, ddDigits);
  cc[cDigits] = BNLShift(cc, c, shift, cDigits);
  BNLShift(dd, d, shift, ddDigits);
  const Digit t = dd[ddDigits - 1];

  // c and d have been read completely; from here on the outputs may be written even if they alias them.
  BNAssignZero(a, cDigits);
  if (cDigits >= ddDigits) {
    for (unsigned i = cDigits - ddDigits + 1; i-- > 0;) {
      Digit* window = &cc[i];
      Digit& top = cc[i + ddDigits];
      Digit ai;
      if (t == DigitMax)
        ai = top;
      else
        DigitDiv(&ai, &cc[i + ddDigits - 1], t + 1);
      top -= BNSubDigitMult(window, window, ai, dd, ddDigits);
      while (top != 0 || BNCmp(window, dd, ddDigits) >= 0) {
        ++ai;
        top -= BNSub(window, window, dd, ddDigits);
      }
      a[i] = ai;
    }
  }

  BNAssignZero(b, dDigits);
  BNRShift(b, cc, shift, ddDigits);

  BNWipe(cc, 0, sizeof cc);
  BNWipe(dd, 0, sizeof dd);
}

void BNMod(Digit* a, const Digit* b, unsigned bDigits, const Digit* c, unsigned cDigits) {
  Digit q[2 * ScratchDigits];
  BNDiv(q, a, b, bDigits, c, cDigits);
  BNWipe(q, 0, sizeof q);
}

void BNModMult(Digit* a, const Digit* b, const Digit* c, const Digit* d, unsigned digits) {
  BN_ASSERT(digits <= ScratchDigits);
  Digit t[2 * ScratchDigits];
  BNMult(t, b, c, digits);
  BNMod(a, t, 2 * digits, d, digits);
  BNWipe(t, 0, sizeof t);
}

}  // namespace Rsa
