// Montgomery products and squares by finely integrated product scanning: the result is formed column
// by column, and each column adds both its partial products a[i]*b[j] and the reduction terms q[i]*m[j],
// so that the low limb of column k is cancelled by choosing q[k] := column * (-1/m) mod 2^64 while k < n.
// The columns from n upward are then the result, (a*b + q*m)/R, which is below 2m when a*b < m*R; one
// subtraction of m under a mask brings it below m. A three-limb accumulator holds the running column, so
// the partial product area is never stored. Squares add each cross product once and double the column.
//
// On x86-64 processors with the ADX and BMI2 extensions, moduli of 16 limbs and more take a second
// kernel instead: rows of multiply-accumulate, each a loop of mulx with two independent carry chains
// (adcx and adox), which no portable code reaches. Which kernel runs depends on the processor and the
// modulus length only.
#include "bignum/Montgomery.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define QARVEX_ADX_ROWS 1
#else
#define QARVEX_ADX_ROWS 0
#endif

#include "bignum/BigNumInternal.h"
#include "bignum/ConstantTime.h"

namespace Rsa {

namespace {

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

// top:hi:lo += x[i]*y[k - i] summed over i = from .. to - 1: one column's share of a product. The walk
// runs on pointers, unrolled by four, so each term costs little beyond its multiply and its carry chain.
[[gnu::always_inline]] inline void AddColumn(Limb& lo, Limb& hi, Limb& top, const Limb* x, const Limb* y,
                                             unsigned from, unsigned to, unsigned k) {
  const Limb* xp = x + from;
  const Limb* yp = y + (k - from);
  unsigned count = to > from ? to - from : 0;
  for (; count >= 4; count -= 4) {
    MulAdd(lo, hi, top, xp[0], yp[0]);
    MulAdd(lo, hi, top, xp[1], yp[-1]);
    MulAdd(lo, hi, top, xp[2], yp[-2]);
    MulAdd(lo, hi, top, xp[3], yp[-3]);
    xp += 4;
    yp -= 4;
  }
  for (; count > 0; --count) MulAdd(lo, hi, top, *xp++, *yp--);
}

// Column k of the Montgomery product (a*b + q*m)/R. Columns below n choose q[k] so that the column's low
// limb cancels; columns from n upward give result limb k - n, which may overwrite a or b because column k
// reads them at indices above k - n only. top:hi:lo carries from one column to the next.
[[gnu::always_inline]] inline void ProductColumn(Limb* r, const Limb* a, const Limb* b, const Limb* m, Limb mInv,
                                                 Limb* q, unsigned n, unsigned k, Limb& lo, Limb& hi, Limb& top) {
  if (k < n) {
    AddColumn(lo, hi, top, a, b, 0, k + 1, k);
    AddColumn(lo, hi, top, q, m, 0, k, k);
    const Limb qk = lo * mInv;
    q[k] = qk;
    MulAdd(lo, hi, top, qk, m[0]);  // cancels lo
  } else {
    AddColumn(lo, hi, top, a, b, k - n + 1, n, k);
    AddColumn(lo, hi, top, q, m, k - n + 1, n, k);
    r[k - n] = lo;
  }
  lo = hi;
  hi = top;
  top = 0;
}

// Column k of the Montgomery square: each cross product a[i]*a[k - i], i < k - i, taken once and the
// sum doubled, then the square a[k/2]^2 and the reduction terms.
[[gnu::always_inline]] inline void SquareColumn(Limb* r, const Limb* a, const Limb* m, Limb mInv, Limb* q,
                                                unsigned n, unsigned k, Limb& lo, Limb& hi, Limb& top) {
  const unsigned first = k < n ? 0 : k - n + 1;
  Limb c0 = 0, c1 = 0, c2 = 0;
  AddColumn(c0, c1, c2, a, a, first, (k + 1) / 2, k);
  c2 = (c2 << 1) | (c1 >> 63);
  c1 = (c1 << 1) | (c0 >> 63);
  c0 <<= 1;
  if (k % 2 == 0) MulAdd(c0, c1, c2, a[k / 2], a[k / 2]);
  Add3(lo, hi, top, c0, c1, c2);
  if (k < n) {
    AddColumn(lo, hi, top, q, m, 0, k, k);
    const Limb qk = lo * mInv;
    q[k] = qk;
    MulAdd(lo, hi, top, qk, m[0]);  // cancels lo
  } else {
    AddColumn(lo, hi, top, q, m, first, n, k);
    r[k - n] = lo;
  }
  lo = hi;
  hi = top;
  top = 0;
}

// Small limb counts known at compile time get every column laid out in full: the loop bounds become
// constants and the carry chains run without loop overhead. Larger ones would outgrow the code cache.
constexpr unsigned UnrolledLimbs = 16;

template <unsigned FixedN>
void ProductKernel(Limb* r, const Limb* a, const Limb* b, const Limb* m, Limb mInv, Limb* q, unsigned limbs) {
  const unsigned n = FixedN != 0 ? FixedN : limbs;
  Limb lo = 0, hi = 0, top = 0;
  if constexpr (FixedN != 0 && FixedN <= UnrolledLimbs) {
#pragma GCC unroll 64
    for (unsigned k = 0; k < 2 * FixedN - 1; ++k) ProductColumn(r, a, b, m, mInv, q, FixedN, k, lo, hi, top);
  } else {
    for (unsigned k = 0; k < 2 * n - 1; ++k) ProductColumn(r, a, b, m, mInv, q, n, k, lo, hi, top);
  }
  r[n - 1] = lo;
  SubtractModulusOnce(r, hi, m, n);
}

template <unsigned FixedN>
void SquareKernel(Limb* r, const Limb* a, const Limb* m, Limb mInv, Limb* q, unsigned limbs) {
  const unsigned n = FixedN != 0 ? FixedN : limbs;
  Limb lo = 0, hi = 0, top = 0;
  if constexpr (FixedN != 0 && FixedN <= UnrolledLimbs) {
#pragma GCC unroll 64
    for (unsigned k = 0; k < 2 * FixedN - 1; ++k) SquareColumn(r, a, m, mInv, q, FixedN, k, lo, hi, top);
  } else {
    for (unsigned k = 0; k < 2 * n - 1; ++k) SquareColumn(r, a, m, mInv, q, n, k, lo, hi, top);
  }
  r[n - 1] = lo;
  SubtractModulusOnce(r, hi, m, n);
}

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

// r := b + c over n limbs; returns the carry.
Limb AddLimbs(Limb* r, const Limb* b, const Limb* c, unsigned n) {
  Limb carry = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(b[i]) + c[i] + carry;
    r[i] = static_cast<Limb>(t);
    carry = static_cast<Limb>(t >> 64);
  }
  return carry;
}


#if QARVEX_ADX_ROWS
// True when the processor has mulx (BMI2) and adcx/adox (ADX): leaf 7, EBX bits 8 and 19.
bool ProcessorHasAdx() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
}

