// Montgomery squares of 8 limbs and products and squares of 16 limbs for x86-64 processors with ADX and
// BMI2, built from blocks of 8 by 8 limbs whose running sum stays in registers.
//
// A block adds x[0..7]*y[0..7] at limb OFF of the running sum t: the nine registers hold the limbs a row
// can touch, each row adds x[i]*y with two carry chains side by side (adcx on the carry flag, adox on the
// overflow flag), then retires its lowest limb to memory and takes it back as the new top. After eight
// rows the eight high limbs are added into t and the carry into the limb above, which never overflows
// there: the blocks run in an order where that limb holds nothing but earlier carries (t starts at zero).
// A reduction block is the same with x[i] := (lowest limb) * (-1/m) chosen as it goes, and the x[i] kept
// for the block that multiplies them by the upper half of m. A square block adds each cross product
// a[i]*a[j], i < j, once, then doubles the sum and adds the squares a[k]^2 in one pass with the two chains.
//
// The 16-limb product runs, with a = a0 + a1*B, b = b0 + b1*B (B = 2^512) and q = q0 + q1*B its reduction
// multipliers: a0*b0, q0*m0, a0*b1, a1*b0, q0*m1 (all that limbs 8 .. 15 need), q1*m0, a1*b1, q1*m1.
// The square replaces a0*b1 + a1*b0 by (2*a0 mod B)*a1 plus a1 when a0's top bit is set, and the
// diagonal blocks by squares. The sum is below 2m; one subtraction under a mask finishes.
//
// The 8-limb square reduces with the sum's upper half in registers and finishes there, in the caller's
// work area; the 16-limb kernels work in a frame of their own, which they wipe before returning. No
// branch and no memory address depends on the operands or the modulus; time depends on nothing but the
// size.
#include <cstddef>

#include "bignum/BigNumInternal.h"
#include "bignum/MontgomeryInternal.h"

#if QARVEX_HAVE_ADX_KERNELS
#include <immintrin.h>

