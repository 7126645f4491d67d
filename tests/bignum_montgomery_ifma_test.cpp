// The dual exponentiation on the IFMA kernels against GMP and the scalar Montgomery exponentiation, at
// every modulus length it serves: moduli at both ends of their limb count, bases at and around the
// modulus (0, 1, m - 1, m, above m), exponents 0, 1, all ones and random, with the two halves given
// different cases so that a mix-up between them shows. Skipped on processors without IFMA.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bignum/BigNumInternal.h"
#include "bignum/Montgomery.h"
#include "bignum/MontgomeryIfma.h"
#include "support/DigitsGmp.h"

using namespace Rsa;
using Testing::Digits;
using Testing::Fenced;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

// Bases, exponents and results in arrays longer than the moduli, as the component passes them.
constexpr unsigned ArrayDigits = 132;

enum class Base { Zero, One, MinusOne, Modulus, Above, Random };
enum class Exponent { Zero, One, AllOnes, Random, Short };

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
    case Exponent::AllOnes: std::fill(c.begin(), c.begin() + digits, 0xFFFFFFFFu); break;
    case Exponent::Random: {
      const Digits r = src.Make(digits, Shape::Random);
      std::copy(r.begin(), r.end(), c.begin());
      break;
    }
    case Exponent::Short: c[0] = src.NextDigit() | 1; c[1] = 3; break;  // a short one beside a long one
  }
  return c;
}

Mpz PowerMod(const Digits& b, const Digits& c, const Digits& d) {
  Mpz r;
  mpz_powm(r, Mpz(b), Mpz(c), Mpz(d));
  return r;
}

class DualIfma : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IfmaAvailable()) GTEST_SKIP() << "no IFMA on this processor or in this build";
  }
};

}  // namespace

TEST_F(DualIfma, MatchesGmpAndTheScalarPathAtEverySupportedLength) {
  OperandSource src(0x1F3A);
  for (const unsigned limbs : {8u, 16u, 24u, 32u}) {
    ASSERT_TRUE(IfmaDualSupports(limbs));
    const unsigned digits = 2 * limbs;
    for (const ModulusShape shape : {ModulusShape::TopBitSet, ModulusShape::LowestOfLength, ModulusShape::AllOnes}) {
      const Digits d1 = MakeModulus(src, digits, shape);
      const Digits d2 = MakeModulus(src, digits, ModulusShape::TopBitSet);
      MontModulus mod1, mod2;
      MontSetupVarTime(mod1, d1.data(), ArrayDigits);
      MontSetupVarTime(mod2, d2.data(), ArrayDigits);
      ASSERT_EQ(mod1.limbs, limbs);
      for (unsigned i = 0; i < CaseCount; ++i) {
        const Case& k1 = Cases[i];
        const Case& k2 = Cases[(i * 5 + 3) % CaseCount];
        const Digits b1 = MakeBase(src, d1, digits, k1.base), b2 = MakeBase(src, d2, digits, k2.base);
        const Digits c1 = MakeExponent(src, digits, k1.exponent), c2 = MakeExponent(src, digits, k2.exponent);
        Fenced a1(ArrayDigits), a2(ArrayDigits);
        ModExpDualIfma(a1.data(), b1.data(), c1.data(), ArrayDigits, mod1, a2.data(), b2.data(), c2.data(),
                       ArrayDigits, mod2, ArrayDigits, ArrayDigits);
        const std::string where = std::to_string(limbs) + " limbs, shape " + std::to_string(int(shape)) +
                                  ", case " + std::to_string(i);
        ASSERT_TRUE(a1.GuardsIntact() && a2.GuardsIntact()) << where;
        EXPECT_EQ(Mpz(a1.Value()), PowerMod(b1, c1, d1)) << "first half, " << where;
        EXPECT_EQ(Mpz(a2.Value()), PowerMod(b2, c2, d2)) << "second half, " << where;

        Digits s1(ArrayDigits), s2(ArrayDigits);
        BNModExpMontgomery(s1.data(), b1.data(), c1.data(), ArrayDigits, d1.data(), ArrayDigits);
        BNModExpMontgomery(s2.data(), b2.data(), c2.data(), ArrayDigits, d2.data(), ArrayDigits);
        EXPECT_EQ(a1.Value(), s1) << "first half against the scalar path, " << where;
        EXPECT_EQ(a2.Value(), s2) << "second half against the scalar path, " << where;
      }
    }
  }
}

// The result over its own base and over its own exponent, as callers reuse their arrays.
TEST_F(DualIfma, ResultOverItsBaseOrExponent) {
  OperandSource src(0x51DE);
  const unsigned digits = 32;
  const Digits d1 = MakeModulus(src, digits, ModulusShape::TopBitSet);
  const Digits d2 = MakeModulus(src, digits, ModulusShape::TopBitSet);
  MontModulus mod1, mod2;
  MontSetupVarTime(mod1, d1.data(), ArrayDigits);
  MontSetupVarTime(mod2, d2.data(), ArrayDigits);
  const Digits b1 = MakeBase(src, d1, digits, Base::Above), b2 = MakeBase(src, d2, digits, Base::Random);
  const Digits c1 = MakeExponent(src, digits, Exponent::Random), c2 = MakeExponent(src, digits, Exponent::Random);
  Digits x1 = b1, x2 = c2;  // the first result over its base, the second over its exponent
  ModExpDualIfma(x1.data(), x1.data(), c1.data(), ArrayDigits, mod1, x2.data(), b2.data(), x2.data(), ArrayDigits,
                 mod2, ArrayDigits, ArrayDigits);
  EXPECT_EQ(Mpz(x1), PowerMod(b1, c1, d1));
  EXPECT_EQ(Mpz(x2), PowerMod(b2, c2, d2));
}
