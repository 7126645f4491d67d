// Setting a Montgomery modulus up, and conversions into and out of Montgomery form. Everything here
// runs in time that depends on the digit and limb counts only, so it serves secret moduli (the primes
// of a key, prime candidates) as well as public ones.
#include "bignum/MontgomeryInternal.h"

namespace Rsa {

using MontDetail::AddLimbs;
using MontDetail::DoubleModulo;
using MontDetail::SubtractModulusOnce;

namespace {

// r[0 .. count - 1] := limbs from + 0 .. from + count - 1 of the digit array x; limbs past x read zero.
void LoadLimbs(Limb* r, const Digit* x, unsigned xDigits, unsigned from, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    const unsigned low = 2 * (from + i);
    Limb v = 0;
    if (low < xDigits) v = x[low];
    if (low + 1 < xDigits) v |= static_cast<Limb>(x[low + 1]) << 32;
    r[i] = v;
  }
}

// a[0 .. aDigits - 1] := the limbs x[0 .. n - 1], digits past them zero.
void StoreDigits(Digit* a, unsigned aDigits, const Limb* x, unsigned n) {
  for (unsigned i = 0; i < aDigits; ++i) a[i] = i < 2 * n ? static_cast<Digit>(x[i / 2] >> (32 * (i % 2))) : 0;
}

}  // namespace

// Non-restoring: the running value stays in [-m, m), held in n + 1 limbs of two's complement, and each
// doubling subtracts m from a value that is not negative and adds m to one that is, in a single pass
// whose operand follows the sign under a mask. A last masked addition brings a negative value back into
// [0, m).
void MontDetail::DoubleModulo(Limb* r, const Limb* m, unsigned n, unsigned count) {
  Limb top = 0;  // the sign limb: 0, or all ones when the value is negative
#if QARVEX_HAVE_ADX_KERNELS
  if (n == 8 && SelectedMontKernel() != MontKernel::Portable) {
    top = DoublingsAdx8(r, m, count);
    count = 0;
  }
#endif
  for (unsigned k = 0; k < count; ++k) {
    const Limb add = ~ConstantTime::MaskFromBit<Limb>(top >> 63);  // all ones: subtract m
    Limb shiftedOut = 0;
    Limb carry = add & 1;  // -m = ~m + 1
    for (unsigned j = 0; j < n; ++j) {
      const Limb doubled = (r[j] << 1) | shiftedOut;
      shiftedOut = r[j] >> 63;
      const WideLimb t = static_cast<WideLimb>(doubled) + (m[j] ^ add) + carry;
      r[j] = static_cast<Limb>(t);
      carry = static_cast<Limb>(t >> 64);
    }
    top = ((top << 1) | shiftedOut) + add + carry;
  }
  const Limb negative = ConstantTime::MaskFromBit<Limb>(top >> 63);
  Limb carry = 0;
  for (unsigned j = 0; j < n; ++j) {
    const WideLimb t = static_cast<WideLimb>(r[j]) + (m[j] & negative) + carry;
    r[j] = static_cast<Limb>(t);
    carry = static_cast<Limb>(t >> 64);
  }
}

// R mod m by doubling 1 (reduced, for m = 1) 64n times; then R^2 mod m without another 64n doublings:
// with n = c * 2^t (c odd), R = 2^(c * 2^(6 + t)), so c more doublings give the Montgomery form of 2^c
// and 6 + t Montgomery squarings raise it to the form of R, which is R^2 mod m. Nothing divides and
// nothing branches on m.
void MontSetup(MontModulus& mod, const Digit* d, unsigned dDigits) {
  const unsigned n = (dDigits + 1) / 2;
  mod.limbs = n;
  LoadLimbs(mod.m, d, dDigits, 0, n);

  // Newton's iteration for 1/m0 mod 2^64: an odd m0 is its own inverse modulo 8, and each step doubles
  // the number of correct low bits (3, 6, 12, 24, 48, 96).
  const Limb m0 = mod.m[0];
  Limb inverse = m0;
  for (int step = 0; step < 5; ++step) inverse *= 2 - m0 * inverse;
  mod.mInv = 0 - inverse;

  Limb* one = mod.one;
  one[0] = 1;
  for (unsigned i = 1; i < n; ++i) one[i] = 0;
  SubtractModulusOnce(one, 0, mod.m, n);
  DoubleModulo(one, mod.m, n, 64 * n);

  unsigned c = n, t = 0;
  while (c % 2 == 0) {
    c /= 2;
    ++t;
  }
  Limb* rr = mod.rr;
  for (unsigned i = 0; i < n; ++i) rr[i] = one[i];
  DoubleModulo(rr, mod.m, n, c);
  Limb q[2 * MontLimbs];
  for (unsigned i = 0; i < 6 + t; ++i) MontSquare(rr, rr, mod, q);
  BNWipe(q, 0, sizeof q);
}

// Horner's rule over chunks of n limbs from the top: with x = X_k*R^k + ... + X_1*R + X_0, the running
// value y (below R) becomes y*R + X_j, where y*R mod m is the Montgomery product of y and R^2. The sum,
// below m + R, is brought below R by one masked subtraction. A last product by R^2 turns the final y,
// congruent to x, into the Montgomery form x*R mod m. The chunk count follows xDigits alone.
void MontToForm(Limb* r, const Digit* x, unsigned xDigits, const MontModulus& mod, Limb* work) {
  const unsigned n = mod.limbs;
  Limb* chunk = work;
  Limb* q = work + n;
  const unsigned xLimbs = (xDigits + 1) / 2;
  const unsigned chunks = xLimbs == 0 ? 1 : (xLimbs + n - 1) / n;
  LoadLimbs(r, x, xDigits, (chunks - 1) * n, n);
  for (unsigned j = chunks - 1; j-- > 0;) {
    MontProduct(r, r, mod.rr, mod, q);
    LoadLimbs(chunk, x, xDigits, j * n, n);
    const Limb carry = AddLimbs(r, r, chunk, n);
    SubtractModulusOnce(r, carry, mod.m, n);
  }
  MontProduct(r, r, mod.rr, mod, q);
}

void MontFromForm(Digit* a, unsigned aDigits, const Limb* x, const MontModulus& mod, Limb* work) {
  const unsigned n = mod.limbs;
  Limb* value = work;
  Limb* q = work + n;
  value[0] = 1;
  for (unsigned i = 1; i < n; ++i) value[i] = 0;
  MontProduct(value, x, value, mod, q);
  StoreDigits(a, aDigits, value, n);
}

}  // namespace Rsa
