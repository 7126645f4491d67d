// The IFMA kernels: Montgomery products of numbers in 52-bit limbs held in 512-bit registers, and the
// dual fixed-window exponentiation built on them.
//
// A number of N limbs of 52 bits sits in K = ceil(N/8) registers, lanes above N zero. With R = 2^(52N),
// the product step i adds a*b[i] and q*m, where q := (low limb)*(-1/m) mod 2^52 cancels the low limb,
// then moves every lane down by one (dividing by 2^52). Each lane accumulates its low and high product
// halves unnormalised in 64 bits (at most 4N terms below 2^52 each, well below 2^64), and the carries
// are resolved once at the end of the product. Results are "almost" reduced: for inputs below 2m and
// 4m < R the result is below 2m, so it can feed the next product without a subtraction. Only the final
// conversion back subtracts m once, under a mask.
//
// Montgomery forms here use R = 2^(52N), not the scalar kernels' 2^(64n): the scalar forms the caller
// hands over are moved across by a few modular doublings on the way in and by one scalar product on the
// way out, so the scalar set-up serves both.
#include "bignum/MontgomeryIfma.h"

#include "bignum/BigNumInternal.h"
#include "bignum/ConstantTime.h"
#include "bignum/MontgomeryInternal.h"

#if !defined(QARVEX_NO_IFMA) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    defined(__has_include)
#if __has_include(<immintrin.h>) && __has_include(<cpuid.h>)
#include <cpuid.h>
#include <immintrin.h>
#define QARVEX_IFMA_KERNEL 1
#endif
#endif
#ifndef QARVEX_IFMA_KERNEL
#define QARVEX_IFMA_KERNEL 0
#endif

namespace Rsa {

#if QARVEX_IFMA_KERNEL

// GCC's vector headers fill operands whose value does not matter from an uninitialised variable on
// purpose, which its own warning then reports wherever the intrinsic is inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define QARVEX_IFMA_TARGET __attribute__((target("avx512f,avx512ifma,avx512vl")))
#define QARVEX_IFMA_INLINE QARVEX_IFMA_TARGET __attribute__((always_inline)) inline

namespace {

constexpr Limb Mask52 = (Limb{1} << 52) - 1;
// Lanes of the largest number: 40 limbs of 52 bits hold the 2048-bit halves of 4096-bit keys.
constexpr unsigned MaxLanes = 40;
constexpr unsigned MaxWindowBits = 5;
constexpr unsigned MaxEntries = 1u << MaxWindowBits;

// ---- Processor check ---------------------------------------------------------------------------------

bool ProcessorHasIfma() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, eax, ebx, ecx, edx);
  if ((ecx & (1u << 27)) == 0) return false;  // OSXSAVE: XGETBV is usable
  // XCR0: the operating system saves the SSE, AVX, opmask and both upper ZMM states (bits 1, 2, 5-7).
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 0xE6u) != 0xE6u) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const unsigned avx512f = 1u << 16, ifma = 1u << 21, vl = 1u << 31;
  return (ebx & (avx512f | ifma | vl)) == (avx512f | ifma | vl);
}

const bool HaveIfma = ProcessorHasIfma();

// ---- Scalar helpers on 64-bit limbs ------------------------------------------------------------------

// x := x - m when x >= m, over n limbs, under a mask.
void SubtractIfNotBelow(Limb* x, const Limb* m, unsigned n) {
  Limb borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(x[i]) - m[i] - borrow;
    borrow = static_cast<Limb>(t >> 64) & 1;
  }
  const Limb mask = ConstantTime::MaskFromBit<Limb>(borrow ^ 1);
  borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(x[i]) - (m[i] & mask) - borrow;
    x[i] = static_cast<Limb>(t);
    borrow = static_cast<Limb>(t >> 64) & 1;
  }
}

