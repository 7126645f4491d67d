// Montgomery products and squares by finely integrated product scanning, in portable C++: the result is
// formed column by column, and each column adds both its partial products a[i]*b[j] and the reduction
// terms q[i]*m[j], so that the low limb of column k is cancelled by choosing q[k] := column * (-1/m)
// mod 2^64 while k < n. The columns from n upward are then the result, (a*b + q*m)/R, which is below 2m
// when a*b < m*R; one subtraction of m under a mask brings it below m. A three-limb accumulator holds
// the running column, so the partial product area is never stored. Squares add each cross product once
// and double the column. Time depends on the limb count only.
#include "bignum/MontgomeryInternal.h"

namespace Rsa {

namespace {

using MontDetail::Add3;
using MontDetail::MulAdd;
using MontDetail::SubtractModulusOnce;

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

}  // namespace

void MontProductPortable(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) {
  switch (mod.limbs) {
    case 8: ProductKernel<8>(r, a, b, mod.m, mod.mInv, q, 8); break;
    case 16: ProductKernel<16>(r, a, b, mod.m, mod.mInv, q, 16); break;
    case 32: ProductKernel<32>(r, a, b, mod.m, mod.mInv, q, 32); break;
    default: ProductKernel<0>(r, a, b, mod.m, mod.mInv, q, mod.limbs); break;
  }
}

void MontSquarePortable(Limb* r, const Limb* a, const MontModulus& mod, Limb* q) {
  switch (mod.limbs) {
    case 8: SquareKernel<8>(r, a, mod.m, mod.mInv, q, 8); break;
    case 16: SquareKernel<16>(r, a, mod.m, mod.mInv, q, 16); break;
    case 32: SquareKernel<32>(r, a, mod.m, mod.mInv, q, 32); break;
    default: SquareKernel<0>(r, a, mod.m, mod.mInv, q, mod.limbs); break;
  }
}

}  // namespace Rsa
