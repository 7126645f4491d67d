// Linear-time digit-array routines and the single-digit primitives, checked against GMP on seeded random
// operands and on a table of boundary cases.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "bignum/BigNum.h"
#include "support/DigitsGmp.h"

using namespace Rsa;
using Testing::Digits;
using Testing::Fenced;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

constexpr unsigned Single = ScratchDigits;  // the largest single-length count

// 2^(32*digits)
Mpz Radix(unsigned digits) {
  Mpz r;
  mpz_setbit(r, 32ul * digits);
  return r;
}

// The ways a routine with result a and operands b, c may be called.
enum class Alias { None, AisB, AisC, AisBandC };
constexpr Alias AllAliases[] = {Alias::None, Alias::AisB, Alias::AisC, Alias::AisBandC};

}  // namespace

TEST(BNAddSub, MatchGmpOverShapesCountsAndAliasing) {
  OperandSource src(0xADD5AB);
  for (int round = 0; round < 1500; ++round) {
    const unsigned n = round < 10 ? round % 3 : src.AnyCount(Single);
    Digits b = src.Make(n, src.AnyShape());
    Digits c = src.Make(n, src.AnyShape());
    const Mpz B(b), C(c);
    for (Alias alias : AllAliases) {
      if (alias == Alias::AisBandC) c = b;
      const Mpz Cx(c);
      for (bool add : {true, false}) {
        Fenced fb(b, n), fc(c, n), fa(n);
        Digit* a = alias == Alias::None ? fa.data() : (alias == Alias::AisC ? fc.data() : fb.data());
        const Digit* cArg = alias == Alias::AisBandC ? fb.data() : fc.data();
        const Digit flag = add ? BNAdd(a, fb.data(), cArg, n) : BNSub(a, fb.data(), cArg, n);

        Mpz want;
        if (add) mpz_add(want, B, Cx); else mpz_sub(want, B, Cx);
        Mpz low;
        mpz_fdiv_r_2exp(low, want, 32ul * n);
        const Digit wantFlag = add ? (mpz_cmp(want, Radix(n)) >= 0) : (want.Sign() < 0);
        const Digits got = alias == Alias::None ? fa.Value() : (alias == Alias::AisC ? fc.Value() : fb.Value());
        ASSERT_EQ(got, low.ToDigits(n)) << (add ? "add" : "sub") << " round " << round << " n " << n
                                        << " alias " << int(alias) << " b " << B.Hex() << " c " << Cx.Hex();
        ASSERT_EQ(flag, wantFlag) << "round " << round;
        ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
      }
    }
  }
}

TEST(BNShifts, MatchGmpInPlaceAndApart) {
  OperandSource src(0x5417F7);
  for (int round = 0; round < 1500; ++round) {
    const unsigned n = round < 4 ? round : src.AnyCount(Single);
    const unsigned bits = round % 4 == 0 ? (round / 4) % 2 * 31 : src.Below(0, 31);
    const Digits b = src.Make(n, src.AnyShape());
    const Mpz B(b);
    for (bool inPlace : {false, true}) {
      Fenced fb(b, n), fa(n);
      Digit* a = inPlace ? fb.data() : fa.data();
      const Digit out = BNLShift(a, fb.data(), bits, n);
      Mpz shifted, low, high;
      mpz_mul_2exp(shifted, B, bits);
      mpz_fdiv_r_2exp(low, shifted, 32ul * n);
      mpz_fdiv_q_2exp(high, shifted, 32ul * n);
      ASSERT_EQ(inPlace ? fb.Value() : fa.Value(), low.ToDigits(n)) << "lshift " << bits << " of " << B.Hex();
      ASSERT_EQ(out, mpz_get_ui(high)) << "lshift " << bits << " of " << B.Hex();
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact());
    }
    for (bool inPlace : {false, true}) {
      Fenced fb(b, n), fa(n);
      Digit* a = inPlace ? fb.data() : fa.data();
      const Digit out = BNRShift(a, fb.data(), bits, n);
      Mpz q, r;
      mpz_fdiv_q_2exp(q, B, bits);
      mpz_fdiv_r_2exp(r, B, bits);
      mpz_mul_2exp(r, r, 32 - bits);  // the bits shifted out, left-aligned in a digit
      ASSERT_EQ(inPlace ? fb.Value() : fa.Value(), q.ToDigits(n)) << "rshift " << bits << " of " << B.Hex();
      ASSERT_EQ(out, bits == 0 ? 0 : mpz_get_ui(r)) << "rshift " << bits << " of " << B.Hex();
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact());
    }
  }
}

