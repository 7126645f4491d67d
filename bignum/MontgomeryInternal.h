// Helpers shared by the Montgomery set-up, its kernels and the exponentiation; internal to bignum/.
// Everything here runs in time that depends on the limb counts only.
#pragma once

#include "bignum/ConstantTime.h"
#include "bignum/Montgomery.h"

// The ADX/BMI2 kernels exist on x86-64 builds by GCC or Clang (their inline assembly needs both).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QARVEX_HAVE_ADX_KERNELS 1
#else
#define QARVEX_HAVE_ADX_KERNELS 0
#endif

namespace Rsa::MontDetail {

// top:hi:lo += x*y. Written as one 128-bit sum with its carry counted in top, which compilers turn into
// a multiply followed by one add-with-carry chain.
[[gnu::always_inline]] inline void MulAdd(Limb& lo, Limb& hi, Limb& top, Limb x, Limb y) {
  const WideLimb p = static_cast<WideLimb>(x) * y;
  const WideLimb sum = ((static_cast<WideLimb>(hi) << 64) | lo) + p;
  top += sum < p;
  lo = static_cast<Limb>(sum);
  hi = static_cast<Limb>(sum >> 64);
}

// top:hi:lo += c2:c1:c0.
[[gnu::always_inline]] inline void Add3(Limb& lo, Limb& hi, Limb& top, Limb c0, Limb c1, Limb c2) {
  const WideLimb x = (static_cast<WideLimb>(hi) << 64) | lo;
  const WideLimb y = (static_cast<WideLimb>(c1) << 64) | c0;
  const WideLimb s = x + y;
  top += c2 + (s < y);
  lo = static_cast<Limb>(s);
  hi = static_cast<Limb>(s >> 64);
}

// carry:r (n + 1 limbs) minus m when that is not negative; carry:r must be below 2m for a full reduction.
// The comparison is a full borrow pass, the subtraction a second pass under a mask.
inline void SubtractModulusOnce(Limb* r, Limb carry, const Limb* m, unsigned n) {
  Limb borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(r[i]) - m[i] - borrow;
    borrow = static_cast<Limb>(t >> 64) & 1;
  }
  // Subtract when carry:r >= m, that is when the top limb is set or r alone does not borrow.
  const Limb mask = ConstantTime::MaskFromBit<Limb>(carry | (borrow ^ 1));
  borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(r[i]) - (m[i] & mask) - borrow;
    r[i] = static_cast<Limb>(t);
    borrow = static_cast<Limb>(t >> 64) & 1;
  }
}

// r := b + c over n limbs; returns the carry.
inline Limb AddLimbs(Limb* r, const Limb* b, const Limb* c, unsigned n) {
  Limb carry = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(b[i]) + c[i] + carry;
    r[i] = static_cast<Limb>(t);
    carry = static_cast<Limb>(t >> 64);
  }
  return carry;
}

// r := r * 2^count mod m for r below m and an odd m, over n limbs (MontgomerySetup.cpp).
void DoubleModulo(Limb* r, const Limb* m, unsigned n, unsigned count);

#if QARVEX_HAVE_ADX_KERNELS
// The kernels behind MontProduct and MontSquare on x86-64 processors with ADX and BMI2 (mulx, adcx,
// adox); defined in MontgomeryAdx.cpp, which only x86-64 builds compile. Same contracts as
// MontProduct/MontSquare; t is a work area of 2n limbs.
void ProductAdx(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* t);
void SquareAdx(Limb* r, const Limb* a, const MontModulus& mod, Limb* t);
// Fixed-size kernels, fully unrolled (MontgomeryAdxFixed.cpp): the Montgomery product for 8 limbs. Same
// contract as MontProduct; no work area.
void ProductAdx8(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod);
// Kernels of 8 by 8 limb blocks (MontgomeryAdxBlocks.cpp): the Montgomery square for 8 limbs, the product
// and the square for 16. Same contracts as MontSquare/MontProduct; the 8-limb square works in t (16
// limbs, which the caller wipes), the 16-limb kernels in a frame of their own, which they wipe.
void SquareAdx8(Limb* r, const Limb* a, const MontModulus& mod, Limb* t);
void ProductAdx16(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod);
void SquareAdx16(Limb* r, const Limb* a, const MontModulus& mod);
// The doublings of DoubleModulo for 8 limbs with the value in registers: r := 2^count * r with m added
// or subtracted at each step as the sign asks; returns the sign limb (0, or all ones when the value
// ended negative), which the caller resolves. m must be odd.
Limb DoublingsAdx8(Limb* r, const Limb* m, unsigned count);
// True when this processor has ADX and BMI2.
bool ProcessorHasAdx();

// The end of the 8-limb kernels, as assembly text. The value, limbs t8, t0, ..., t6 and its top bit in
// t7, is below 2m: it is stored at OUT, m (at MOD) is subtracted, and where that borrows the stored
// limbs are taken back (cmov reads them whatever the borrow) and stored again. OUT and MOD are the names
// of the asm operands holding the two addresses.
#define QARVEX_ADX_STORE8(OUT) \
  "movq %[t8], 0(%[" OUT "])\n\t" \
  "movq %[t0], 8(%[" OUT "])\n\t" \
  "movq %[t1], 16(%[" OUT "])\n\t" \
  "movq %[t2], 24(%[" OUT "])\n\t" \
  "movq %[t3], 32(%[" OUT "])\n\t" \
  "movq %[t4], 40(%[" OUT "])\n\t" \
  "movq %[t5], 48(%[" OUT "])\n\t" \
  "movq %[t6], 56(%[" OUT "])\n\t"
#define QARVEX_ADX_FINISH8(OUT, MOD) \
  QARVEX_ADX_STORE8(OUT) \
  "subq 0(%[" MOD "]), %[t8]\n\t" \
  "sbbq 8(%[" MOD "]), %[t0]\n\t" \
  "sbbq 16(%[" MOD "]), %[t1]\n\t" \
  "sbbq 24(%[" MOD "]), %[t2]\n\t" \
  "sbbq 32(%[" MOD "]), %[t3]\n\t" \
  "sbbq 40(%[" MOD "]), %[t4]\n\t" \
  "sbbq 48(%[" MOD "]), %[t5]\n\t" \
  "sbbq 56(%[" MOD "]), %[t6]\n\t" \
  "sbbq $0, %[t7]\n\t" \
  "cmovcq 0(%[" OUT "]), %[t8]\n\t" \
  "cmovcq 8(%[" OUT "]), %[t0]\n\t" \
  "cmovcq 16(%[" OUT "]), %[t1]\n\t" \
  "cmovcq 24(%[" OUT "]), %[t2]\n\t" \
  "cmovcq 32(%[" OUT "]), %[t3]\n\t" \
  "cmovcq 40(%[" OUT "]), %[t4]\n\t" \
  "cmovcq 48(%[" OUT "]), %[t5]\n\t" \
  "cmovcq 56(%[" OUT "]), %[t6]\n\t" \
  QARVEX_ADX_STORE8(OUT)
#endif

}  // namespace Rsa::MontDetail
