// Montgomery arithmetic modulo an odd number, the kernel behind modular exponentiation.
//
// Values here are held in 64-bit limbs, least significant first; the kernel multiplies limbs into
// 128-bit products, which the rest of the library (32-bit digits throughout) does not. With n limbs and
// R = 2^(64n), the Montgomery form of x is x*R mod m, and the Montgomery product of two forms is
// a*b/R mod m, which is again a form. Every routine here runs in constant time, its time depending on
// the lengths only, unless its name ends in VarTime. The set-up and conversions live in
// MontgomerySetup.cpp, the portable kernels in MontgomeryPortable.cpp, the x86-64 ADX/BMI2 kernels in
// three files: MontgomeryAdx.cpp (the row kernels for any size, used from 17 limbs),
// MontgomeryAdxFixed.cpp (the unrolled 8-limb product and the set-up's 8-limb doublings) and
// MontgomeryAdxBlocks.cpp (the 8-limb square and the 16-limb product and square); the AVX-512 IFMA
// exponentiations in MontgomeryIfma.cpp. KernelChoice.cpp picks the family once per process,
// MontgomeryKernels.cpp the kernel for each limb count, ModExpMontgomery.cpp holds the exponentiations.
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

// An odd modulus with what every Montgomery product and conversion needs: the reusable object that the
// exponentiation, the component's per-key contexts and the prime tests share. For a secret modulus
// (a prime of a key, a prime candidate) all of it is secret; it is wiped like the other work areas.
struct MontModulus {
  Limb m[MontLimbs];    // the modulus
  Limb rr[MontLimbs];   // R^2 mod m: the Montgomery product by it converts into Montgomery form
  Limb one[MontLimbs];  // R mod m: the Montgomery form of 1
  Limb mInv;            // -1/m mod 2^64
  unsigned limbs;       // n, the modulus's 64-bit limbs
};

// Sets mod up for the odd modulus d of dDigits digits, every one of which counts: mod.limbs is
// (dDigits + 1) / 2, whatever the value of the top digits (dDigits <= ScratchDigits). Constant time:
// nothing divides, and no branch or memory address depends on d; time depends on dDigits alone. A caller
// with a public modulus passes its significant digits (BNDigits) for the shortest limb count.
void MontSetup(MontModulus& mod, const Digit* d, unsigned dDigits);

// The kernel families; which one runs is chosen once per process (see SelectedMontKernel).
enum class MontKernel { Portable, Adx, Ifma };
// The family this process uses: the best the processor offers, unless the environment variable
// QARVEX_KERNEL (portable, adx, ifma) forces one that the processor and the build have.
MontKernel SelectedMontKernel();

// r := a*b/R mod m, fully reduced. Requires a*b < m*R (both below m, or one below m and the other below
// R). r may be a or b. q is a work area of 2*mod.limbs limbs that the caller wipes. Constant time.
void MontProduct(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q);
// r := a*a/R mod m, fully reduced. Requires a < m. r may be a. q as for MontProduct. Constant time.
void MontSquare(Limb* r, const Limb* a, const MontModulus& mod, Limb* q);
// The same by the portable kernels, whatever the processor offers; for checking one kernel by the other.
void MontProductPortable(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q);
void MontSquarePortable(Limb* r, const Limb* a, const MontModulus& mod, Limb* q);

// r := x*R mod m, the Montgomery form of x, for any x of xDigits digits (also x >= m, also x longer than
// the modulus). Constant time: depends on xDigits and the modulus length, never on x's value or m's.
// work needs 3*mod.limbs limbs; the caller wipes it.
void MontToForm(Limb* r, const Digit* x, unsigned xDigits, const MontModulus& mod, Limb* work);
// a := x/R mod m over aDigits digits (aDigits at least 2*mod.limbs, or the modulus's significant
// digits), the ordinary value of the Montgomery form x < m. Constant time. work needs 3*mod.limbs limbs;
// the caller wipes it.
void MontFromForm(Digit* a, unsigned aDigits, const Limb* x, const MontModulus& mod, Limb* work);

// Largest window of the constant-time exponentiation, and its table size.
inline constexpr unsigned MaxWindowBits = 5;
inline constexpr unsigned MaxWindowEntries = 1u << MaxWindowBits;

