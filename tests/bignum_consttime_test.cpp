// The constant-time routines for secret values, checked against GMP (and, where one exists, against the
// variable-time routine they replace) on seeded random operands: odd and even moduli, operands at the
// work-area limit and key-generation-shaped values, with every allowed aliasing.
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

constexpr unsigned Single = ScratchDigits;

// A value of n digits with `significant` of them in use, odd or even as asked, never zero.
Digits MakeValue(OperandSource& src, unsigned n, unsigned significant, Shape shape, bool odd) {
  Digits d = src.Make(n, shape);
  std::fill(d.begin() + significant, d.end(), 0);
  d[0] = odd ? d[0] | 1 : d[0] & ~1u;
  if (Mpz(d).Sign() == 0) d[0] = odd ? 1 : 2;
  return d;
}

}  // namespace

TEST(BNModInvConstTime, MatchesGmpForOddOrEvenModuli) {
  OperandSource src(0xC7117);
  for (int round = 0; round < 400; ++round) {
    const unsigned n = round < 2 ? Single - round * 130 : src.Below(1, 24);
    // Odd modulus with any b (q^-1 mod p), or even modulus with odd b (e^-1 mod phi).
    const bool oddModulus = round % 2 == 0;
    const Digits c = MakeValue(src, n, round % 3 == 0 ? src.Below(1, n) : n, src.AnyShape(), oddModulus);
    if (Mpz(c) == Mpz(1)) continue;
    Digits b;
    Mpz g;
    for (int attempt = 0; attempt == 0 || g != Mpz(1) || mpz_cmp(Mpz(b), Mpz(c)) >= 0; ++attempt) {
      b = src.Make(n, attempt < 3 ? src.AnyShape() : Shape::Short);
      if (!oddModulus) b[0] |= 1;
      if (attempt > 50) b = Mpz(1).ToDigits(n);  // 1 is below every modulus above 1 and coprime to it
      mpz_gcd(g, Mpz(b), Mpz(c));
    }
    Mpz want;
    mpz_invert(want, Mpz(b), Mpz(c));
    for (int alias = 0; alias < 3; ++alias) {  // apart, a = b, a = c
      Fenced fa(n, 0xBADBAD), fb(b, n), fc(c, n);
      Fenced* out = alias == 0 ? &fa : alias == 1 ? &fb : &fc;
      BNModInvConstTime(out->data(), fb.data(), fc.data(), n);
      ASSERT_EQ(out->Value(), want.ToDigits(n)) << "round " << round << " alias " << alias << " b "
                                                << Mpz(b).Hex() << " c " << Mpz(c).Hex();
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
    }
  }
}

TEST(BNGcdConstTime, MatchesGmpAndTheVariableTimeGcd) {
  OperandSource src(0xC76CD);
  for (int round = 0; round < 400; ++round) {
    const unsigned n = round < 2 ? Single : src.Below(1, 24);
    // b = g*x and c = g*y with g odd, so the gcd may be large; one operand stays odd.
    const unsigned gDigits = src.Below(1, n), rest = n - gDigits;
    Digits gd = src.Make(gDigits, Shape::Random);
    gd[0] |= 1;
    const Mpz g(gd);
    Mpz b(src.Make(rest, rest == 0 ? Shape::Zero : src.AnyShape()));
    Mpz c(src.Make(rest, rest == 0 ? Shape::Zero : src.AnyShape()));
    if (round % 3 != 0) { mpz_mul(b, b, g); mpz_mul(c, c, g); }
    if (mpz_even_p(b.get()) && mpz_even_p(c.get())) mpz_add_ui(c, c, 1);
    if (round % 11 == 0) c = b;
    if (round % 13 == 0) b = Mpz(0);  // gcd(0, c) = c for an odd c
    if (mpz_even_p(b.get()) && mpz_even_p(c.get())) mpz_setbit(c, 0);
    if (!c.FitsIn(n) || !b.FitsIn(n)) continue;
    Mpz want;
    mpz_gcd(want, b, c);
    const Digits bd = b.ToDigits(n), cd = c.ToDigits(n);
    Digits slow(n);
    BNGcd(slow.data(), bd.data(), cd.data(), n);
    ASSERT_EQ(slow, want.ToDigits(n));
    for (int alias = 0; alias < 3; ++alias) {
      Fenced fa(n, 0xBADBAD), fb(bd, n), fc(cd, n);
      Fenced* out = alias == 0 ? &fa : alias == 1 ? &fb : &fc;
      BNGcdConstTime(out->data(), fb.data(), fc.data(), n);
      ASSERT_EQ(out->Value(), want.ToDigits(n)) << "round " << round << " alias " << alias;
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
    }
  }
}