// r[0 .. lanes - 1] := the 52-bit limbs of the n-limb number x (lanes past its top read zero).
void To52(Limb* r, unsigned lanes, const Limb* x, unsigned n) {
  for (unsigned i = 0; i < lanes; ++i) {
    const unsigned pos = 52 * i, word = pos / 64, shift = pos % 64;
    Limb v = word < n ? x[word] >> shift : 0;
    if (shift > 12 && word + 1 < n) v |= x[word + 1] << (64 - shift);
    r[i] = v & Mask52;
  }
}

// r[0 .. n - 1] := the 64-bit limbs of the number in 52-bit limbs x[0 .. lanes - 1]; bits above 64n are
// dropped (the caller knows the value fits).
void From52(Limb* r, unsigned n, const Limb* x, unsigned lanes) {
  for (unsigned j = 0; j < n; ++j) r[j] = 0;
  for (unsigned i = 0; i < lanes; ++i) {
    const unsigned pos = 52 * i, word = pos / 64, shift = pos % 64;
    if (word < n) r[word] |= x[i] << shift;
    if (shift > 12 && word + 1 < n) r[word + 1] |= x[i] >> (64 - shift);
  }
}

// Bits pos .. pos + width - 1 of an exponent of expBits bits, bits at and above expBits read as zero.
// Which digits are read depends on pos and expBits alone.
Limb WindowValue(const Digit* c, unsigned expBits, unsigned pos, unsigned width) {
  const unsigned digits = (expBits + 31) / 32, i = pos / 32;
  Limb x = i < digits ? c[i] : 0;
  if (i + 1 < digits) x |= static_cast<Limb>(c[i + 1]) << 32;
  const unsigned valid = expBits > pos ? expBits - pos : 0;
  return (x >> (pos % 32)) & ((Limb{1} << (valid < width ? valid : width)) - 1);
}

// The window size for exponents of this many bits; a window of w bits costs 2^w table products once and
// a read of all 2^w entries at every window, against bits/w window products.
unsigned WindowBits(unsigned exponentBits) {
  if (exponentBits <= 64) return 2;
  if (exponentBits <= 160) return 3;
  if (exponentBits <= 512) return 4;
  return 5;
}

// ---- Vector kernels ----------------------------------------------------------------------------------

// One exponentiation's numbers in 52-bit limbs, each MaxLanes lanes (the lanes past the modulus's stay
// zero). Aligned so every register load is one aligned load.
struct alignas(64) Half52 {
  Limb m[MaxLanes];                     // the modulus
  Limb table[MaxEntries][MaxLanes];     // Montgomery forms of b^0 .. b^(2^w - 1), each below 2m
  Limb power[MaxLanes];                 // the running power, below 2m
  Limb entry[MaxLanes];                 // the table entry of this window
  Limb k0;                              // -1/m mod 2^52
};

// A number in registers: Z full 512-bit registers, then, when Tail is set, a 256-bit one for four more
// lanes. The halves of 1024-bit keys need 10 limbs and those of 2048-bit keys 20, so a 256-bit tail
// spares a quarter or a sixth of the multiplies that a whole register of empty lanes would cost.
template <int Z, bool Tail>
struct Regs {
  __m512i v[Z];
  __m256i t;
};

template <int Z, bool Tail>
QARVEX_IFMA_INLINE void Load(Regs<Z, Tail>& x, const Limb* p) {
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) x.v[k] = _mm512_load_si512(p + 8 * k);
  if constexpr (Tail) x.t = _mm256_load_si256(reinterpret_cast<const __m256i*>(p + 8 * Z));
}

template <int Z, bool Tail>
QARVEX_IFMA_INLINE void Store(Limb* p, const Regs<Z, Tail>& x) {
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) _mm512_store_si512(p + 8 * k, x.v[k]);
  if constexpr (Tail) _mm256_store_si256(reinterpret_cast<__m256i*>(p + 8 * Z), x.t);
}

template <int Z, bool Tail>
QARVEX_IFMA_INLINE void Clear(Regs<Z, Tail>& x) {
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) x.v[k] = _mm512_setzero_si512();
  if constexpr (Tail) x.t = _mm256_setzero_si256();
}

