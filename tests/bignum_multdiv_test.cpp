// Product, division with remainder, remainder and reduced product, checked against GMP on seeded random
// operands of mixed sizes up to the work-area limits, with every allowed aliasing, and on boundary cases.
#include <gtest/gtest.h>

#include <algorithm>

#include "bignum/BigNum.h"
#include "support/DigitsGmp.h"

using namespace Rsa;
using Testing::Digits;
using Testing::Fenced;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

constexpr unsigned Single = ScratchDigits;      // 257
constexpr unsigned Double = 2 * ScratchDigits;  // 514

// A non-zero divisor of dDigits digits in one of the forms that steer the division's estimates.
Digits MakeDivisor(OperandSource& src, unsigned dDigits, int kind) {
  Digits d;
  const unsigned significant = kind == 5 ? src.Below(1, dDigits) : dDigits;
  switch (kind) {
    case 0:  // one significant digit
      d.assign(dDigits, 0);
      d[0] = src.Below(0, 1) ? src.NextDigit() | 1 : src.Below(1, 3);
      return d;
    case 1:  // top digit 2^32 - 1: normalisation shift 0 and every estimate from the top digit
      d = src.Make(dDigits, Shape::TopOnes);
      break;
    case 2: {  // top digit 2^32 - 1 only after normalisation
      d = src.Make(dDigits, Shape::Random);
      const unsigned s = src.Below(1, 31);
      d[dDigits - 1] = 0xFFFFFFFFu >> s;
      if (dDigits > 1) d[dDigits - 2] |= ~(0xFFFFFFFFu >> s);
      break;
    }
    case 3:  // top bit set, shift 0, estimates by DigitDiv
      d = src.Make(dDigits, Shape::Random);
      d[dDigits - 1] |= 0x80000000u;
      if (d[dDigits - 1] == 0xFFFFFFFFu) d[dDigits - 1] = 0x80000000u;
      break;
    case 4:
      d = src.Make(dDigits, Shape::Sparse);
      break;
    default:  // leading zero digits
      d = src.Make(dDigits, Shape::Random);
      std::fill(d.begin() + significant, d.end(), 0);
      break;
  }
  if (Mpz(d).Sign() == 0) d[0] = 1;
  return d;
}

// A dividend whose quotient digits are all 2^32 - 1 and whose remainder is d - 1: the most corrections.
Digits MaxQuotientDividend(const Digits& d, unsigned cDigits) {
  const Mpz D(d);
  const unsigned dBits = static_cast<unsigned>(mpz_sizeinbase(D, 2));
  if (dBits + 1 > 32 * cDigits) return Digits(cDigits, 0);
  Mpz q, c;
  mpz_setbit(q, 32 * cDigits - dBits);
  mpz_sub_ui(q, q, 1);
  mpz_mul(c, D, q);
  mpz_add(c, c, D);
  mpz_sub_ui(c, c, 1);
  return c.ToDigits(cDigits);
}

// Fills the stack below the caller with non-zero bytes, so that a routine called next which reads a
// work-area digit it never set reads garbage rather than the zeros earlier wipes left behind.
[[gnu::noinline]] void DirtyStack() {
  [[maybe_unused]] volatile unsigned char area[24 * 1024];
  for (auto& x : area) x = 0x5A;
}

enum class DivAlias { None, QuotientIsDividend, RemainderIsDividend, QuotientIsDivisor, RemainderIsDivisor };

}  // namespace

TEST(BNMult, MatchesGmpWithAliasingUpToTheLimit) {
  OperandSource src(0x3017);
  for (int round = 0; round < 500; ++round) {
    const unsigned n = round < 4 ? round : src.AnyCount(Single);
    const Digits b = src.Make(n, src.AnyShape());
    const Digits c = round % 4 == 3 ? b : src.Make(n, src.AnyShape());
    Mpz want;
    mpz_mul(want, Mpz(b), Mpz(c));
    for (int alias = 0; alias < 4; ++alias) {  // apart, a = b, a = c, a = b = c (only when b = c)
      if (alias == 3 && b != c) continue;
      Fenced fa(2 * n), fb(b, n), fc(c, n);
      const Digit* bArg = fb.data();
      const Digit* cArg = fc.data();
      if (alias == 1 || alias == 3) { fa = Fenced(b, 2 * n); bArg = fa.data(); }
      if (alias == 2) { fa = Fenced(c, 2 * n); cArg = fa.data(); }
      if (alias == 3) cArg = fa.data();
      BNMult(fa.data(), bArg, cArg, n);
      ASSERT_EQ(fa.Value(), want.ToDigits(2 * n)) << "round " << round << " n " << n << " alias " << alias;
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
    }
  }
}

