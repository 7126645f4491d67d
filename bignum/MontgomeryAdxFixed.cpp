// The fixed-size 8-limb kernels for x86-64 processors with ADX and BMI2 (the halves of 1024-bit keys,
// 512-bit moduli and primes): the Montgomery product, and the set-up's modular doublings. The product
// scans the operand a limb by limb and reduces as it goes: row i adds a[i]*b, then q*m with q chosen to
// cancel the lowest limb, which drops off. Each row runs two carry chains side by side (adcx on the
// carry flag, adox on the overflow flag), and the running value stays in registers for the whole
// product. The 8-limb square and the 16-limb kernels are built from blocks (MontgomeryAdxBlocks.cpp).
// No branch and no memory address depends on the operands or the modulus; time depends on nothing but
// the size.
#include <cstddef>

#include "bignum/BigNumInternal.h"
#include "bignum/MontgomeryInternal.h"

#if QARVEX_HAVE_ADX_KERNELS

namespace Rsa::MontDetail {

namespace {

// One step of a row in registers: mulx source[j] by rdx, the low half into limb TJ on the carry chain,
// the high half into limb TJ1 on the overflow chain.
#define QX_STEP(J, TJ, TJ1, SRC)                  \
  "mulxq 8*" #J "(%[" SRC "]), %[lo], %[hi]\n\t" \
  "adcxq %[lo], %[t" #TJ "]\n\t"                 \
  "adoxq %[hi], %[t" #TJ1 "]\n\t"

#define QX_ROW_STEPS(SRC, A, B, C, D, E, F, G, H, X) \
  QX_STEP(0, A, B, SRC)                              \
  QX_STEP(1, B, C, SRC)                              \
  QX_STEP(2, C, D, SRC)                              \
  QX_STEP(3, D, E, SRC)                              \
  QX_STEP(4, E, F, SRC)                              \
  QX_STEP(5, F, G, SRC)                              \
  QX_STEP(6, G, H, SRC)                              \
  QX_STEP(7, H, X, SRC)

// The frame the 8-limb rows read their pointers from and park their carries in, and the byte offsets of
// its fields as the assembly writes them.
struct Frame8 {
  const Limb* a;
  const Limb* b;
  const MontModulus* m;
  Limb extra;
};
#define QX_A "0+"
#define QX_B "8+"
#define QX_M "16+"
#define QX_EXTRA "24+"
static_assert(offsetof(Frame8, a) == 0 && offsetof(Frame8, b) == 8 && offsetof(Frame8, m) == 16 &&
              offsetof(Frame8, extra) == 24);

// Row I of the 8-limb product with the running value in registers A (lowest) to X (top limb, at most a
// few bits): the value += a[I]*b, whose carries out of X are kept in the frame; then q := A * mInv, the
// value += q*m, which clears A; A then takes the carries out of X and becomes the new top limb, so the
// next row names the registers one place on. The pointers are reloaded from the frame as each pass
// needs them, so that the whole product takes thirteen registers (builds that keep a frame pointer, as
// sanitizer builds do, leave fourteen). r's address comes in the fourteenth where there is one, else
// from the stack, and is needed only at the end.
#define QX_ROW8(I, A, B, C, D, E, F, G, H, X)         \
  "movq " QX_A "%[f], %[p]\n\t"                     \
  "movq 8*" #I "(%[p]), %%rdx\n\t"                  \
  "movq " QX_B "%[f], %[p]\n\t"                     \
  "xorl %k[lo], %k[lo]\n\t"                          \
  QX_ROW_STEPS("p", A, B, C, D, E, F, G, H, X)       \
  "movl $0, %k[lo]\n\t"                              \
  "adcxq %[lo], %[t" #X "]\n\t"                      \
  "adoxq %[lo], %[lo]\n\t"                           \
  "adcq $0, %[lo]\n\t"                               \
  "movq %[lo], " QX_EXTRA "%[f]\n\t"                 \
  "movq " QX_M "%[f], %[p]\n\t"                     \
  "movq %[t" #A "], %%rdx\n\t"                       \
  "imulq %c[minv](%[p]), %%rdx\n\t"                  \
  "xorl %k[lo], %k[lo]\n\t"                          \
  QX_ROW_STEPS("p", A, B, C, D, E, F, G, H, X)       \
  "adcxq %[t" #A "], %[t" #X "]\n\t"                 \
  "adoxq %[t" #A "], %[t" #A "]\n\t"                 \
  "adcq " QX_EXTRA "%[f], %[t" #A "]\n\t"

// r := a*b/R mod m for 8 limbs. Before a row the value is below b + m, after its two additions below
// 2^64*(b + m): nine limbs and one bit, the bit carried in `extra` and then into the new top limb.
void Product8(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod) {
  Frame8 frame{a, b, &mod, 0};
  Limb t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0, t5 = 0, t6 = 0, t7 = 0, t8 = 0, lo, hi;
  const Limb* p;
  __asm__(
      QX_ROW8(0, 0, 1, 2, 3, 4, 5, 6, 7, 8)
      QX_ROW8(1, 1, 2, 3, 4, 5, 6, 7, 8, 0)
      QX_ROW8(2, 2, 3, 4, 5, 6, 7, 8, 0, 1)
      QX_ROW8(3, 3, 4, 5, 6, 7, 8, 0, 1, 2)
      QX_ROW8(4, 4, 5, 6, 7, 8, 0, 1, 2, 3)
      QX_ROW8(5, 5, 6, 7, 8, 0, 1, 2, 3, 4)
      QX_ROW8(6, 6, 7, 8, 0, 1, 2, 3, 4, 5)
      QX_ROW8(7, 7, 8, 0, 1, 2, 3, 4, 5, 6)
      // The value is below 2m: into r, less m where that does not borrow.
      "movq %[rp], %[lo]\n\t"
      QARVEX_ADX_FINISH8("lo", "p")
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [t4] "+&r"(t4), [t5] "+&r"(t5),
        [t6] "+&r"(t6), [t7] "+&r"(t7), [t8] "+&r"(t8), [lo] "=&r"(lo), [hi] "=&r"(hi), [p] "=&r"(p),
        [f] "+m"(frame)
      : [minv] "i"(offsetof(MontModulus, mInv)), [rp] "rm"(r)
      : "rdx", "cc", "memory");
}

#undef QX_ROW8
#undef QX_ROW_STEPS
#undef QX_STEP
#undef QX_A
#undef QX_B
#undef QX_M
#undef QX_EXTRA

}  // namespace

void ProductAdx8(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod) { Product8(r, a, b, mod); }

Limb DoublingsAdx8(Limb* r, const Limb* m, unsigned count) {
  Limb r0 = r[0], r1 = r[1], r2 = r[2], r3 = r[3], r4 = r[4], r5 = r[5], r6 = r[6], r7 = r[7];
  Limb top = 0, add, x;
  // m, or -m, for this doubling. Addressed through a register: a memory operand may come without
  // a displacement (Clang at some optimisation levels), which an added offset cannot follow.
  Limb operand[8];
  unsigned long left = count;
  if (left == 0) return 0;
  __asm__(
      "1:\n\t"
      // add := all ones when the value is not negative (subtract m), zero when it is (add m).
      "movq %[top], %[add]\n\t"
      "sarq $63, %[add]\n\t"
      "notq %[add]\n\t"
      // operand := m ^ add, plus one in the lowest limb when subtracting (-m = ~m + 1; m is odd, so
      // ~m's lowest limb is even and the one does not carry).
      "movq 0(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "subq %[add], %[x]\n\t"
      "movq %[x], 0(%[op])\n\t"
      "movq 8(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 8(%[op])\n\t"
      "movq 16(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 16(%[op])\n\t"
      "movq 24(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 24(%[op])\n\t"
      "movq 32(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 32(%[op])\n\t"
      "movq 40(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 40(%[op])\n\t"
      "movq 48(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 48(%[op])\n\t"
      "movq 56(%[m]), %[x]\n\t"
      "xorq %[add], %[x]\n\t"
      "movq %[x], 56(%[op])\n\t"
      // value := 2*value + operand: the doubling on the carry flag, the addition on the overflow flag.
      "xorl %k[x], %k[x]\n\t"
      "adcxq %[r0], %[r0]\n\t"
      "adoxq 0(%[op]), %[r0]\n\t"
      "adcxq %[r1], %[r1]\n\t"
      "adoxq 8(%[op]), %[r1]\n\t"
      "adcxq %[r2], %[r2]\n\t"
      "adoxq 16(%[op]), %[r2]\n\t"
      "adcxq %[r3], %[r3]\n\t"
      "adoxq 24(%[op]), %[r3]\n\t"
      "adcxq %[r4], %[r4]\n\t"
      "adoxq 32(%[op]), %[r4]\n\t"
      "adcxq %[r5], %[r5]\n\t"
      "adoxq 40(%[op]), %[r5]\n\t"
      "adcxq %[r6], %[r6]\n\t"
      "adoxq 48(%[op]), %[r6]\n\t"
      "adcxq %[r7], %[r7]\n\t"
      "adoxq 56(%[op]), %[r7]\n\t"
      "adcxq %[top], %[top]\n\t"
      "adoxq %[add], %[top]\n\t"
      "decq %[left]\n\t"
      "jnz 1b\n\t"
      : [r0] "+&r"(r0), [r1] "+&r"(r1), [r2] "+&r"(r2), [r3] "+&r"(r3), [r4] "+&r"(r4), [r5] "+&r"(r5),
        [r6] "+&r"(r6), [r7] "+&r"(r7), [top] "+&r"(top), [add] "=&r"(add), [x] "=&r"(x),
        [left] "+&r"(left)
      : [m] "r"(m), [op] "r"(operand)
      : "cc", "memory");
  r[0] = r0;
  r[1] = r1;
  r[2] = r2;
  r[3] = r3;
  r[4] = r4;
  r[5] = r5;
  r[6] = r6;
  r[7] = r7;
  BNWipe(operand, 0, sizeof operand);
  return top;
}

}  // namespace Rsa::MontDetail

#endif