TEST(BNShifts, CountsOf32OrMoreAreRefused) {
  for (unsigned bits : {32u, 33u, 64u, 1000u, UINT_MAX}) {
    const Digits b = {0x89ABCDEFu, 0xFFFFFFFFu, 0x80000001u};
    Fenced fa(3, 0x77777777u);
    EXPECT_EQ(BNLShift(fa.data(), b.data(), bits, 3), 0u) << bits;
    EXPECT_EQ(fa.Value(), Digits(3, 0x77777777u)) << bits;
    EXPECT_EQ(BNRShift(fa.data(), b.data(), bits, 3), 0u) << bits;
    EXPECT_EQ(fa.Value(), Digits(3, 0x77777777u)) << bits;
    EXPECT_TRUE(fa.GuardsIntact());
  }
}

TEST(BNQueries, CompareSizeAndZeroMatchGmp) {
  OperandSource src(0xC0FFEE);
  for (int round = 0; round < 3000; ++round) {
    const unsigned n = src.AnyCount(Single);
    const Digits a = src.Make(n, src.AnyShape());
    Digits b = a;
    // Mostly arrays that agree above some digit, so the comparison has to walk down to it.
    switch (round % 3) {
      case 0: b = src.Make(n, src.AnyShape()); break;
      case 1: b[src.Below(0, n - 1)] = src.NextDigit(); break;
      default: break;
    }
    const Mpz A(a), B(b);
    const int want = mpz_cmp(A, B);
    ASSERT_EQ(BNCmp(a.data(), b.data(), n), (want > 0) - (want < 0)) << A.Hex() << " vs " << B.Hex();
    ASSERT_EQ(BNIsZero(a.data(), n), A.Sign() == 0 ? 1 : 0);
    const unsigned bits = A.Sign() == 0 ? 0 : static_cast<unsigned>(mpz_sizeinbase(A, 2));
    ASSERT_EQ(BNBits(a.data(), n), bits) << A.Hex();
    ASSERT_EQ(BNDigits(a.data(), n), (bits + 31) / 32) << A.Hex();
  }
}

TEST(BNAssign2Exp, SetsExactlyOneBitOrNone) {
  for (unsigned n : {1u, 2u, 5u, Single}) {
    for (unsigned k : {0u, 1u, 31u, 32u, 33u, 32 * n - 1, 32 * n, 32 * n + 1, UINT_MAX}) {
      Fenced fa(n, 0xFFFFFFFFu);
      BNAssign2Exp(fa.data(), k, n);
      Mpz want;
      if (k < 32 * n) mpz_setbit(want, k);
      EXPECT_EQ(fa.Value(), want.ToDigits(n)) << "k " << k << " n " << n;
      EXPECT_TRUE(fa.GuardsIntact());
    }
  }
}

TEST(BNDigitMult, AddAndSubtractMatchGmp) {
  OperandSource src(0xD161);
  for (int round = 0; round < 3000; ++round) {
    const unsigned n = round < 3 ? round : src.AnyCount(Single);
    const Digits b = src.Make(n, src.AnyShape());
    const Digits d = src.Make(n, src.AnyShape());
    const Digit c = round % 7 == 0 ? 0 : (round % 5 == 0 ? 0xFFFFFFFFu : src.NextDigit());
    const Mpz B(b), D(d);
    Mpz product;
    mpz_mul_ui(product, D, c);
    for (bool add : {true, false}) {
      for (bool inPlace : {true, false}) {
        Fenced fb(b, n), fd(d, n), fa(n);
        Digit* a = inPlace ? fb.data() : fa.data();
        const Digit out = add ? BNAddDigitMult(a, fb.data(), c, fd.data(), n)
                              : BNSubDigitMult(a, fb.data(), c, fd.data(), n);
        Mpz exact, low, high;
        if (add) mpz_add(exact, B, product); else mpz_sub(exact, B, product);
        mpz_fdiv_r_2exp(low, exact, 32ul * n);
        mpz_fdiv_q_2exp(high, exact, 32ul * n);  // floor, so negative for a subtraction that borrows
        if (!add) mpz_neg(high, high);
        ASSERT_EQ(inPlace ? fb.Value() : fa.Value(), low.ToDigits(n))
            << (add ? "add" : "sub") << " c " << c << " b " << B.Hex() << " d " << D.Hex();
        ASSERT_TRUE(high.FitsIn(1));
        ASSERT_EQ(out, mpz_get_ui(high)) << (add ? "add" : "sub") << " c " << c;
        ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fd.GuardsIntact());
      }
    }
  }
}

