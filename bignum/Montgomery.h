// Montgomery arithmetic modulo an odd number, the kernel behind modular exponentiation.
//
// Values here are held in 64-bit limbs, least significant first; the kernel multiplies limbs into
// 128-bit products, which the rest of the library (32-bit digits throughout) does not. With n limbs and
// R = 2^(64n), the Montgomery form of x is x*R mod m, and the Montgomery product of two forms is
// a*b/R mod m, which is again a form. Every routine here except the set-up runs in time that depends on
// the modulus length only: no branch and no memory address depends on the values multiplied.
#pragma once

#include <cstdint>

#include "bignum/BigNum.h"

namespace Rsa {

using Limb = std::uint64_t;

// Unsigned arithmetic modulo 2^128 from two limbs, for machines without a 128-bit integer type (32-bit
// ones). Carries, borrows and comparisons are computed from the operands' bits, never by a branch, so
// the kernel stays free of data-dependent branches there too. Shift counts are constants.
struct TwoLimbs {
  Limb Lo = 0, Hi = 0;

  constexpr TwoLimbs() = default;
  constexpr TwoLimbs(Limb x) : Lo(x) {}  // NOLINT: widens like the built-in type
  constexpr TwoLimbs(Limb hi, Limb lo) : Lo(lo), Hi(hi) {}
  constexpr explicit operator Limb() const { return Lo; }

  // The carry out of a + b = sum, and the borrow out of a - b = diff, from the top bits.
  static constexpr Limb CarryOut(Limb a, Limb b, Limb sum) { return ((a & b) | ((a | b) & ~sum)) >> 63; }
  static constexpr Limb BorrowOut(Limb a, Limb b, Limb diff) { return ((~a & b) | (~(a ^ b) & diff)) >> 63; }

  friend constexpr TwoLimbs operator+(TwoLimbs a, TwoLimbs b) {
    const Limb lo = a.Lo + b.Lo;
    return {a.Hi + b.Hi + CarryOut(a.Lo, b.Lo, lo), lo};
  }
  friend constexpr TwoLimbs operator-(TwoLimbs a, TwoLimbs b) {
    const Limb lo = a.Lo - b.Lo;
    return {a.Hi - b.Hi - BorrowOut(a.Lo, b.Lo, lo), lo};
  }
  // True exactly when a - b borrows out of the top limb.
  friend constexpr bool operator<(TwoLimbs a, TwoLimbs b) {
    const Limb lo = a.Lo - b.Lo;
    const Limb borrow = BorrowOut(a.Lo, b.Lo, lo);
    const Limb hi = a.Hi - b.Hi - borrow;
    return ((~a.Hi & b.Hi) | (~(a.Hi ^ b.Hi) & hi)) >> 63;
  }
  // The low 128 bits of the product, from 32-bit halves.
  friend constexpr TwoLimbs operator*(TwoLimbs a, TwoLimbs b) {
    const Limb a0 = a.Lo & 0xFFFFFFFFu, a1 = a.Lo >> 32, b0 = b.Lo & 0xFFFFFFFFu, b1 = b.Lo >> 32;
    const Limb p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const Limb middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    const Limb lo = (middle << 32) | (p00 & 0xFFFFFFFFu);
    const Limb hi = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32) + a.Hi * b.Lo + a.Lo * b.Hi;
    return {hi, lo};
  }
  friend constexpr TwoLimbs operator|(TwoLimbs a, TwoLimbs b) { return {a.Hi | b.Hi, a.Lo | b.Lo}; }
  friend constexpr TwoLimbs operator<<(TwoLimbs a, unsigned n) {
    if (n == 0) return a;
    if (n >= 64) return {a.Lo << (n - 64), 0};
    return {(a.Hi << n) | (a.Lo >> (64 - n)), a.Lo << n};
  }
  friend constexpr TwoLimbs operator>>(TwoLimbs a, unsigned n) {
    if (n == 0) return a;
    if (n >= 64) return {0, a.Hi >> (n - 64)};
    return {a.Hi >> n, (a.Lo >> n) | (a.Hi << (64 - n))};
  }
};

#ifdef __SIZEOF_INT128__
__extension__ typedef unsigned __int128 WideLimb;
#else
using WideLimb = TwoLimbs;
#endif

// Capacity, in limbs, of each Montgomery value: a modulus of up to ScratchDigits digits.
inline constexpr unsigned MontLimbs = (ScratchDigits + 1) / 2;

// An odd modulus with what every Montgomery product and conversion needs. All of it is derived from the
// modulus, which is public; it is still wiped with the other work areas.
struct MontModulus {
  Limb m[MontLimbs];    // the modulus
  Limb rr[MontLimbs];   // R^2 mod m: the Montgomery product by it converts into Montgomery form
  Limb one[MontLimbs];  // R mod m: the Montgomery form of 1
  Limb mInv;            // -1/m mod 2^64
  unsigned limbs;       // n, the modulus's significant 64-bit limbs
};

// Sets mod up for the odd modulus d of dDigits digits (d must be odd, dDigits <= ScratchDigits). It
// divides, and so branches on the modulus; the modulus is public.
void MontSetupVarTime(MontModulus& mod, const Digit* d, unsigned dDigits);

// r := a*b/R mod m, fully reduced. Requires a*b < m*R (both below m, or one below m and the other below
// R). r may be a or b. q is a work area of 2*mod.limbs limbs that the caller wipes.
void MontProduct(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q);
// r := a*a/R mod m, fully reduced. Requires a < m. r may be a. q as for MontProduct.
void MontSquare(Limb* r, const Limb* a, const MontModulus& mod, Limb* q);
// The same by the portable kernels, whatever the processor offers; for checking one kernel by the other.
void MontProductPortable(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q);
void MontSquarePortable(Limb* r, const Limb* a, const MontModulus& mod, Limb* q);

// r := x*R mod m, the Montgomery form of x, for any x of xDigits digits (also x >= m, also x longer than
// the modulus). Time depends on xDigits and the modulus length, never on x's value. work needs
// 3*mod.limbs limbs; the caller wipes it.
void MontToForm(Limb* r, const Digit* x, unsigned xDigits, const MontModulus& mod, Limb* work);
// a := x/R mod m over aDigits digits (aDigits at least the modulus's significant digits), the ordinary
// value of the Montgomery form x < m. work needs 3*mod.limbs limbs; the caller wipes it.
void MontFromForm(Digit* a, unsigned aDigits, const Limb* x, const MontModulus& mod, Limb* work);

// a := b^c mod d for an odd d, in Montgomery form by fixed windows, in time that depends only on the
// modulus's significant length and the exponent's significant digit count. Same contract as BNModExp:
// dDigits <= ScratchDigits, any cDigits, exponent zero gives 1 (not reduced, also modulo 1), a may be b,
// c or d, b need not be below d.
void BNModExpMontgomery(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                        unsigned dDigits);

}  // namespace Rsa