// Work area of one constant-time exponentiation; the caller wipes it.
struct MontExpWork {
  Limb powers[MaxWindowEntries * MontLimbs];   // base^0 .. base^(2^w - 1), n limbs apart
  Limb columns[MaxWindowEntries * MontLimbs];  // the same regrouped limb by limb for the masked reads
  Limb entry[MontLimbs];                       // the entry picked for the current window
  Limb q[2 * MontLimbs];                       // work area of one product
};

// r := base^c in Montgomery form, from the form of the base (below m). Exactly expBits bits of c are
// scanned (c holds at least (expBits + 31) / 32 digits; bits above expBits are ignored), by fixed
// windows, each costing the same squarings, one masked read of the whole table and one product.
// Constant time: depends on mod.limbs and expBits only. expBits = 0 gives the form of 1. r may be base.
// Where the IFMA family is selected, moduli of 16 to 32 limbs run on its vector kernel (MontgomeryIfma.h).
void MontExp(Limb* r, const Limb* base, const Digit* c, unsigned expBits, const MontModulus& mod, MontExpWork& w);
// The same on the scalar kernels (MontProduct, MontSquare) whatever the family; for checking one by the other.
void MontExpScalar(Limb* r, const Limb* base, const Digit* c, unsigned expBits, const MontModulus& mod,
                   MontExpWork& w);
// MontExp for a public exponent of cDigits digits, by square-and-multiply over its significant bits:
// it branches on the exponent's bits, so it serves public exponents only. Constant time in the base.
// q is a work area of 2*mod.limbs limbs that the caller wipes. r may be base.
void MontExpPublicVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod,
                          Limb* q);
// out := x^c mod m over outDigits digits (at least 2*mod.limbs, or the modulus's significant digits),
// for any x of xDigits digits and a public exponent: the conversion into Montgomery form,
// MontExpPublicVarTime and the conversion back in one, which spares conversions where the vector kernel
// runs. Constant time in x. Exponent zero gives 1 mod m.
void MontPowerPublicVarTime(Digit* out, unsigned outDigits, const Digit* x, unsigned xDigits, const Digit* c,
                            unsigned cDigits, const MontModulus& mod);
// The same on the scalar kernels whatever the family; for checking one by the other.
void MontExpPublicScalarVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits,
                                const MontModulus& mod, Limb* q);

// One exponentiation of a pair: *r := base^exponent in Montgomery form modulo *mod, expBits bits scanned.
struct MontExpJob {
  Limb* r;
  const Limb* base;
  const Digit* exponent;
  unsigned expBits;
  const MontModulus* mod;
};
// Two independent constant-time exponentiations, such as the two halves of a private-key operation by
// the Chinese remainder theorem. Same contract as MontExp for each job.
using MontExpPairFn = void (*)(const MontExpJob& first, const MontExpJob& second);
// Runs the two jobs on the scalar kernels: step by step side by side when both scan the same number of
// bits on moduli of the same limb count up to 16 (the halves of keys up to 2048 bits), which overlaps
// the end of each step with the start of the other half's; otherwise one after the other with MontExp.
void MontExpPairGeneric(const MontExpJob& first, const MontExpJob& second);
// The pair implementation for these two moduli on this processor: where a kernel computes both halves
// at once (a vector unit working on both), it is chosen here; otherwise MontExpPairGeneric.
MontExpPairFn SelectMontExpPair(const MontModulus& first, const MontModulus& second);

// Overwrites the stack area below the caller, where the kernels' frames lay: they may spill limbs of
// secret values there. Callers run it once after a secret computation.
void MontWipeStack();

// a := b^c mod d for an odd d, by MontExp over the exponent's significant digits. Same contract as
// BNModExp: dDigits <= ScratchDigits, any cDigits, exponent zero gives 1 (not reduced, also modulo 1), a
// may be b, c or d, b need not be below d. Constant time in b and c's bits; time depends on the
// modulus's significant length and the exponent's significant digit count.
void BNModExpMontgomery(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d,
                        unsigned dDigits);

}  // namespace Rsa
