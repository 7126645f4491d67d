// The pair of exponentiations on the IFMA kernels (results in Montgomery form or as ordinary values), and
// one exponentiation alone on them, against GMP and the scalar kernels, at every modulus length they
// serve: moduli at both ends of their limb count, bases at and around the modulus (0, 1, m - 1, m,
// above m), exponents 0, 1, all ones, random, short, and cut to a length that is not a whole number of
// digits, with the two halves given different cases so that a mix-up between them shows.
// Skipped on processors without IFMA.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bignum/BigNumInternal.h"
#include "bignum/Montgomery.h"
#include "bignum/MontgomeryIfma.h"
#include "support/DigitsGmp.h"

using namespace Rsa;
using Testing::Digits;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

// Bases, exponents and results in arrays longer than the moduli, as the component passes them.
constexpr unsigned ArrayDigits = 132;

enum class Base { Zero, One, MinusOne, Modulus, Above, Random };
enum class Exponent { Zero, One, AllOnes, Random, Short, Cut };

struct Case {
  Base base;
  Exponent exponent;
};

// Each half gets one of these; the second half runs the list in another order.
constexpr Case Cases[] = {
    {Base::Random, Exponent::Random},  {Base::Zero, Exponent::Random},    {Base::One, Exponent::AllOnes},
    {Base::MinusOne, Exponent::Random}, {Base::MinusOne, Exponent::AllOnes}, {Base::Modulus, Exponent::One},
    {Base::Above, Exponent::One},       {Base::Above, Exponent::Random},  {Base::Random, Exponent::Zero},
    {Base::Random, Exponent::Short},    {Base::Zero, Exponent::Zero},     {Base::Random, Exponent::AllOnes},
    {Base::Above, Exponent::Cut},
};
constexpr unsigned CaseCount = sizeof Cases / sizeof Cases[0];

enum class ModulusShape { TopBitSet, LowestOfLength, AllOnes };

Digits MakeModulus(OperandSource& src, unsigned digits, ModulusShape shape) {
  Digits d(ArrayDigits, 0);
  if (shape == ModulusShape::AllOnes) {
    std::fill(d.begin(), d.begin() + digits, 0xFFFFFFFFu);
    return d;
  }
  const Digits r = src.Make(digits, Shape::Random);
  std::copy(r.begin(), r.end(), d.begin());
  if (shape == ModulusShape::TopBitSet) {
    d[digits - 1] |= 0x80000000u;
  } else {  // the smallest top limb of this limb count: only its lowest bit
    d[digits - 1] = 0;
    d[digits - 2] = 1;
  }
  d[0] |= 1;
  return d;
}

Digits MakeBase(OperandSource& src, const Digits& d, unsigned digits, Base kind) {
  Digits b(ArrayDigits, 0);
  switch (kind) {
    case Base::Zero: break;
    case Base::One: b[0] = 1; break;
    case Base::MinusOne: b = d; b[0] -= 1; break;
    case Base::Modulus: b = d; break;
    case Base::Above: b = src.Make(ArrayDigits, Shape::Random); break;  // far above the modulus
    case Base::Random: {
      const Digits r = src.Make(digits, Shape::Random);
      std::copy(r.begin(), r.end(), b.begin());
      break;
    }
  }
  return b;
}

// Exponents of about the modulus's length, as a CRT half's private exponent is.
Digits MakeExponent(OperandSource& src, unsigned digits, Exponent kind) {
  Digits c(ArrayDigits, 0);
  switch (kind) {
    case Exponent::Zero: break;
    case Exponent::One: c[0] = 1; break;
    case Exponent::AllOnes:
    case Exponent::Cut: std::fill(c.begin(), c.begin() + digits, 0xFFFFFFFFu); break;
    case Exponent::Random: {
      const Digits r = src.Make(digits, Shape::Random);
      std::copy(r.begin(), r.end(), c.begin());
      break;
    }
    case Exponent::Short: c[0] = src.NextDigit() | 1; c[1] = 3; break;  // a short one beside a long one
  }
  return c;
}