// The key-generation uses: gcd(e, p-1) and e^-1 mod (p-1)(q-1) for 1024-bit primes, against the
// variable-time routines on the same values.
TEST(ConstTimeEuclid, AgreesWithTheVariableTimeRoutinesOnKeyShapedValues) {
  OperandSource src(0xC7E);
  constexpr unsigned Prime = 32, Width = 2 * Prime + 1;
  for (int round = 0; round < 6; ++round) {
    Mpz p(src.Make(Prime, Shape::Random)), q(src.Make(Prime, Shape::Random));
    mpz_setbit(p, 32 * Prime - 1);
    mpz_setbit(q, 32 * Prime - 1);
    mpz_nextprime(p, p);
    mpz_nextprime(q, q);
    Mpz phi, pm1, qm1, e(50001);
    mpz_sub_ui(pm1, p, 1);
    mpz_sub_ui(qm1, q, 1);
    mpz_mul(phi, pm1, qm1);
    Mpz g;
    for (mpz_gcd(g, e, phi); g != Mpz(1); mpz_gcd(g, e, phi)) mpz_add_ui(e, e, 2);
    const Digits ed = e.ToDigits(Width), phid = phi.ToDigits(Width), pm1d = pm1.ToDigits(Width);
    Digits fast(Width), slow(Width);
    BNGcdConstTime(fast.data(), pm1d.data(), ed.data(), Prime + 1);
    BNGcd(slow.data(), pm1d.data(), ed.data(), Prime + 1);
    EXPECT_EQ(Digits(fast.begin(), fast.begin() + Prime + 1), Digits(slow.begin(), slow.begin() + Prime + 1));
    BNModInvConstTime(fast.data(), ed.data(), phid.data(), Width);
    BNModInv(slow.data(), ed.data(), phid.data(), Width);
    EXPECT_EQ(fast, slow) << "round " << round;

    // The single-digit route key generation takes for a one-digit e: the gcd of e and the remainder,
    // and d = (k*phi + 1) / e with k = e - (phi mod e)^-1 mod e.
    const Digit ev = ed[0];
    Digit r = BNModDigitConstTime(pm1d.data(), ev, Prime + 1);
    BNGcdConstTime(&r, &r, &ev, 1);
    EXPECT_EQ(r, Digit(mpz_gcd_ui(nullptr, pm1, ev)));
    Digit t = BNModDigitConstTime(phid.data(), ev, Width);
    BNModInvConstTime(&t, &t, &ev, 1);
    Digits d(Width + 1);
    d[Width] = BNMultDigitAddConstTime(d.data(), phid.data(), ev - t, 1, Width);
    BNDivExactDigitConstTime(d.data(), d.data(), ev, Width + 1);
    EXPECT_EQ(d, Mpz(slow).ToDigits(Width + 1)) << "round " << round;
  }
}

// The single-digit routines behind it, against GMP: divisors at the edges of a digit and random ones,
// operands of every shape up to the work-area limit, results in place.
TEST(SingleDigitConstTime, RemainderProductAndExactQuotientMatchGmp) {
  OperandSource src(0x51D6);
  const Digit edges[] = {1, 2, 3, 50001, 65537, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu};
  constexpr unsigned EdgeCount = sizeof edges / sizeof edges[0];
  for (unsigned round = 0; round < 300; ++round) {
    const unsigned n = round < EdgeCount ? Single - 1 : src.Below(1, 40);
    const Digit m = round < EdgeCount ? edges[round] : (src.NextDigit() | (round % 2)) + (round % 7 == 0);
    if (m == 0) continue;
    const Digits b = src.Make(n, src.AnyShape());
    SCOPED_TRACE(testing::Message() << "round " << round << " m " << m << " digits " << n);
    EXPECT_EQ(BNModDigitConstTime(b.data(), m, n), Digit(mpz_fdiv_ui(Mpz(b), m)));

    const Digit c = src.NextDigit();
    Mpz product;
    mpz_mul_ui(product, Mpz(b), m);
    mpz_add_ui(product, product, c);
    Fenced in(b, n);
    const Digit top = BNMultDigitAddConstTime(in.data(), in.data(), m, c, n);
    Digits got = in.Value();
    got.push_back(top);
    EXPECT_EQ(got, product.ToDigits(n + 1));
    EXPECT_TRUE(in.GuardsIntact());

    if (m % 2 == 1) {
      mpz_sub_ui(product, product, c);  // b*m, which m divides
      Fenced x(product.ToDigits(n + 1), n + 1);
      BNDivExactDigitConstTime(x.data(), x.data(), m, n + 1);
      EXPECT_EQ(x.Value(), Mpz(b).ToDigits(n + 1));
      EXPECT_TRUE(x.GuardsIntact());
    }
  }
}

TEST(ConstTimeLinear, ComparisonsSelectionAndProductMatchTheirReferences) {
  OperandSource src(0xC71);
  for (int round = 0; round < 300; ++round) {
    const unsigned n = round < 3 ? Single : src.AnyCount(40);
    const Digits a = src.Make(n, src.AnyShape());
    Digits b = round % 5 == 0 ? a : src.Make(n, src.AnyShape());
    if (round % 7 == 0 && n > 1) b[src.Below(0, n - 1)] ^= 1;  // differs in one bit somewhere
    const int cmp = BNCmp(a.data(), b.data(), n);
    ASSERT_EQ(BNLessConstTime(a.data(), b.data(), n), Digit(cmp < 0));
    ASSERT_EQ(BNEqualConstTime(a.data(), b.data(), n), Digit(cmp == 0));
    ASSERT_EQ(BNIsZeroConstTime(a.data(), n), Digit(BNIsZero(a.data(), n)));
    ASSERT_EQ(BNDigitsConstTime(a.data(), n), BNDigits(a.data(), n));

    Digits x = a, y = b, s(n);
    BNSelectConstTime(s.data(), 1, x.data(), y.data(), n);
    ASSERT_EQ(s, a);
    BNSelectConstTime(s.data(), 0, x.data(), y.data(), n);
    ASSERT_EQ(s, b);
    BNSwapConstTime(x.data(), y.data(), 0, n);
    ASSERT_TRUE(x == a && y == b);
    BNSwapConstTime(x.data(), y.data(), 1, n);
    ASSERT_TRUE(x == b && y == a);

    Fenced product(2 * n, 0xBADBAD);
    BNMultConstTime(product.data(), a.data(), b.data(), n);
    Mpz want;
    mpz_mul(want, Mpz(a), Mpz(b));
    ASSERT_EQ(product.Value(), want.ToDigits(2 * n)) << "round " << round;
    ASSERT_TRUE(product.GuardsIntact());
  }
}
