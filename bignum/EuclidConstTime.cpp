// The greatest common divisor and the modular inverse of secret values, by the binary method with a
// fixed number of steps.
//
// Each step takes two odd values u, v, subtracts the smaller from the larger, and halves whichever of
// the two is even; a step with one of them even only halves it. While both are non-zero every step
// takes at least one bit off the sum of their lengths, so after 64 steps per digit (the sum of the two
// lengths at most) v has reached zero and u holds the gcd; the remaining steps halve a zero v and
// change nothing. Every step does the same work whatever the values: the choices are masks.
//
// For the inverse of b modulo m the values keep the forms u = A*b - B*m and v = D*m - C*b with
// 0 <= A, C < m and 0 <= B, D <= b (u = b and v = m to start: A = 1, B = 0, C = 0, D = 1). A subtraction
// adds one pair of coefficients to the other, and a sum that reaches m is brought back by taking m off
// A (or C) and b off B (or D) together, which keeps the form; since u and v stay below m, A reaches m
// exactly when B reaches b, so the bounds hold. Halving u needs A and B even: when either is odd, m is
// added to A and b to B first, which makes both even as long as b or m is odd. At the end u = 1 =
// A*b - B*m, so A is the inverse.
#include "bignum/BigNumInternal.h"
#include "bignum/ConstantTime.h"
#include "bignum/ConstTimeLinear.h"

namespace Rsa {

namespace {

using ConstantTime::MaskFromBit;
using ConstTimeLinear::AddMasked;
using ConstTimeLinear::Borrow;
using ConstTimeLinear::HalveMasked;
using ConstTimeLinear::SubMasked;

// One value of the binary algorithm with the coefficients of its form.
struct Term {
  Digit value[ScratchDigits];
  Digit ofM[ScratchDigits];  // A for u, C for v: the coefficient that stays below m
  Digit ofB[ScratchDigits];  // B for u, D for v: the coefficient that stays at most b
};

struct EuclidWork {
  Term u, v;
};

// Where mask is set: x's coefficients += y's, then one subtraction of (m, b) if the first reached m.
void AddCoefficients(Term& x, const Term& y, Digit mask, const Digit* m, const Digit* b, unsigned digits) {
  const Digit carry = AddMasked(x.ofM, y.ofM, mask, digits);
  AddMasked(x.ofB, y.ofB, mask, digits);
  const Digit reduce = MaskFromBit(Digit(carry | (1 - Borrow(x.ofM, m, digits))));
  // Without the update x.ofM is below m already and nothing is taken off. The second coefficient may
  // have wrapped past the top digit; taking b off wraps it back to its true value.
  SubMasked(x.ofM, m, reduce, digits);
  SubMasked(x.ofB, b, reduce, digits);
}

// Where mask is set: halve x's value (even) and keep its form, making both coefficients even first.
void HalveTerm(Term& x, Digit mask, const Digit* m, const Digit* b, unsigned digits) {
  HalveMasked(x.value, 0, mask, digits);
  const Digit fix = mask & MaskFromBit(Digit((x.ofM[0] | x.ofB[0]) & 1));
  const Digit carryM = AddMasked(x.ofM, m, fix, digits);
  const Digit carryB = AddMasked(x.ofB, b, fix, digits);
  HalveMasked(x.ofM, carryM, mask, digits);
  HalveMasked(x.ofB, carryB, mask, digits);
}

// Runs the fixed number of steps on w.u.value, w.v.value; with coefficients, b and m are the inverse's
// operands.
void BinarySteps(EuclidWork& w, bool coefficients, const Digit* m, const Digit* b, unsigned digits) {
  Digit* u = w.u.value;
  Digit* v = w.v.value;
  for (unsigned step = 0; step < 64 * digits; ++step) {
    const Digit bothOdd = MaskFromBit(Digit(u[0] & v[0] & 1));
    const Digit uLarger = MaskFromBit(Borrow(v, u, digits));
    const Digit subtractFromU = bothOdd & uLarger;
    const Digit subtractFromV = bothOdd & ~uLarger;
    SubMasked(u, v, subtractFromU, digits);
    SubMasked(v, u, subtractFromV, digits);
    const Digit uEven = MaskFromBit(Digit(1 - (u[0] & 1)));
    if (coefficients) {
      AddCoefficients(w.u, w.v, subtractFromU, m, b, digits);
      AddCoefficients(w.v, w.u, subtractFromV, m, b, digits);
      HalveTerm(w.u, uEven, m, b, digits);
      HalveTerm(w.v, ~uEven, m, b, digits);
    } else {
      HalveMasked(u, 0, uEven, digits);
      HalveMasked(v, 0, ~uEven, digits);
    }
  }
}

}  // namespace

void BNGcdConstTime(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(digits >= 1 && digits <= ScratchDigits);
  BN_ASSERT(((b[0] | c[0]) & 1) == 1);
  EuclidWork w;
  BNAssign(w.u.value, b, digits);
  BNAssign(w.v.value, c, digits);
  // With b = 0 the steps only halve u (zero) and v keeps c; with b > 0, v ends at zero. Either way the
  // gcd is the sum.
  BinarySteps(w, false, nullptr, nullptr, digits);
  BNAdd(a, w.u.value, w.v.value, digits);
  BNWipe(&w, 0, sizeof w);
}

void BNModInvConstTime(Digit* a, const Digit* b, const Digit* c, unsigned digits) {
  BN_ASSERT(digits >= 1 && digits <= ScratchDigits);
  BN_ASSERT(((b[0] | c[0]) & 1) == 1);
  BN_ASSERT(BNCmp(b, c, digits) < 0);
  struct {
    EuclidWork w;
    Digit b[ScratchDigits], m[ScratchDigits];
  } s;
  // Copies first, so that a may be b or c.
  BNAssign(s.b, b, digits);
  BNAssign(s.m, c, digits);
  BNAssign(s.w.u.value, s.b, digits);
  BNAssignZero(s.w.u.ofM, digits);
  s.w.u.ofM[0] = 1;
  BNAssignZero(s.w.u.ofB, digits);
  BNAssign(s.w.v.value, s.m, digits);
  BNAssignZero(s.w.v.ofM, digits);
  BNAssignZero(s.w.v.ofB, digits);
  s.w.v.ofB[0] = 1;
  BinarySteps(s.w, true, s.m, s.b, digits);
  BNAssign(a, s.w.u.ofM, digits);
  BNWipe(&s, 0, sizeof s);
}

}  // namespace Rsa