// The exponent bits scanned: the significant digits, as BNModExp scans them, or 13 bits fewer than the
// full length for a cut exponent (its bits above are to be ignored).
unsigned ExpBits(const Digits& c, unsigned digits, Exponent kind) {
  return kind == Exponent::Cut ? 32 * digits - 13 : 32 * BNDigits(c.data(), ArrayDigits);
}

// b^(c mod 2^bits) mod d.
Mpz PowerMod(const Digits& b, const Digits& c, unsigned bits, const Digits& d) {
  Mpz r, e;
  mpz_fdiv_r_2exp(e, Mpz(c), bits);
  mpz_powm(r, Mpz(b), e, Mpz(d));
  return r;
}

// One half of a pair: the base's Montgomery form in, the ordinary result out.
struct Half {
  const MontModulus* mod;
  const Digits* exponent;
  unsigned bits;
  Limb form[MontLimbs];
  Limb result[MontLimbs];

  Half(const MontModulus& m, const Digits& b, const Digits& c, unsigned expBits) : mod(&m), exponent(&c), bits(expBits) {
    Limb work[3 * MontLimbs];
    MontToForm(form, b.data(), ArrayDigits, m, work);
  }
  MontExpJob Job(bool overBase) {
    return {overBase ? form : result, form, exponent->data(), bits, mod};
  }
  Digits Value(bool overBase) {
    Digits a(ArrayDigits);
    Limb work[3 * MontLimbs];
    MontFromForm(a.data(), ArrayDigits, overBase ? form : result, *mod, work);
    return a;
  }
};

// An ordinary value of limbs 64-bit limbs as digits.
Digits PlainDigits(const Limb* x, unsigned limbs) {
  Digits a(ArrayDigits, 0);
  for (unsigned j = 0; j < 2 * limbs; ++j) a[j] = static_cast<Digit>(x[j / 2] >> (32 * (j % 2)));
  return a;
}

class DualIfma : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IfmaAvailable()) GTEST_SKIP() << "no IFMA on this processor or in this build";
  }
};

}  // namespace

