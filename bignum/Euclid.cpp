// Euclid's algorithm: the greatest common divisor, and the extended form that yields a modular inverse.
#include "bignum/BigNumInternal.h"

namespace Rsa {

// Extended Euclid on non-negative numbers only. With remainders r0 = b, r1 = c and quotients q_i, the
// coefficients of b follow s_(i+1) = s_(i-1) - q_i * s_i from s0 = 1, s1 = 0; their signs alternate, so
// only the magnitudes |s_(i+1)| = |s_(i-1)| + q_i * |s_i| are kept, with one flag for the sign of the
// current coefficient. When the remainder reaches gcd(b, c) = 1 its coefficient is the inverse; a
// negative one is brought into range as c - |s|. The magnitudes never exceed c, so sums fit in digits.
void BNModInv(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(digits <= ScratchDigits);
  Digit q[ScratchDigits];
  Digit tCoef[ScratchDigits], tRem[ScratchDigits];
  Digit uCoef[ScratchDigits], uRem[ScratchDigits];
  Digit vCoef[ScratchDigits], vRem[ScratchDigits];
  Digit w[2 * ScratchDigits];

  BNAssignZero(uCoef, digits);
  if (digits > 0) uCoef[0] = 1;
  BNAssignZero(vCoef, digits);
  BNAssign(uRem, b, digits);
  BNAssign(vRem, c, digits);
  bool negative = false;

  while (!BNIsZero(vRem, digits)) {
    BNDiv(q, tRem, uRem, digits, vRem, digits);
    BNMult(w, q, vCoef, digits);
    BNAdd(tCoef, uCoef, w, digits);
    BNAssign(uCoef, vCoef, digits);
    BNAssign(vCoef, tCoef, digits);
    BNAssign(uRem, vRem, digits);
    BNAssign(vRem, tRem, digits);
    negative = !negative;
  }

  if (negative)
    BNSub(a, c, uCoef, digits);
  else
    BNAssign(a, uCoef, digits);

  BNWipe(q, 0, sizeof q);
  BNWipe(tCoef, 0, sizeof tCoef);
  BNWipe(tRem, 0, sizeof tRem);
  BNWipe(uCoef, 0, sizeof uCoef);
  BNWipe(uRem, 0, sizeof uRem);
  BNWipe(vCoef, 0, sizeof vCoef);
  BNWipe(vRem, 0, sizeof vRem);
  BNWipe(w, 0, sizeof w);
}

// Euclid's algorithm by remainders.
void BNGcd(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(digits <= ScratchDigits);
  Digit t[ScratchDigits], u[ScratchDigits], v[ScratchDigits];
  BNAssign(u, b, digits);
  BNAssign(v, c, digits);
  while (!BNIsZero(v, digits)) {
    BNMod(t, u, digits, v, digits);
    BNAssign(u, v, digits);
    BNAssign(v, t, digits);
  }
  BNAssign(a, u, digits);
  BNWipe(t, 0, sizeof t);
  BNWipe(u, 0, sizeof u);
  BNWipe(v, 0, sizeof v);
}

}  // namespace Rsa