TEST(BNDiv, MatchesGmpOverDivisorFormsSizesAndAliasing) {
  OperandSource src(0xD1F1DE);
  for (int round = 0; round < 1200; ++round) {
    const unsigned dDigits = round % 10 == 0 ? src.Below(1, 3) : src.AnyCount(Single);
    const Digits d = MakeDivisor(src, dDigits, round % 6);
    unsigned cDigits;
    switch (round % 5) {
      case 0: cDigits = Double; break;
      case 1: cDigits = src.Below(0, dDigits); break;  // dividend no longer than the divisor
      default: cDigits = src.Below(0, Double); break;
    }
    const Digits c = round % 7 == 0 ? MaxQuotientDividend(d, cDigits) : src.Make(cDigits, src.AnyShape());
    const Mpz C(c), D(d);
    Mpz q, r;
    mpz_fdiv_qr(q, r, C, D);

    const auto alias = static_cast<DivAlias>(round % 5 == 4 ? src.Below(0, 4) : 0);
    const unsigned both = std::max(cDigits, dDigits);
    Fenced fa(cDigits, 0xBADBAD), fb(dDigits, 0xBADBAD), fc(c, cDigits), fd(d, dDigits);
    Digit* a = fa.data();
    Digit* b = fb.data();
    Fenced* qStore = &fa;
    Fenced* rStore = &fb;
    switch (alias) {
      case DivAlias::None: break;
      case DivAlias::QuotientIsDividend: fc = Fenced(c, both); a = fc.data(); qStore = &fc; break;
      case DivAlias::RemainderIsDividend: fc = Fenced(c, both); b = fc.data(); rStore = &fc; break;
      case DivAlias::QuotientIsDivisor: fd = Fenced(d, both); a = fd.data(); qStore = &fd; break;
      case DivAlias::RemainderIsDivisor: b = fd.data(); rStore = &fd; break;
    }
    DirtyStack();
    BNDiv(a, b, fc.data(), cDigits, fd.data(), dDigits);

    const Digits gotQ = qStore->Value(), gotR = rStore->Value();
    ASSERT_EQ(Digits(gotQ.begin(), gotQ.begin() + cDigits), q.ToDigits(cDigits))
        << "round " << round << " c " << C.Hex() << " d " << D.Hex();
    ASSERT_EQ(Digits(gotR.begin(), gotR.begin() + dDigits), r.ToDigits(dDigits))
        << "round " << round << " c " << C.Hex() << " d " << D.Hex();
    ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact() && fd.GuardsIntact());
  }
}

TEST(BNDiv, DivisorWithLeadingZerosBeyondTheSingleLimit) {
  // Only the significant digits of the divisor are bounded; its count may be larger.
  OperandSource src(0x10AD);
  Digits d = src.Make(300, Shape::Random);
  std::fill(d.begin() + Single, d.end(), 0);
  const Digits c = src.Make(Double, Shape::Random);
  Fenced fa(Double), fb(300, 0xBADBAD);
  BNDiv(fa.data(), fb.data(), c.data(), Double, d.data(), 300);
  Mpz q, r;
  mpz_fdiv_qr(q, r, Mpz(c), Mpz(d));
  EXPECT_EQ(fa.Value(), q.ToDigits(Double));
  EXPECT_EQ(fb.Value(), r.ToDigits(300));
  EXPECT_TRUE(fa.GuardsIntact() && fb.GuardsIntact());
}

TEST(BNMod, MatchesGmpWithAliasing) {
  OperandSource src(0x30D);
  for (int round = 0; round < 600; ++round) {
    const unsigned cDigits = src.AnyCount(Single);
    const Digits c = MakeDivisor(src, cDigits, round % 6);
    const unsigned bDigits = round % 3 == 0 ? Double : src.Below(0, Double);
    const Digits b = src.Make(bDigits, src.AnyShape());
    Mpz want;
    mpz_fdiv_r(want, Mpz(b), Mpz(c));
    const unsigned both = std::max(bDigits, cDigits);
    for (int alias = 0; alias < 3; ++alias) {  // apart, a = b, a = c
      Fenced fa(cDigits, 0xBADBAD), fb(b, both), fc(c, both);
      Fenced* out = alias == 0 ? &fa : (alias == 1 ? &fb : &fc);
      BNMod(out->data(), fb.data(), bDigits, fc.data(), cDigits);
      const Digits got = out->Value();
      ASSERT_EQ(Digits(got.begin(), got.begin() + cDigits), want.ToDigits(cDigits))
          << "round " << round << " alias " << alias;
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
    }
  }
}