TEST_F(DualIfma, MatchesGmpAndTheScalarPairAtEverySupportedLength) {
  OperandSource src(0x1F3A);
  for (const unsigned limbs : {8u, 16u, 24u, 32u}) {
    const unsigned digits = 2 * limbs;
    for (const ModulusShape shape : {ModulusShape::TopBitSet, ModulusShape::LowestOfLength, ModulusShape::AllOnes}) {
      const Digits d1 = MakeModulus(src, digits, shape);
      const Digits d2 = MakeModulus(src, digits, ModulusShape::TopBitSet);
      MontModulus mod1, mod2;
      MontSetup(mod1, d1.data(), digits);
      MontSetup(mod2, d2.data(), digits);
      ASSERT_TRUE(IfmaPairSupports(mod1, mod2));
      for (unsigned i = 0; i < CaseCount; ++i) {
        const Case& k1 = Cases[i];
        const Case& k2 = Cases[(i * 5 + 3) % CaseCount];
        const Digits b1 = MakeBase(src, d1, digits, k1.base), b2 = MakeBase(src, d2, digits, k2.base);
        const Digits c1 = MakeExponent(src, digits, k1.exponent), c2 = MakeExponent(src, digits, k2.exponent);
        const unsigned bits1 = ExpBits(c1, digits, k1.exponent), bits2 = ExpBits(c2, digits, k2.exponent);
        Half x1(mod1, b1, c1, bits1), x2(mod2, b2, c2, bits2);
        const bool overBase = i % 2 == 1;  // half the cases write each result over its base
        MontExpPairIfma(x1.Job(overBase), x2.Job(overBase));
        const std::string where = std::to_string(limbs) + " limbs, modulus shape " + std::to_string(int(shape)) +
                                  ", case " + std::to_string(i);
        const Digits a1 = x1.Value(overBase), a2 = x2.Value(overBase);
        EXPECT_EQ(Mpz(a1), PowerMod(b1, c1, bits1, d1)) << "first half, " << where;
        EXPECT_EQ(Mpz(a2), PowerMod(b2, c2, bits2, d2)) << "second half, " << where;

        // The pair that hands back the ordinary values, as the recombination takes them.
        Half o1(mod1, b1, c1, bits1), o2(mod2, b2, c2, bits2);
        MontPowerPairIfma(o1.Job(overBase), o2.Job(overBase));
        EXPECT_EQ(PlainDigits(overBase ? o1.form : o1.result, limbs), a1) << "first half, plain, " << where;
        EXPECT_EQ(PlainDigits(overBase ? o2.form : o2.result, limbs), a2) << "second half, plain, " << where;

        Half s1(mod1, b1, c1, bits1), s2(mod2, b2, c2, bits2);
        MontExpWork work;
        MontExpScalar(s1.result, s1.form, c1.data(), bits1, mod1, work);
        MontExpScalar(s2.result, s2.form, c2.data(), bits2, mod2, work);
        EXPECT_EQ(a1, s1.Value(false)) << "first half against the scalar kernels, " << where;
        EXPECT_EQ(a2, s2.Value(false)) << "second half against the scalar kernels, " << where;

        // One exponentiation alone on the vector kernel, where it serves this length; and square-and-
        // multiply over all of the exponent's digits, as public exponents are raised.
        if (IfmaSingleSupports(mod1)) {
          Half y1(mod1, b1, c1, bits1);
          MontExpIfma(y1.Job(overBase));
          EXPECT_EQ(y1.Value(overBase), a1) << "single exponentiation, " << where;

          Half v1(mod1, b1, c1, bits1), s1Public(mod1, b1, c1, bits1);
          Limb* out = overBase ? v1.form : v1.result;
          MontExpPublicIfmaVarTime(out, v1.form, c1.data(), ArrayDigits, mod1);
          Limb q[2 * MontLimbs];
          MontExpPublicScalarVarTime(s1Public.result, s1Public.form, c1.data(), ArrayDigits, mod1, q);
          const Digits wantPublic = s1Public.Value(false);
          EXPECT_EQ(Mpz(wantPublic), PowerMod(b1, c1, 32 * ArrayDigits, d1)) << "public, scalar, " << where;
          EXPECT_EQ(v1.Value(overBase), wantPublic) << "public exponent, " << where;
          Half p1(mod1, b1, c1, bits1);
          MontPowerPublicIfmaVarTime(p1.result, p1.form, c1.data(), ArrayDigits, mod1);
          EXPECT_EQ(PlainDigits(p1.result, limbs), wantPublic) << "public exponent, plain result, " << where;
        }
      }
    }
  }
}

// The pair is handed out for the IFMA family only, and only for moduli of the same supported length.
TEST_F(DualIfma, ChosenForMatchingSupportedModuliOnly) {
  OperandSource src(0x51DE);
  MontModulus m8, m16a, m16b, m12;
  MontSetup(m8, MakeModulus(src, 16, ModulusShape::TopBitSet).data(), 16);
  MontSetup(m16a, MakeModulus(src, 32, ModulusShape::TopBitSet).data(), 32);
  MontSetup(m16b, MakeModulus(src, 32, ModulusShape::TopBitSet).data(), 32);
  MontSetup(m12, MakeModulus(src, 24, ModulusShape::TopBitSet).data(), 24);
  EXPECT_TRUE(IfmaPairSupports(m16a, m16b));
  EXPECT_FALSE(IfmaPairSupports(m16a, m8));
  EXPECT_FALSE(IfmaPairSupports(m12, m12));
  const bool ifma = SelectedMontKernel() == MontKernel::Ifma;
  EXPECT_EQ(SelectMontExpPair(m16a, m16b) == &MontExpPairIfma, ifma);
  EXPECT_EQ(SelectMontExpPair(m16a, m8) == &MontExpPairIfma, false);
}