// One multiply-and-reduce step of a Montgomery product on one number: acc := (acc + a*bi + q*m)/2^52
// with q chosen so the division is exact in the low lane. Only the low lane of acc, the choice of q and
// the lane shift lie on the chain from one step to the next, so the rest is kept off it: q is the sum of
// acc0*k0 and a0*(bi*k0), whose second term the caller computed ahead (bk = bi*k0 mod 2^52), and the high
// product halves, which belong one lane up (their own lane after the shift), are summed apart together
// with the low lane's carry and added once after the shift.
template <int Z, bool Tail>
QARVEX_IFMA_INLINE void ProductStep(Regs<Z, Tail>& acc, const Regs<Z, Tail>& a, const Limb* m, __m512i k0, __m512i b,
                                    __m512i bk) {
  const __m512i zero = _mm512_setzero_si512();
  const __m256i b4 = _mm512_castsi512_si256(b);
  // a0*bk does not wait for acc: it enters as the addend of acc0*k0, so one multiply lies on the chain.
  const __m512i ak = _mm512_madd52lo_epu64(zero, a.v[0], bk);
  const __m512i y = _mm512_madd52lo_epu64(ak, acc.v[0], k0);
  Regs<Z, Tail> high;
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) acc.v[k] = _mm512_madd52lo_epu64(acc.v[k], a.v[k], b);
  if constexpr (Tail) acc.t = _mm256_madd52lo_epu64(acc.t, a.t, b4);
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) high.v[k] = _mm512_madd52hi_epu64(zero, a.v[k], b);
  if constexpr (Tail) high.t = _mm256_madd52hi_epu64(_mm256_setzero_si256(), a.t, b4);
  const __m512i q = _mm512_broadcastq_epi64(_mm512_castsi512_si128(y));
  const __m256i q4 = _mm512_castsi512_si256(q);
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) {
    const __m512i mk = _mm512_load_si512(m + 8 * k);
    acc.v[k] = _mm512_madd52lo_epu64(acc.v[k], mk, q);
    high.v[k] = _mm512_madd52hi_epu64(high.v[k], mk, q);
  }
  if constexpr (Tail) {
    const __m256i mt = _mm256_load_si256(reinterpret_cast<const __m256i*>(m + 8 * Z));
    acc.t = _mm256_madd52lo_epu64(acc.t, mt, q4);
    high.t = _mm256_madd52hi_epu64(high.t, mt, q4);
  }
  // The low lane is now a multiple of 2^52: its upper bits carry into the lane that takes its place.
  high.v[0] = _mm512_add_epi64(high.v[0], _mm512_maskz_srli_epi64(1, acc.v[0], 52));
#pragma GCC unroll 8
  for (int k = 0; k + 1 < Z; ++k) acc.v[k] = _mm512_alignr_epi64(acc.v[k + 1], acc.v[k], 1);
  if constexpr (Tail) {
    acc.v[Z - 1] = _mm512_alignr_epi64(_mm512_castsi256_si512(acc.t), acc.v[Z - 1], 1);  // takes lane 0 only
    acc.t = _mm256_alignr_epi64(_mm256_setzero_si256(), acc.t, 1);
    acc.t = _mm256_add_epi64(acc.t, high.t);
  } else {
    acc.v[Z - 1] = _mm512_alignr_epi64(zero, acc.v[Z - 1], 1);
  }
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) acc.v[k] = _mm512_add_epi64(acc.v[k], high.v[k]);
}