TEST(DigitMult, IsTheExact64BitProduct) {
  OperandSource src(0x16B17);
  const Digit special[] = {0, 1, 2, 0xFFFF, 0x10000, 0x1FFFF, 0x7FFFFFFF, 0x80000000u, 0xFFFF0000u,
                           0xFFFFFFFEu, 0xFFFFFFFFu};
  auto check = [](Digit b, Digit c) {
    Digit a[2];
    DigitMult(a, b, c);
    const std::uint64_t want = std::uint64_t{b} * c;
    ASSERT_EQ(a[0], static_cast<Digit>(want)) << b << " * " << c;
    ASSERT_EQ(a[1], static_cast<Digit>(want >> 32)) << b << " * " << c;
  };
  for (Digit b : special)
    for (Digit c : special) check(b, c);
  for (int i = 0; i < 200000; ++i) check(src.NextDigit(), src.NextDigit());
}

TEST(DigitDiv, IsTheExactQuotientOverItsWholeDomain) {
  OperandSource src(0xD1D1D);
  auto check = [](Digit high, Digit low, Digit c) {
    const Digit b[2] = {low, high};
    Digit a = 0x12345678u;
    DigitDiv(&a, b, c);
    const std::uint64_t want = ((std::uint64_t{high} << 32) | low) / c;
    ASSERT_EQ(a, static_cast<Digit>(want)) << std::hex << high << ":" << low << " / " << c;
  };
  for (int i = 0; i < 300000; ++i) {
    Digit c;
    switch (i % 4) {
      case 0: c = 0x80000001u + src.NextDigit() % 0x7FFFFFFFu; break;  // the divisors division uses
      case 1: c = 0xFFFF0000u | (src.NextDigit() & 0xFFFF); break;     // top half 2^16 - 1
      case 2: c = 0x10000u + src.NextDigit() % 0xFFFF0000u; break;     // anywhere in the domain
      default: c = (src.NextDigit() | 0x10000u) & (0xFFFFFFFFu >> src.Below(0, 15)); break;
    }
    const Digit high = i % 8 == 0 ? c - 1 : src.NextDigit() % c;
    const Digit low = i % 16 == 0 ? 0xFFFFFFFFu : src.NextDigit();
    check(high, low, c);
  }
  // The smallest divisors make the half-digit estimates weakest.
  for (Digit c : {0x10000u, 0x10001u, 0x1FFFFu, 0x20000u}) {
    check(c - 1, 0xFFFFFFFFu, c);
    check(0, 0, c);
    check(0, c - 1, c);
    check(0, c, c);
  }
}