const bool HaveAdx = ProcessorHasAdx();

// From this many limbs on, the row kernel beats the column kernel (measured: clearly for products of
// 16 limbs, for squares only above that, where the column kernel is no longer laid out in full).
constexpr unsigned RowProductLimbs = 16;
constexpr unsigned RowSquareLimbs = 17;

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
#endif

}  // namespace

void MontSetupVarTime(MontModulus& mod, const Digit* d, unsigned dDigits) {
  const unsigned md = BNDigits(d, dDigits);
  const unsigned n = (md + 1) / 2;
  mod.limbs = n;
  LoadLimbs(mod.m, d, md, 0, n);

  // Newton's iteration for 1/m0 mod 2^64: an odd m0 is its own inverse modulo 8, and each step doubles
  // the number of correct low bits (3, 6, 12, 24, 48, 96).
  const Limb m0 = mod.m[0];
  Limb inverse = m0;
  for (int step = 0; step < 5; ++step) inverse *= 2 - m0 * inverse;
  mod.mInv = 0 - inverse;

  // R mod m by division of 2^(64n), then R^2 mod m as its reduced square.
  Digit power[2 * MontLimbs + 1];
  Digit residue[ScratchDigits];
  Digit square[ScratchDigits];
  BNAssignZero(power, 2 * n);
  power[2 * n] = 1;
  BNMod(residue, power, 2 * n + 1, d, md);
  BNModMult(square, residue, residue, d, md);
  LoadLimbs(mod.one, residue, md, 0, n);
  LoadLimbs(mod.rr, square, md, 0, n);
  BNWipe(power, 0, sizeof power);
  BNWipe(residue, 0, sizeof residue);
  BNWipe(square, 0, sizeof square);
}

void MontProduct(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) {
#if QARVEX_ADX_ROWS
  if (HaveAdx && mod.limbs >= RowProductLimbs) return ProductRows(r, a, b, mod.m, mod.mInv, q, mod.limbs);
#endif
  MontProductPortable(r, a, b, mod, q);
}

void MontProductPortable(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) {
  switch (mod.limbs) {
    case 8: ProductKernel<8>(r, a, b, mod.m, mod.mInv, q, 8); break;
    case 16: ProductKernel<16>(r, a, b, mod.m, mod.mInv, q, 16); break;
    case 32: ProductKernel<32>(r, a, b, mod.m, mod.mInv, q, 32); break;
    default: ProductKernel<0>(r, a, b, mod.m, mod.mInv, q, mod.limbs); break;
  }
}

void MontSquare(Limb* r, const Limb* a, const MontModulus& mod, Limb* q) {
#if QARVEX_ADX_ROWS
  if (HaveAdx && mod.limbs >= RowSquareLimbs) return SquareRows(r, a, mod.m, mod.mInv, q, mod.limbs);
#endif
  MontSquarePortable(r, a, mod, q);
}

void MontSquarePortable(Limb* r, const Limb* a, const MontModulus& mod, Limb* q) {
  switch (mod.limbs) {
    case 8: SquareKernel<8>(r, a, mod.m, mod.mInv, q, 8); break;
    case 16: SquareKernel<16>(r, a, mod.m, mod.mInv, q, 16); break;
    case 32: SquareKernel<32>(r, a, mod.m, mod.mInv, q, 32); break;
    default: SquareKernel<0>(r, a, mod.m, mod.mInv, q, mod.limbs); break;
  }
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