// Resolves the carries of an accumulator into 52-bit limbs. One pass moves every lane's upper bits one
// lane up; after it a lane exceeds 2^52 - 1 by a few bits at most, and the one-bit carries left ripple
// through lanes that are exactly 2^52 - 1. Those are found for all lanes at once by one integer addition
// on the lane masks (generate shifted up, plus propagate), with no branch.
template <int Z, bool Tail>
QARVEX_IFMA_INLINE void Normalize(Regs<Z, Tail>& acc) {
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(Mask52));
  const __m256i mask4 = _mm512_castsi512_si256(mask);
  Regs<Z, Tail> carry;
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) {
    carry.v[k] = _mm512_srli_epi64(acc.v[k], 52);
    acc.v[k] = _mm512_and_si512(acc.v[k], mask);
  }
  if constexpr (Tail) {
    carry.t = _mm256_srli_epi64(acc.t, 52);
    acc.t = _mm256_and_si256(acc.t, mask4);
    // Lane 7 of the last full register moves into lane 0 of the tail.
    acc.t = _mm256_add_epi64(acc.t, _mm256_alignr_epi64(carry.t, _mm512_extracti64x4_epi64(carry.v[Z - 1], 1), 3));
  }
  acc.v[0] = _mm512_add_epi64(acc.v[0], _mm512_alignr_epi64(carry.v[0], _mm512_setzero_si512(), 7));
#pragma GCC unroll 8
  for (int k = 1; k < Z; ++k) acc.v[k] = _mm512_add_epi64(acc.v[k], _mm512_alignr_epi64(carry.v[k], carry.v[k - 1], 7));
  std::uint64_t generate = 0, propagate = 0;
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) {
    generate |= static_cast<std::uint64_t>(_mm512_cmpgt_epu64_mask(acc.v[k], mask)) << (8 * k);
    propagate |= static_cast<std::uint64_t>(_mm512_cmpeq_epu64_mask(acc.v[k], mask)) << (8 * k);
  }
  if constexpr (Tail) {
    generate |= static_cast<std::uint64_t>(_mm256_cmpgt_epu64_mask(acc.t, mask4)) << (8 * Z);
    propagate |= static_cast<std::uint64_t>(_mm256_cmpeq_epu64_mask(acc.t, mask4)) << (8 * Z);
  }
  const std::uint64_t incoming = ConstantTime::ValueBarrier(((generate << 1) + propagate) ^ propagate);
  const __m512i one = _mm512_set1_epi64(1);
#pragma GCC unroll 8
  for (int k = 0; k < Z; ++k) {
    const __mmask8 in = static_cast<__mmask8>(incoming >> (8 * k));
    acc.v[k] = _mm512_and_si512(_mm512_mask_add_epi64(acc.v[k], in, acc.v[k], one), mask);
  }
  if constexpr (Tail) {
    const __mmask8 in = static_cast<__mmask8>(incoming >> (8 * Z));
    acc.t = _mm256_and_si256(_mm256_mask_add_epi64(acc.t, in, acc.t, _mm512_castsi512_si256(one)), mask4);
  }
}

// The step operands for limb i of b: b[i] in every lane, and b[i]*k0 mod 2^52 likewise.
QARVEX_IFMA_INLINE void StepOperands(__m512i& bi, __m512i& bk, const Limb* b, unsigned i, Limb k0) {
  bi = _mm512_set1_epi64(static_cast<long long>(b[i]));
  bk = _mm512_set1_epi64(static_cast<long long>((b[i] * k0) & Mask52));
}

// The same for limb 0, where a square (b is a, a public fact of the call) takes it from a, already in
// registers: a square's operand is the product just stored, and the register spares the first step the
// wait for that store to reach a scalar load, which would lie on the chain from one product to the next.
template <int Z, bool Tail>
QARVEX_IFMA_INLINE void FirstStepOperands(__m512i& bi, __m512i& bk, const Regs<Z, Tail>& x, const Limb* a,
                                          const Limb* b, __m512i k0) {
  bi = a == b ? _mm512_broadcastq_epi64(_mm512_castsi512_si128(x.v[0]))
              : _mm512_set1_epi64(static_cast<long long>(b[0]));
  bk = _mm512_madd52lo_epu64(_mm512_setzero_si512(), bi, k0);
}