namespace Rsa::MontDetail {

namespace {

// Everything the blocks address, in one frame that the assembly reaches through one operand.
struct Frame {
  Limb minv;    // -1/m mod 2^64
  Limb q[16];   // the reduction multipliers
  Limb t[33];   // the running sum: 2n limbs and the top
  Limb x[16];   // the multiplier rows: a, or 2*a0 for the square's cross block
  Limb u[16];   // a square block's result before it is added
};

// Add and subtract with carry on limbs (the intrinsics take unsigned long long, a distinct type).
[[gnu::always_inline]] inline unsigned char AddCarry(unsigned char c, Limb x, Limb y, Limb& out) {
  unsigned long long s;
  c = _addcarry_u64(c, x, y, &s);
  out = s;
  return c;
}
[[gnu::always_inline]] inline unsigned char SubBorrow(unsigned char b, Limb x, Limb y, Limb& out) {
  unsigned long long s;
  b = _subborrow_u64(b, x, y, &s);
  out = s;
  return b;
}

// The operands every block names: the nine window registers and the two halves of each product. The
// inputs add the frame's address and the offsets of its fields (printed without a '$' by %c); the
// assembly reads and writes the frame through that address, which the memory clobber covers; the
// statements are volatile because no C++ code reads their register outputs.
#define QB_WINDOW_OUTPUTS                                                                               \
  [t0] "=&r"(w[0]), [t1] "=&r"(w[1]), [t2] "=&r"(w[2]), [t3] "=&r"(w[3]), [t4] "=&r"(w[4]),            \
      [t5] "=&r"(w[5]), [t6] "=&r"(w[6]), [t7] "=&r"(w[7]), [t8] "=&r"(w[8]), [lo] "=&r"(lo), \
      [hi] "=&r"(hi)

// One multiply-add of a row: rdx*y[J], the low half into limb TJ on the carry chain, the high half into
// limb TJ1 on the overflow chain.
#define QB_STEP(J, TJ, TJ1)                   \
  "mulxq 8*" #J "(%[y]), %[lo], %[hi]\n\t" \
  "adcxq %[lo], %[t" #TJ "]\n\t"            \
  "adoxq %[hi], %[t" #TJ1 "]\n\t"

// A..H += rdx*y[0..7] with X, zero on entry, the top limb; both flags clear on entry. The window (below
// 2^512 before the row) stays below 2^576, so X takes the last carry without overflowing.
#define QB_ROW(A, B, C, D, E, F, G, H, X) \
  QB_STEP(0, A, B)                        \
  QB_STEP(1, B, C)                        \
  QB_STEP(2, C, D)                        \
  QB_STEP(3, D, E)                        \
  QB_STEP(4, E, F)                        \
  QB_STEP(5, F, G)                        \
  QB_STEP(6, G, H)                        \
  QB_STEP(7, H, X)                        \
  "movl $0, %k[lo]\n\t"                   \
  "adcxq %[lo], %[t" #X "]\n\t"

// Row I of a product block: x[I] from the frame; the finished lowest limb A goes to t.
#define QB_MUL_ROW(I, A, B, C, D, E, F, G, H, X)           \
  "movq %c[xoff]+8*" #I "(%[fp]), %%rdx\n\t"                \
  "xorl %k[t" #X "], %k[t" #X "]\n\t"                     \
  QB_ROW(A, B, C, D, E, F, G, H, X)                        \
  "movq %[t" #A "], %c[toff]+8*" #I "(%[fp])\n\t"

// Row I of a reduction block: q := A * minv, kept in the frame; the row then clears A.
#define QB_RED_ROW(I, A, B, C, D, E, F, G, H, X) \
  "movq %[t" #A "], %%rdx\n\t"                   \
  "imulq %c[minv](%[fp]), %%rdx\n\t"               \
  "movq %%rdx, %c[xoff]+8*" #I "(%[fp])\n\t"       \
  "xorl %k[t" #X "], %k[t" #X "]\n\t"            \
  QB_ROW(A, B, C, D, E, F, G, H, X)

// Eight rows, the register names moving one place on at each, around a block's load and final add.
#define QB_LOAD                                               \
  "movq %c[toff]+0(%[fp]), %[t0]\n\t"                           \
  "movq %c[toff]+8(%[fp]), %[t1]\n\t"                           \
  "movq %c[toff]+16(%[fp]), %[t2]\n\t"                          \
  "movq %c[toff]+24(%[fp]), %[t3]\n\t"                          \
  "movq %c[toff]+32(%[fp]), %[t4]\n\t"                          \
  "movq %c[toff]+40(%[fp]), %[t5]\n\t"                          \
  "movq %c[toff]+48(%[fp]), %[t6]\n\t"                          \
  "movq %c[toff]+56(%[fp]), %[t7]\n\t"
#define QB_ROWS(ROW)                                          \
  ROW(0, 0, 1, 2, 3, 4, 5, 6, 7, 8)                           \
  ROW(1, 1, 2, 3, 4, 5, 6, 7, 8, 0)                           \
  ROW(2, 2, 3, 4, 5, 6, 7, 8, 0, 1)                           \
  ROW(3, 3, 4, 5, 6, 7, 8, 0, 1, 2)                           \
  ROW(4, 4, 5, 6, 7, 8, 0, 1, 2, 3)                           \
  ROW(5, 5, 6, 7, 8, 0, 1, 2, 3, 4)                           \
  ROW(6, 6, 7, 8, 0, 1, 2, 3, 4, 5)                           \
  ROW(7, 7, 8, 0, 1, 2, 3, 4, 5, 6)
#define QB_ADD_HIGH                                           \
  "addq %[t8], %c[toff]+64(%[fp])\n\t"                          \
  "adcq %[t0], %c[toff]+72(%[fp])\n\t"                          \
  "adcq %[t1], %c[toff]+80(%[fp])\n\t"                          \
  "adcq %[t2], %c[toff]+88(%[fp])\n\t"                          \
  "adcq %[t3], %c[toff]+96(%[fp])\n\t"                          \
  "adcq %[t4], %c[toff]+104(%[fp])\n\t"                         \
  "adcq %[t5], %c[toff]+112(%[fp])\n\t"                         \
  "adcq %[t6], %c[toff]+120(%[fp])\n\t"                         \
  "adcq $0, %c[toff]+128(%[fp])\n\t"
#define QB_BLOCK(ROW) QB_LOAD QB_ROWS(ROW) QB_ADD_HIGH
// A block whose limbs of t are all zero before it: nothing to load or add, and no carry out.
#define QB_FRESH_BLOCK(ROW)                                   \
  "xorl %k[t0], %k[t0]\n\t"                                   \
  "xorl %k[t1], %k[t1]\n\t"                                   \
  "xorl %k[t2], %k[t2]\n\t"                                   \
  "xorl %k[t3], %k[t3]\n\t"                                   \
  "xorl %k[t4], %k[t4]\n\t"                                   \
  "xorl %k[t5], %k[t5]\n\t"                                   \
  "xorl %k[t6], %k[t6]\n\t"                                   \
  "xorl %k[t7], %k[t7]\n\t"                                   \
  QB_ROWS(ROW)                                                \
  "movq %[t8], %c[toff]+64(%[fp])\n\t"                          \
  "movq %[t0], %c[toff]+72(%[fp])\n\t"                          \
  "movq %[t1], %c[toff]+80(%[fp])\n\t"                          \
  "movq %[t2], %c[toff]+88(%[fp])\n\t"                          \
  "movq %[t3], %c[toff]+96(%[fp])\n\t"                          \
  "movq %[t4], %c[toff]+104(%[fp])\n\t"                         \
  "movq %[t5], %c[toff]+112(%[fp])\n\t"                         \
  "movq %[t6], %c[toff]+120(%[fp])\n\t"

// t[off .. off + 16] += x*y, x the 8 limbs at XOffset of the frame (in x or q). Fresh: t[off .. off + 15]
// := x*y instead, whatever it held.
template <unsigned Off, std::size_t XOffset, bool Fresh = false>
[[gnu::always_inline]] inline void MulBlock(Frame& f, const Limb* y) {
  Limb w[9], lo, hi;
  if constexpr (Fresh) {
    __asm__ volatile(QB_FRESH_BLOCK(QB_MUL_ROW)
            : QB_WINDOW_OUTPUTS
            : [y] "r"(y), [fp] "r"(&f), [toff] "i"(offsetof(Frame, t) + 8 * Off), [xoff] "i"(XOffset)
            : "rdx", "cc", "memory");
  } else {
    __asm__ volatile(QB_BLOCK(QB_MUL_ROW)
            : QB_WINDOW_OUTPUTS
            : [y] "r"(y), [fp] "r"(&f), [toff] "i"(offsetof(Frame, t) + 8 * Off), [xoff] "i"(XOffset)
            : "rdx", "cc", "memory");
  }
}

// The reduction rows Off .. Off + 7: each cancels limb Off + i of t by adding q*m[0..7] there, with q
// stored at q[Off + i]; t[Off + 8 .. Off + 16] takes the rest.
template <unsigned Off>
[[gnu::always_inline]] inline void ReduceBlock(Frame& f, const Limb* m) {
  Limb w[9], lo, hi;
  __asm__ volatile(QB_BLOCK(QB_RED_ROW)
          : QB_WINDOW_OUTPUTS
          : [y] "r"(m), [fp] "r"(&f), [toff] "i"(offsetof(Frame, t) + 8 * Off), [xoff] "i"(offsetof(Frame, q) + 8 * Off),
            [minv] "i"(offsetof(Frame, minv))
          : "rdx", "cc", "memory");
}

// Limb P of a square block's result lives in register (P - 1) mod 8 while the rows run.
#define QB_DIAG_MEM(K, P0, P1)                       \
  "movq 8*" #K "(%[y]), %%rdx\n\t"                   \
  "mulxq %%rdx, %[lo], %[hi]\n\t"                    \
  "movq %c[toff]+8*" #P0 "(%[fp]), %[t8]\n\t"          \
  "adcxq %[t8], %[t8]\n\t"                           \
  "adoxq %[lo], %[t8]\n\t"                           \
  "movq %[t8], %c[toff]+8*" #P0 "(%[fp])\n\t"          \
  "movq %c[toff]+8*" #P1 "(%[fp]), %[t8]\n\t"          \
  "adcxq %[t8], %[t8]\n\t"                           \
  "adoxq %[hi], %[t8]\n\t"                           \
  "movq %[t8], %c[toff]+8*" #P1 "(%[fp])\n\t"
#define QB_DIAG_REG(K, R0, R1)         \
  "movq 8*" #K "(%[y]), %%rdx\n\t"     \
  "mulxq %%rdx, %[lo], %[hi]\n\t"      \
  "adcxq %[t" #R0 "], %[t" #R0 "]\n\t" \
  "adoxq %[lo], %[t" #R0 "]\n\t"       \
  "adcxq %[t" #R1 "], %[t" #R1 "]\n\t" \
  "adoxq %[hi], %[t" #R1 "]\n\t"
// Row I of the cross products: rdx := a[I], the fresh top limb TOP cleared (with both flags).
#define QB_SQ_ROW_START(I, TOP)      \
  "movq 8*" #I "(%[y]), %%rdx\n\t"   \
  "xorl %k[t" #TOP "], %k[t" #TOP "]\n\t"
#define QB_SQ_ROW_END(TOP, RETIRED, P) \
  "movl $0, %k[lo]\n\t"                \
  "adcxq %[lo], %[t" #TOP "]\n\t"      \
  "movq %[t" #RETIRED "], %c[toff]+8*" #P "(%[fp])\n\t"

// The 16 limbs at byte Dest of the area at base := a[0..7]^2 (overwritten, not added).
template <std::size_t Dest>
[[gnu::always_inline]] inline void SquareBlock(void* base, const Limb* a) {
  Limb w[9], lo, hi;
  __asm__ volatile(
      "xorl %k[t0], %k[t0]\n\t"
      "xorl %k[t1], %k[t1]\n\t"
      "xorl %k[t2], %k[t2]\n\t"
      "xorl %k[t3], %k[t3]\n\t"
      "xorl %k[t4], %k[t4]\n\t"
      "xorl %k[t5], %k[t5]\n\t"
      "xorl %k[t6], %k[t6]\n\t"
      QB_SQ_ROW_START(0, 7)
      QB_STEP(1, 0, 1) QB_STEP(2, 1, 2) QB_STEP(3, 2, 3) QB_STEP(4, 3, 4) QB_STEP(5, 4, 5) QB_STEP(6, 5, 6)
      QB_STEP(7, 6, 7)
      QB_SQ_ROW_END(7, 0, 1)
      QB_SQ_ROW_START(1, 0)
      QB_STEP(2, 2, 3) QB_STEP(3, 3, 4) QB_STEP(4, 4, 5) QB_STEP(5, 5, 6) QB_STEP(6, 6, 7) QB_STEP(7, 7, 0)
      QB_SQ_ROW_END(0, 1, 2)
      QB_SQ_ROW_START(2, 1)
      QB_STEP(3, 4, 5) QB_STEP(4, 5, 6) QB_STEP(5, 6, 7) QB_STEP(6, 7, 0) QB_STEP(7, 0, 1)
      QB_SQ_ROW_END(1, 2, 3)
      QB_SQ_ROW_START(3, 2)
      QB_STEP(4, 6, 7) QB_STEP(5, 7, 0) QB_STEP(6, 0, 1) QB_STEP(7, 1, 2)
      QB_SQ_ROW_END(2, 3, 4)
      QB_SQ_ROW_START(4, 3)
      QB_STEP(5, 0, 1) QB_STEP(6, 1, 2) QB_STEP(7, 2, 3)
      QB_SQ_ROW_END(3, 4, 5)
      QB_SQ_ROW_START(5, 4)
      QB_STEP(6, 2, 3) QB_STEP(7, 3, 4)
      QB_SQ_ROW_END(4, 5, 6)
      QB_SQ_ROW_START(6, 5)
      QB_STEP(7, 4, 5)
      QB_SQ_ROW_END(5, 6, 7)
      // Limbs 8 .. 14 are in t7, t0, ..., t5; limb 15 is zero so far, limbs 1 .. 7 in memory, limb 0
      // zero. Double the whole and add the squares: the doubling on the carry chain, the squares on the
      // overflow chain. The result is below 2^1024, so neither chain carries out.
      "xorl %k[t6], %k[t6]\n\t"
      "movq $0, %c[toff](%[fp])\n\t"
      QB_DIAG_MEM(0, 0, 1)
      QB_DIAG_MEM(1, 2, 3)
      QB_DIAG_MEM(2, 4, 5)
      QB_DIAG_MEM(3, 6, 7)
      QB_DIAG_REG(4, 7, 0)
      QB_DIAG_REG(5, 1, 2)
      QB_DIAG_REG(6, 3, 4)
      QB_DIAG_REG(7, 5, 6)
      "movq %[t7], %c[toff]+64(%[fp])\n\t"
      "movq %[t0], %c[toff]+72(%[fp])\n\t"
      "movq %[t1], %c[toff]+80(%[fp])\n\t"
      "movq %[t2], %c[toff]+88(%[fp])\n\t"
      "movq %[t3], %c[toff]+96(%[fp])\n\t"
      "movq %[t4], %c[toff]+104(%[fp])\n\t"
      "movq %[t5], %c[toff]+112(%[fp])\n\t"
      "movq %[t6], %c[toff]+120(%[fp])\n\t"
      : QB_WINDOW_OUTPUTS
      : [y] "r"(a), [fp] "r"(base), [toff] "i"(Dest)
      : "rdx", "cc", "memory");
}

// t[off .. off + 15] += u[0..15], the carry into t[off + 16].
template <unsigned Off>
[[gnu::always_inline]] inline void AddSquareBlock(Frame& f) {
  unsigned char carry = 0;
  for (unsigned i = 0; i < 16; ++i)
    carry = AddCarry(carry, f.t[Off + i], f.u[i], f.t[Off + i]);
  f.t[Off + 16] += carry;
}

// r := t[n .. 2n] - m when that is not negative, else t[n .. 2n - 1]; the top limb t[2n] is 0 or 1 and
// the value below 2m. One borrow chain, then a choice under the mask of the borrow, limb by limb with
// no chain, so the result is ready soon after the subtraction. r may be an operand: every operand has
// been read when this runs.
template <unsigned N>
[[gnu::always_inline]] inline void FinalSubtract(Limb* r, const Frame& f, const Limb* m) {
  unsigned char borrow = 0;
#pragma GCC unroll 16
  for (unsigned i = 0; i < N; ++i)
    borrow = SubBorrow(borrow, f.t[N + i], m[i], r[i]);
  Limb keep;  // all ones when negative: keep the value as it was
  SubBorrow(borrow, f.t[2 * N], 0, keep);
#pragma GCC unroll 16
  for (unsigned i = 0; i < N; ++i) r[i] = (f.t[N + i] & keep) | (r[i] & ~keep);
}

// t[16 .. 32] := 0, by vector stores in assembly (the compiler turns a loop, even of vector stores, into
// a string instruction, slow to start).
[[gnu::always_inline]] inline void ClearUpperSum(Frame& f) {
  __asm__ volatile("pxor %%xmm0, %%xmm0\n\t"
          "movdqu %%xmm0, %c[t]+128(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+144(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+160(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+176(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+192(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+208(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+224(%[fp])\n\t"
          "movdqu %%xmm0, %c[t]+240(%[fp])\n\t"
          "movq $0, %c[t]+256(%[fp])\n\t"
          :
          : [fp] "r"(&f), [t] "i"(offsetof(Frame, t))
          : "xmm0", "memory");
}

// Row I of the 8-limb reduction: as QB_RED_ROW, with -1/m read next to m and q not kept.
#define QB_RED8_ROW(I, A, B, C, D, E, F, G, H, X) \
  "movq %[t" #A "], %%rdx\n\t"                    \
  "imulq %c[minv](%[y]), %%rdx\n\t"               \
  "xorl %k[t" #X "], %k[t" #X "]\n\t"             \
  QB_ROW(A, B, C, D, E, F, G, H, X)

// r := t/2^512 mod m for t (16 limbs at t) below m*2^512: the reduction rows in registers, the upper
// half added, then m subtracted under a choice by the borrow. r's address comes in a register where the build leaves one (builds
// that keep a frame pointer have one fewer), else from the stack, once t has been read.
[[gnu::always_inline]] inline void Reduce8(Limb* r, Limb* t, const MontModulus& mod) {
  Limb w[9], lo, hi;
  Limb* base = t;  // t, then r
  __asm__ volatile(
      QB_LOAD
      QB_ROWS(QB_RED8_ROW)
      // Limbs 8 .. 15 in t8, t0, ..., t6; t7 is zero and takes the carry.
      "addq 64(%[fp]), %[t8]\n\t"
      "adcq 72(%[fp]), %[t0]\n\t"
      "adcq 80(%[fp]), %[t1]\n\t"
      "adcq 88(%[fp]), %[t2]\n\t"
      "adcq 96(%[fp]), %[t3]\n\t"
      "adcq 104(%[fp]), %[t4]\n\t"
      "adcq 112(%[fp]), %[t5]\n\t"
      "adcq 120(%[fp]), %[t6]\n\t"
      "adcq $0, %[t7]\n\t"
      // The value is below 2m: into r, less m where that does not borrow.
      "movq %[rp], %[fp]\n\t"
      QARVEX_ADX_FINISH8("fp", "y")
      : QB_WINDOW_OUTPUTS, [fp] "+r"(base)
      : [y] "r"(mod.m), [rp] "rm"(r), [toff] "i"(0), [minv] "i"(offsetof(MontModulus, mInv) - offsetof(MontModulus, m))
      : "rdx", "cc", "memory");
}

}  // namespace

void SquareAdx8(Limb* r, const Limb* a, const MontModulus& mod, Limb* t) {
  SquareBlock<0>(t, a);
  Reduce8(r, t, mod);
}

void ProductAdx16(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod) {
  Frame f;
  f.minv = mod.mInv;
  for (unsigned i = 0; i < 16; ++i) f.x[i] = a[i];
  ClearUpperSum(f);
  const Limb* m = mod.m;
  MulBlock<0, offsetof(Frame, x), true>(f, b);
  ReduceBlock<0>(f, m);
  MulBlock<8, offsetof(Frame, x)>(f, b + 8);
  MulBlock<8, offsetof(Frame, x) + 64>(f, b);
  MulBlock<8, offsetof(Frame, q)>(f, m + 8);
  ReduceBlock<8>(f, m);
  MulBlock<16, offsetof(Frame, x) + 64>(f, b + 8);
  MulBlock<16, offsetof(Frame, q) + 64>(f, m + 8);
  FinalSubtract<16>(r, f, m);
  BNWipe(&f, 0, sizeof f);
}

void SquareAdx16(Limb* r, const Limb* a, const MontModulus& mod) {
  Frame f;
  f.minv = mod.mInv;
  ClearUpperSum(f);
  const Limb* m = mod.m;
  // x := 2*a0 mod 2^512; the bit shifted out asks for a1 to be added at limb 16.
  for (unsigned i = 0; i < 8; ++i) f.x[i] = (a[i] << 1) | (i > 0 ? a[i - 1] >> 63 : 0);
  const Limb topBit = ConstantTime::MaskFromBit<Limb>(a[7] >> 63);
  SquareBlock<offsetof(Frame, t)>(&f, a);
  ReduceBlock<0>(f, m);
  MulBlock<8, offsetof(Frame, x)>(f, a + 8);
  unsigned char carry = 0;
  for (unsigned i = 0; i < 8; ++i)
    carry = AddCarry(carry, f.t[16 + i], a[8 + i] & topBit, f.t[16 + i]);
  f.t[24] += carry;
  MulBlock<8, offsetof(Frame, q)>(f, m + 8);
  ReduceBlock<8>(f, m);
  SquareBlock<offsetof(Frame, u)>(&f, a + 8);
  AddSquareBlock<16>(f);
  MulBlock<16, offsetof(Frame, q) + 64>(f, m + 8);
  FinalSubtract<16>(r, f, m);
  BNWipe(&f, 0, sizeof f);
}

#undef QB_WINDOW_OUTPUTS
#undef QB_STEP
#undef QB_ROW
#undef QB_MUL_ROW
#undef QB_RED_ROW
#undef QB_BLOCK
#undef QB_LOAD
#undef QB_ROWS
#undef QB_ADD_HIGH
#undef QB_FRESH_BLOCK
#undef QB_RED8_ROW
#undef QB_DIAG_MEM
#undef QB_DIAG_REG
#undef QB_SQ_ROW_START
#undef QB_SQ_ROW_END

}  // namespace Rsa::MontDetail

#endif