// Boundary cases of the linear routines, each with the value it must give.
TEST(LinearEdges, CarriesBorrowsAndSizes) {
  const Digit ones = 0xFFFFFFFFu;
  Digit a[4];

  // Carry and borrow across the whole array.
  const Digit oneDigitMax[1] = {ones};
  EXPECT_EQ(BNAdd(a, oneDigitMax, oneDigitMax, 1), 1u);
  EXPECT_EQ(a[0], ones - 1);
  const Digit allOnes[4] = {ones, ones, ones, ones}, one[4] = {1, 0, 0, 0}, zero[4] = {};
  EXPECT_EQ(BNAdd(a, allOnes, one, 4), 1u);
  EXPECT_EQ(Digits(a, a + 4), Digits(4, 0));
  EXPECT_EQ(BNSub(a, zero, one, 4), 1u);
  EXPECT_EQ(Digits(a, a + 4), Digits(4, ones));
  EXPECT_EQ(BNSub(a, allOnes, allOnes, 4), 0u);
  EXPECT_EQ(Digits(a, a + 4), Digits(4, 0));

  // Shifts by 0 copy; a bit shifted out comes back in the returned digit.
  const Digit top[2] = {0x12345678u, 0x80000000u}, odd[2] = {3, 0};
  EXPECT_EQ(BNLShift(a, top, 0, 2), 0u);
  EXPECT_EQ(Digits(a, a + 2), Digits(top, top + 2));
  EXPECT_EQ(BNRShift(a, top, 0, 2), 0u);
  EXPECT_EQ(Digits(a, a + 2), Digits(top, top + 2));
  EXPECT_EQ(BNLShift(a, top, 1, 2), 1u);
  EXPECT_EQ(BNRShift(a, odd, 1, 2), 0x80000000u);

  // Comparison is unsigned and digits = 0 compares equal.
  const Digit big[1] = {0x80000000u}, small[1] = {1};
  EXPECT_EQ(BNCmp(big, small, 1), 1);
  EXPECT_EQ(BNCmp(small, big, 1), -1);
  EXPECT_EQ(BNCmp(big, small, 0), 0);
  EXPECT_EQ(BNIsZero(big, 0), 1);
  EXPECT_EQ(BNDigits(zero, 4), 0u);
  EXPECT_EQ(BNBits(one, 4), 1u);
  const Digit twoTo32[2] = {0, 1};
  EXPECT_EQ(BNBits(twoTo32, 2), 33u);
  EXPECT_EQ(DigitBits(0), 0u);
  EXPECT_EQ(DigitBits(1), 1u);
  EXPECT_EQ(DigitBits(0x80000000u), 32u);

  // A zero multiplier leaves an in-place sum untouched, and still yields b when the result is apart.
  Fenced inPlace(Digits{5, 6, 7}, 3);
  EXPECT_EQ(BNAddDigitMult(inPlace.data(), inPlace.data(), 0, allOnes, 3), 0u);
  EXPECT_EQ(BNSubDigitMult(inPlace.data(), inPlace.data(), 0, allOnes, 3), 0u);
  EXPECT_EQ(inPlace.Value(), (Digits{5, 6, 7}));
  const Digit b3[3] = {5, 6, 7};
  Fenced apart(3, 0xEEEEEEEEu);
  EXPECT_EQ(BNAddDigitMult(apart.data(), b3, 0, allOnes, 3), 0u);
  EXPECT_EQ(apart.Value(), (Digits{5, 6, 7}));
  EXPECT_TRUE(apart.GuardsIntact());

  // DigitMult and DigitDiv at their extremes.
  Digit p[2];
  DigitMult(p, ones, ones);
  EXPECT_EQ(p[0], 1u);
  EXPECT_EQ(p[1], ones - 1);
  for (Digit c : {0x10000u, 0x80000001u, 0xFFFEFFFFu, 0xFFFF0000u, 0xFFFFFFFEu, ones}) {
    const Digit t[2] = {ones, c - 1};
    Digit q = 0;
    DigitDiv(&q, t, c);
    EXPECT_EQ(q, ones) << "divisor " << c;
  }
}

TEST(LinearEdges, CopiesAndClearsStayInsideTheirRun) {
  Fenced a(5, 0x11111111u);
  const Digit b[5] = {1, 2, 3, 4, 5};
  BNAssign(a.data(), b, 5);
  EXPECT_EQ(a.Value(), (Digits{1, 2, 3, 4, 5}));
  BNAssign(a.data(), a.data(), 5);
  EXPECT_EQ(a.Value(), (Digits{1, 2, 3, 4, 5}));
  BNAssignZero(a.data() + 1, 3);
  EXPECT_EQ(a.Value(), (Digits{1, 0, 0, 0, 5}));
  BNAssignZero(a.data(), 0);
  BNAssign(a.data(), b, 0);
  EXPECT_EQ(a.Value(), (Digits{1, 0, 0, 0, 5}));
  EXPECT_TRUE(a.GuardsIntact());
}