// r1 := a1*b1/R mod m1 and r2 := a2*b2/R mod m2 (almost reduced: below 2m for inputs below 2m), over N
// limbs. The two products share nothing, so their steps interleave. r may be a or b. Without Pair only
// the first product is computed (the second's arguments are not read).
template <int Z, bool Tail, int N, bool Pair = true>
QARVEX_IFMA_TARGET void DualProduct(Limb* r1, const Limb* a1, const Limb* b1, const Half52& h1, Limb* r2,
                                    const Limb* a2, const Limb* b2, const Half52& h2) {
  Regs<Z, Tail> acc1, acc2, x1, x2;
  __m512i bi1, bk1, bi2, bk2;
  Clear(acc1);
  Load(x1, a1);
  const __m512i k01 = _mm512_set1_epi64(static_cast<long long>(h1.k0));
  FirstStepOperands(bi1, bk1, x1, a1, b1, k01);
  if constexpr (Pair) {
    Clear(acc2);
    Load(x2, a2);
    const __m512i k02 = _mm512_set1_epi64(static_cast<long long>(h2.k0));
    FirstStepOperands(bi2, bk2, x2, a2, b2, k02);
    ProductStep(acc1, x1, h1.m, k01, bi1, bk1);
    ProductStep(acc2, x2, h2.m, k02, bi2, bk2);
    for (int i = 1; i < N; ++i) {
      StepOperands(bi1, bk1, b1, i, h1.k0);
      StepOperands(bi2, bk2, b2, i, h2.k0);
      ProductStep(acc1, x1, h1.m, k01, bi1, bk1);
      ProductStep(acc2, x2, h2.m, k02, bi2, bk2);
    }
    Normalize(acc2);
    Store(r2, acc2);
  } else {
    ProductStep(acc1, x1, h1.m, k01, bi1, bk1);
    for (int i = 1; i < N; ++i) {
      StepOperands(bi1, bk1, b1, i, h1.k0);
      ProductStep(acc1, x1, h1.m, k01, bi1, bk1);
    }
  }
  Normalize(acc1);
  Store(r1, acc1);
}

// r := the table entry number index (entries MaxLanes apart), reading every entry in full and keeping
// the one whose number matches under a lane mask.
template <int Z, bool Tail>
QARVEX_IFMA_TARGET void SelectEntry(Limb* r, const Limb (*table)[MaxLanes], unsigned entries, Limb index) {
  const __m512i wanted = _mm512_set1_epi64(static_cast<long long>(index));
  Regs<Z, Tail> x, e;
  Clear(x);
  for (unsigned j = 0; j < entries; ++j) {
    const __mmask8 hit = _mm512_cmpeq_epi64_mask(_mm512_set1_epi64(j), wanted);
    Load(e, table[j]);
#pragma GCC unroll 8
    for (int k = 0; k < Z; ++k) x.v[k] = _mm512_mask_mov_epi64(x.v[k], hit, e.v[k]);
    if constexpr (Tail) x.t = _mm256_mask_mov_epi64(x.t, hit, e.t);
  }
  Store(r, x);
}

// Every value of one dual exponentiation, wiped as one block at the end.
struct alignas(64) DualWorkArea {
  Half52 half[2];
  Limb unit[MaxLanes];        // the plain number 1, to leave Montgomery form
  Limb wide[2][MontLimbs];    // 64-bit limbs on the way in and out
  Limb q[2 * MontLimbs];      // work area of the scalar product on the way out
};

