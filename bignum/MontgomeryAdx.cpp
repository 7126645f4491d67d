// Montgomery products and squares by rows of multiply-accumulate for x86-64 processors with the ADX
// and BMI2 extensions: each row is a loop of mulx with two independent carry chains (adcx and adox),
// which no portable code reaches. CMake compiles this file on x86-64 only; the kernel dispatcher
// (MontgomeryKernels.cpp) calls it when the processor has both extensions, for moduli of 17 limbs and
// more (8 and 16 limbs have kernels of their own, the portable columns are faster below 16). Time
// depends on the limb count only.
#include "bignum/MontgomeryInternal.h"

#if QARVEX_HAVE_ADX_KERNELS
#include <cpuid.h>

namespace Rsa::MontDetail {

// True when the processor has mulx (BMI2) and adcx/adox (ADX): leaf 7, EBX bits 8 and 19.
bool ProcessorHasAdx() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
}

namespace {

// r[0 .. n - 1] += x[0 .. n - 1] * v; returns the limb carried out. The low halves of the products and
// the high half of the previous one are summed on the carry flag (adcx), the result limbs on the
// overflow flag (adox), so the two chains run side by side; the loop counter moves by lea and jrcxz,
// which leave both flags alone. Four limbs per turn, then the rest one at a time.
inline Limb AddMulRow(Limb* r, const Limb* x, unsigned n, Limb v) {
  Limb carry = 0, lo0, hi0, lo1, zero;
  unsigned long blocks = n / 4;
  const unsigned long rest = n % 4;
  __asm__(
      "xorl %k[zero], %k[zero]\n\t"  // also clears both flags
      "1:\n\t"
      "jrcxz 2f\n\t"
      "mulxq (%[x]), %[lo0], %[hi0]\n\t"
      "adcxq %[carry], %[lo0]\n\t"
      "adoxq (%[r]), %[lo0]\n\t"
      "movq %[lo0], (%[r])\n\t"
      "mulxq 8(%[x]), %[lo1], %[carry]\n\t"
      "adcxq %[hi0], %[lo1]\n\t"
      "adoxq 8(%[r]), %[lo1]\n\t"
      "movq %[lo1], 8(%[r])\n\t"
      "mulxq 16(%[x]), %[lo0], %[hi0]\n\t"
      "adcxq %[carry], %[lo0]\n\t"
      "adoxq 16(%[r]), %[lo0]\n\t"
      "movq %[lo0], 16(%[r])\n\t"
      "mulxq 24(%[x]), %[lo1], %[carry]\n\t"
      "adcxq %[hi0], %[lo1]\n\t"
      "adoxq 24(%[r]), %[lo1]\n\t"
      "movq %[lo1], 24(%[r])\n\t"
      "leaq 32(%[x]), %[x]\n\t"
      "leaq 32(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "movq %[rest], %%rcx\n\t"
      "3:\n\t"
      "jrcxz 4f\n\t"
      "mulxq (%[x]), %[lo0], %[hi0]\n\t"
      "adcxq %[carry], %[lo0]\n\t"
      "adoxq (%[r]), %[lo0]\n\t"
      "movq %[lo0], (%[r])\n\t"
      "movq %[hi0], %[carry]\n\t"
      "leaq 8(%[x]), %[x]\n\t"
      "leaq 8(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "jmp 3b\n\t"
      "4:\n\t"
      "adcxq %[zero], %[carry]\n\t"  // the sum fits n + 1 limbs, so neither carry goes further
      "adoxq %[zero], %[carry]\n\t"
      : [carry] "+&r"(carry), [lo0] "=&r"(lo0), [hi0] "=&r"(hi0), [lo1] "=&r"(lo1), [zero] "=&r"(zero),
        [x] "+&r"(x), [r] "+&r"(r), "+&c"(blocks)
      : "d"(v), [rest] "rm"(rest)
      : "cc", "memory");
  return carry;
}

// r := t/R mod m for t (2n limbs) below m*R. Row i adds q*m at limb i with q chosen to cancel limb i;
// its carry out belongs at limb i + n and is parked in the cancelled limb i, all of them added to the
// upper half at the end. The sum is below 2m; one masked subtraction finishes.
void ReduceRows(Limb* r, Limb* t, const Limb* m, Limb mInv, unsigned n) {
  for (unsigned i = 0; i < n; ++i) t[i] = AddMulRow(t + i, m, n, t[i] * mInv);
  const Limb carry = AddLimbs(r, t + n, t, n);
  SubtractModulusOnce(r, carry, m, n);
}

// r := a*b/R mod m by rows: the full product into t (2n limbs), then the reduction.
void ProductRows(Limb* r, const Limb* a, const Limb* b, const Limb* m, Limb mInv, Limb* t, unsigned n) {
  for (unsigned i = 0; i < n; ++i) t[i] = 0;
  for (unsigned i = 0; i < n; ++i) t[i + n] = AddMulRow(t + i, b, n, a[i]);
  ReduceRows(r, t, m, mInv, n);
}

// r := a*a/R mod m by rows: each cross product a[i]*a[j], i < j, once, then the sum doubled and the
// squares a[k]^2 added on the diagonal in one pass, then the reduction.
void SquareRows(Limb* r, const Limb* a, const Limb* m, Limb mInv, Limb* t, unsigned n) {
  for (unsigned i = 0; i < 2 * n; ++i) t[i] = 0;
  for (unsigned i = 0; i + 1 < n; ++i) t[i + n] = AddMulRow(t + 2 * i + 1, a + i + 1, n - 1 - i, a[i]);
  Limb carry = 0;
  for (unsigned k = 0; k < n; ++k) {
    const WideLimb square = static_cast<WideLimb>(a[k]) * a[k];
    const Limb t0 = t[2 * k], t1 = t[2 * k + 1];
    WideLimb s = static_cast<WideLimb>(t0 << 1) + static_cast<Limb>(square) + carry;
    t[2 * k] = static_cast<Limb>(s);
    s = (s >> 64) + ((t1 << 1) | (t0 >> 63)) + static_cast<Limb>(square >> 64);
    t[2 * k + 1] = static_cast<Limb>(s);
    carry = static_cast<Limb>(s >> 64) + (t1 >> 63);
  }
  ReduceRows(r, t, m, mInv, n);
}

}  // namespace

void ProductAdx(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* t) {
  ProductRows(r, a, b, mod.m, mod.mInv, t, mod.limbs);
}

void SquareAdx(Limb* r, const Limb* a, const MontModulus& mod, Limb* t) {
  SquareRows(r, a, mod.m, mod.mInv, t, mod.limbs);
}

}  // namespace Rsa::MontDetail

#endif