TEST(BNModMult, MatchesGmpForUnreducedOperandsAndAliasing) {
  OperandSource src(0x303);
  for (int round = 0; round < 400; ++round) {
    const unsigned n = src.AnyCount(Single);
    const Digits d = MakeDivisor(src, n, round % 6);
    const Digits b = src.Make(n, src.AnyShape());  // often not below d
    const Digits c = round % 4 == 0 ? b : src.Make(n, src.AnyShape());
    Mpz want;
    mpz_mul(want, Mpz(b), Mpz(c));
    mpz_fdiv_r(want, want, Mpz(d));
    for (int alias = 0; alias < 4; ++alias) {  // apart, a = b, a = c, a = b = c (only when b = c)
      if (alias == 3 && b != c) continue;
      Fenced fa(n, 0xBADBAD), fb(b, n), fc(c, n), fd(d, n);
      Fenced* out = alias == 0 ? &fa : (alias == 2 ? &fc : &fb);
      BNModMult(out->data(), fb.data(), alias == 3 ? fb.data() : fc.data(), fd.data(), n);
      ASSERT_EQ(out->Value(), want.ToDigits(n)) << "round " << round << " n " << n << " alias " << alias;
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact() && fd.GuardsIntact());
    }
  }
}

// Hand-worked divisions at the boundaries of the algorithm.
TEST(MultDivEdges, DivisionTable) {
  const Digit ones = 0xFFFFFFFFu;
  struct Case {
    const char* name;
    Digits c, d, q, r;
  };
  const Case cases[] = {
      {"by one", {5, ones, 7}, {1}, {5, ones, 7}, {0}},
      {"by itself", {9, 8, 7}, {9, 8, 7}, {1, 0, 0}, {0, 0, 0}},
      {"dividend shorter than divisor", {5}, {0, 0, 1}, {0}, {5, 0, 0}},
      {"empty dividend", {}, {3}, {}, {0}},
      {"smaller dividend of equal length", {3, 2}, {4, 2}, {0, 0}, {3, 2}},
      {"remainder cleared above the divisor", {10}, {3, 0, 0, 0}, {3}, {1, 0, 0, 0}},
      {"one-digit divisor", {ones, ones}, {ones}, {1, 1}, {0}},
      {"top divisor digit all ones", {ones, ones, ones, ones}, {ones, ones}, {1, 0, 1, 0}, {0, 0}},
      {"all ones after normalising", {0x80000005u, 0x7FFFFFFEu, 1}, {0x80000000u, 0x7FFFFFFFu}, {3, 0, 0}, {5, 0}},
  };
  for (const Case& k : cases) {
    const auto cDigits = static_cast<unsigned>(k.c.size()), dDigits = static_cast<unsigned>(k.d.size());
    Fenced q(cDigits, 0xBADBAD), r(dDigits, 0xBADBAD);
    DirtyStack();
    BNDiv(q.data(), r.data(), k.c.data(), cDigits, k.d.data(), dDigits);
    EXPECT_EQ(q.Value(), k.q) << k.name;
    EXPECT_EQ(r.Value(), k.r) << k.name;
    EXPECT_TRUE(q.GuardsIntact() && r.GuardsIntact()) << k.name;
  }
}

TEST(MultDivEdges, ZeroDivisorWritesNothing) {
  const Digit c[3] = {1, 2, 3}, zero[2] = {0, 0};
  Fenced q(3, 0x11111111u), r(2, 0x22222222u);
  BNDiv(q.data(), r.data(), c, 3, zero, 2);
  EXPECT_EQ(q.Value(), Digits(3, 0x11111111u));
  EXPECT_EQ(r.Value(), Digits(2, 0x22222222u));
  BNMod(r.data(), c, 3, zero, 2);
  EXPECT_EQ(r.Value(), Digits(2, 0x22222222u));
  BNModMult(r.data(), c, c, zero, 2);
  EXPECT_EQ(r.Value(), Digits(2, 0x22222222u));
  BNDiv(q.data(), r.data(), c, 3, zero, 0);
  EXPECT_EQ(q.Value(), Digits(3, 0x11111111u));
}

TEST(MultDivEdges, ProductsAndReducedProducts) {
  const Digit ones = 0xFFFFFFFFu;
  Digit a[4];
  const Digit m[1] = {ones};
  BNMult(a, m, m, 1);
  EXPECT_EQ(Digits(a, a + 2), (Digits{1, ones - 1}));

  const Digit zero[2] = {0, 0}, x[2] = {ones, ones};
  Fenced p(4, 0xBADBAD);
  BNMult(p.data(), x, zero, 2);
  EXPECT_EQ(p.Value(), Digits(4, 0));

  // (2^64 - 1)^2 squared in place.
  Fenced sq(Digits{ones, ones}, 4);
  BNMult(sq.data(), sq.data(), sq.data(), 2);
  EXPECT_EQ(sq.Value(), (Digits{1, 0, ones - 1, ones}));

  // (d + 2)(d + 3) mod d = 6 for operands that are not reduced.
  const Digit d[2] = {7, 1}, b[2] = {9, 1}, c[2] = {10, 1};
  BNModMult(a, b, c, d, 2);
  EXPECT_EQ(Digits(a, a + 2), (Digits{6, 0}));
}