// Puts one half's modulus and base into 52-bit limbs. The job's base is in the scalar Montgomery form
// x*2^(64n) mod m; doubling it 52N - 64n times modulo m gives x*R mod m for R = 2^(52N). The table's
// entry 0, R mod m, comes from the scalar form of 1 likewise (when withOne: square-and-multiply needs no
// entry 0).
void PrepareHalf(Half52& h, Limb* wide, const MontExpJob& job, unsigned lanes, bool withOne = true) {
  const MontModulus& mod = *job.mod;
  const unsigned n = mod.limbs;
  const unsigned doublings = 52 * lanes - 64 * n;
  To52(h.m, MaxLanes, mod.m, n);
  h.k0 = mod.mInv & Mask52;
  if (withOne) {
    for (unsigned i = 0; i < n; ++i) wide[i] = mod.one[i];
    MontDetail::DoubleModulo(wide, mod.m, n, doublings);
    To52(h.table[0], MaxLanes, wide, n);
  }
  for (unsigned i = 0; i < n; ++i) wide[i] = job.base[i];
  MontDetail::DoubleModulo(wide, mod.m, n, doublings);
  To52(h.table[1], MaxLanes, wide, n);
}

// Back to the scalar form: x52 is the plain result up to one m (the vector product by 1 leaves x/R mod
// m at most m, as x < 2m), which one masked subtraction removes; the scalar product by R^2 mod m then
// gives its form for R = 2^(64n).
void FinishHalf(const MontExpJob& job, Limb* wide, Limb* q, const Limb* x52, unsigned lanes) {
  const MontModulus& mod = *job.mod;
  From52(wide, mod.limbs, x52, lanes);
  SubtractIfNotBelow(wide, mod.m, mod.limbs);
  MontProduct(job.r, wide, mod.rr, mod, q);
}

// The two exponentiations, or with Pair false the first alone (second is then not read).
template <int Z, bool Tail, int N, bool Pair = true>
QARVEX_IFMA_TARGET void DualExp(DualWorkArea& w, const MontExpJob& first, const MontExpJob& second,
                                unsigned bits) {
  Half52& h1 = w.half[0];
  Half52& h2 = w.half[1];
  const unsigned window = WindowBits(bits);
  const unsigned entries = 1u << window;

  for (unsigned e = 2; e < entries; ++e) {
    const unsigned x = e % 2 == 0 ? e / 2 : e - 1, y = e % 2 == 0 ? e / 2 : 1;
    DualProduct<Z, Tail, N, Pair>(h1.table[e], h1.table[x], h1.table[y], h1, h2.table[e], h2.table[x],
                                  h2.table[y], h2);
  }

  // The top window takes what is left over when the bits are cut into whole windows from the bottom.
  unsigned pos = bits - (bits % window == 0 ? window : bits % window);
  SelectEntry<Z, Tail>(h1.power, h1.table, entries, WindowValue(first.exponent, first.expBits, pos, bits - pos));
  if constexpr (Pair)
    SelectEntry<Z, Tail>(h2.power, h2.table, entries, WindowValue(second.exponent, second.expBits, pos, bits - pos));
  while (pos > 0) {
    pos -= window;
    // The entry is read before the squarings, which do not touch it: the reads then run beside the
    // squarings' chain of dependent products instead of after it.
    SelectEntry<Z, Tail>(h1.entry, h1.table, entries, WindowValue(first.exponent, first.expBits, pos, window));
    if constexpr (Pair)
      SelectEntry<Z, Tail>(h2.entry, h2.table, entries, WindowValue(second.exponent, second.expBits, pos, window));
    for (unsigned s = 0; s < window; ++s)
      DualProduct<Z, Tail, N, Pair>(h1.power, h1.power, h1.power, h1, h2.power, h2.power, h2.power, h2);
    DualProduct<Z, Tail, N, Pair>(h1.power, h1.power, h1.entry, h1, h2.power, h2.power, h2.entry, h2);
  }
  DualProduct<Z, Tail, N, Pair>(h1.power, h1.power, w.unit, h1, h2.power, h2.power, w.unit, h2);
}

// power := base^c over the exponent's significant bits by square-and-multiply: it branches on the bits
// of c, a public exponent.
template <int Z, bool Tail, int N>
QARVEX_IFMA_TARGET void PublicExp(DualWorkArea& w, const Digit* c, unsigned bits) {
  Half52& h = w.half[0];
  for (unsigned i = 0; i < MaxLanes; ++i) h.power[i] = h.table[1][i];
  for (unsigned i = bits - 1; i-- > 0;) {
    DualProduct<Z, Tail, N, false>(h.power, h.power, h.power, h, nullptr, nullptr, nullptr, h);
    if ((c[i / 32] >> (i % 32)) & 1)
      DualProduct<Z, Tail, N, false>(h.power, h.power, h.table[1], h, nullptr, nullptr, nullptr, h);
  }
  DualProduct<Z, Tail, N, false>(h.power, h.power, w.unit, h, nullptr, nullptr, nullptr, h);
}

// Lanes per number for a modulus of this many 64-bit limbs: the fewest 52-bit limbs with 4m < R, that
// is 52N >= 64n + 2; 0 where no kernel is built for it.
unsigned LanesFor(unsigned limbs) {
  switch (limbs) {
    case 8: return 10;
    case 16: return 20;
    case 24: return 30;
    case 32: return 40;
    default: return 0;
  }
}

}  // namespace

bool IfmaAvailable() { return HaveIfma; }

bool IfmaSingleSupports(const MontModulus& mod) { return LanesFor(mod.limbs) != 0 && mod.limbs >= IfmaSingleLimbs; }

void MontExpIfma(const MontExpJob& job) {
  const unsigned n = job.mod->limbs;
  if (job.expBits == 0) {
    for (unsigned j = 0; j < n; ++j) job.r[j] = job.mod->one[j];
    return;
  }
  const unsigned lanes = LanesFor(n);
  DualWorkArea w;
  BNWipe(&w, 0, sizeof w);
  w.unit[0] = 1;
  PrepareHalf(w.half[0], w.wide[0], job, lanes);
  switch (n) {
    case 16: DualExp<2, true, 20, false>(w, job, job, job.expBits); break;
    case 24: DualExp<4, false, 30, false>(w, job, job, job.expBits); break;
    default: DualExp<5, false, 40, false>(w, job, job, job.expBits); break;
  }
  FinishHalf(job, w.wide[0], w.q, w.half[0].power, lanes);
  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
}

bool IfmaPairSupports(const MontModulus& first, const MontModulus& second) {
  return first.limbs == second.limbs && LanesFor(first.limbs) != 0;
}

namespace {

// The public exponentiation on the vector kernel; r receives the Montgomery form, or with plain the
// ordinary value (which spares the scalar product that would make the form).
void PublicIfma(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod, bool plain) {
  const unsigned n = mod.limbs;
  const unsigned bits = BNBits(c, cDigits);
  if (bits == 0) {
    for (unsigned j = 0; j < n; ++j) r[j] = plain ? (j == 0 ? 1 : 0) : mod.one[j];
    if (plain) SubtractIfNotBelow(r, mod.m, n);  // 1 mod m, which is 0 modulo 1
    return;
  }
  const unsigned lanes = LanesFor(n);
  const MontExpJob job{r, base, c, bits, &mod};
  DualWorkArea w;
  BNWipe(&w.half[0], 0, sizeof w.half[0]);
  BNWipe(w.unit, 0, sizeof w.unit);
  w.unit[0] = 1;
  PrepareHalf(w.half[0], w.wide[0], job, lanes, false);
  switch (n) {
    case 16: PublicExp<2, true, 20>(w, c, bits); break;
    case 24: PublicExp<4, false, 30>(w, c, bits); break;
    default: PublicExp<5, false, 40>(w, c, bits); break;
  }
  if (plain) {
    From52(r, n, w.half[0].power, lanes);
    SubtractIfNotBelow(r, mod.m, n);
  } else {
    FinishHalf(job, w.wide[0], w.q, w.half[0].power, lanes);
  }
  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
}

}  // namespace

void MontExpPublicIfmaVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod) {
  PublicIfma(r, base, c, cDigits, mod, false);
}

void MontPowerPublicIfmaVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod) {
  PublicIfma(r, base, c, cDigits, mod, true);
}

namespace {

// The pair; with plain, each r receives the ordinary value (base/R)^e mod m instead of its Montgomery
// form, which spares the scalar products into the form and back out of it.
void PairIfma(const MontExpJob& first, const MontExpJob& second, bool plain) {
  // Both run the same windows: as many bits as the longer exponent, the shorter one reading zeros above
  // its own length.
  const unsigned bits = first.expBits > second.expBits ? first.expBits : second.expBits;
  const unsigned n = first.mod->limbs;
  if (bits == 0) {
    for (unsigned j = 0; j < n; ++j) {
      first.r[j] = plain ? (j == 0 ? 1 : 0) : first.mod->one[j];
      second.r[j] = plain ? (j == 0 ? 1 : 0) : second.mod->one[j];
    }
    if (plain) {  // 1 mod m, which is 0 modulo 1
      SubtractIfNotBelow(first.r, first.mod->m, n);
      SubtractIfNotBelow(second.r, second.mod->m, n);
    }
    return;
  }

  const unsigned lanes = LanesFor(n);
  DualWorkArea w;
  BNWipe(&w, 0, sizeof w);
  w.unit[0] = 1;
  PrepareHalf(w.half[0], w.wide[0], first, lanes);
  PrepareHalf(w.half[1], w.wide[1], second, lanes);
  switch (n) {
    case 8: DualExp<1, true, 10>(w, first, second, bits); break;
    case 16: DualExp<2, true, 20>(w, first, second, bits); break;
    case 24: DualExp<4, false, 30>(w, first, second, bits); break;
    default: DualExp<5, false, 40>(w, first, second, bits); break;
  }
  // The exponents and the bases have been read; a result may be over its own base.
  if (plain) {
    From52(first.r, n, w.half[0].power, lanes);
    SubtractIfNotBelow(first.r, first.mod->m, n);
    From52(second.r, n, w.half[1].power, lanes);
    SubtractIfNotBelow(second.r, second.mod->m, n);
  } else {
    FinishHalf(first, w.wide[0], w.q, w.half[0].power, lanes);
    FinishHalf(second, w.wide[1], w.q, w.half[1].power, lanes);
  }
  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
}

}  // namespace

void MontExpPairIfma(const MontExpJob& first, const MontExpJob& second) { PairIfma(first, second, false); }

void MontPowerPairIfma(const MontExpJob& first, const MontExpJob& second) { PairIfma(first, second, true); }

#else  // no kernel in this build

bool IfmaAvailable() { return false; }

bool IfmaSingleSupports(const MontModulus&) { return false; }

void MontExpPublicIfmaVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod) {
  Limb q[2 * MontLimbs];
  MontExpPublicScalarVarTime(r, base, c, cDigits, mod, q);
  BNWipe(q, 0, sizeof q);
}

void MontPowerPublicIfmaVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod) {
  Limb q[2 * MontLimbs], one[MontLimbs] = {1};
  MontExpPublicScalarVarTime(r, base, c, cDigits, mod, q);
  MontProduct(r, r, one, mod, q);
  BNWipe(q, 0, sizeof q);
}

void MontExpIfma(const MontExpJob& job) {
  MontExpWork w;
  MontExpScalar(job.r, job.base, job.exponent, job.expBits, *job.mod, w);
  BNWipe(&w, 0, sizeof w);
}

bool IfmaPairSupports(const MontModulus&, const MontModulus&) { return false; }

void MontExpPairIfma(const MontExpJob& first, const MontExpJob& second) { MontExpPairGeneric(first, second); }

void MontPowerPairIfma(const MontExpJob& first, const MontExpJob& second) {
  Limb q[2 * MontLimbs], one[MontLimbs] = {1};
  MontExpPairGeneric(first, second);
  MontProduct(first.r, first.r, one, *first.mod, q);
  MontProduct(second.r, second.r, one, *second.mod, q);
  BNWipe(q, 0, sizeof q);
}

#endif

}  // namespace Rsa
