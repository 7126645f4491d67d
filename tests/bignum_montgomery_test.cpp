// The Montgomery kernel: its product, square and conversions against GMP at every limb count (the
// processor-specific kernel and the portable one), and the exponentiation built on it against the
// two-bit window method (which even moduli still use) at every modulus length up to the work-area limit,
// with the exponents and bases that stress it and every aliasing of the result. That no branch or address
// depends on the base or the exponent is checked under valgrind by the constant-time tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bignum/BigNumInternal.h"
#include "bignum/MontgomeryInternal.h"
#include "support/DigitsGmp.h"

using namespace Rsa;
using Testing::Digits;
using Testing::Fenced;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

// A modulus of dDigits digits, `significant` of them in use, odd, with a top digit of the given shape.
Digits OddModulus(OperandSource& src, unsigned dDigits, unsigned significant) {
  Digits d = src.Make(dDigits, Shape::Random);
  std::fill(d.begin() + significant, d.end(), 0);
  if (d[significant - 1] == 0) d[significant - 1] = 1;
  d[0] |= 1;
  return d;
}

Digits LimbsToDigits(const Limb* x, unsigned n) {
  Digits out(2 * n);
  for (unsigned i = 0; i < 2 * n; ++i) out[i] = static_cast<Digit>(x[i / 2] >> (32 * (i % 2)));
  return out;
}

void DigitsToLimbs(Limb* r, const Digits& x, unsigned n) {
  for (unsigned i = 0; i < n; ++i) {
    r[i] = 2 * i < x.size() ? x[2 * i] : 0;
    if (2 * i + 1 < x.size()) r[i] |= static_cast<Limb>(x[2 * i + 1]) << 32;
  }
}

// x * R^power mod m, with R = 2^(64n); power may be negative.
Mpz TimesR(const Mpz& x, int power, const Mpz& m, unsigned n) {
  Mpz r, rr;
  mpz_setbit(r, 64 * n);
  if (power < 0) mpz_invert(r, r, m);
  mpz_powm_ui(rr, r, static_cast<unsigned long>(std::abs(power)), m);
  Mpz out;
  mpz_mul(out, x, rr);
  mpz_mod(out, out, m);
  return out;
}

// A value below m (n limbs): random, or one of the extremes 0, 1 and m - 1.
Digits BelowModulus(OperandSource& src, const Mpz& m, unsigned n, int kind) {
  Mpz v;
  switch (kind % 4) {
    case 0: v = Mpz(0); break;
    case 1: v = Mpz(1); break;
    case 2: mpz_sub_ui(v, m, 1); break;
    default: mpz_mod(v, Mpz(src.Make(2 * n, Shape::Random)), m); break;
  }
  return v.ToDigits(2 * n);
}

}  // namespace

// The constant-time set-up counts every digit it is given, so a secret modulus can be passed at its
// public length even when its top digits happen to be zero; R then follows the digit count. Moduli 1 and
// 3, all-ones moduli and moduli with zero top digits, against GMP.
TEST(Montgomery, SetupMatchesGmpForEveryDigitCountGiven) {
  OperandSource src(0x5E7);
  for (unsigned md = 1; md <= ScratchDigits; md += md < 20 ? 1 : 17) {
    for (unsigned padding : {0u, 1u, 2u, 3u}) {
      const unsigned dDigits = std::min(ScratchDigits, md + padding);
      Digits d = OddModulus(src, dDigits, md);
      if (padding == 3) std::fill(d.begin(), d.begin() + md, 0xFFFFFFFFu);
      if (md == 1 && padding < 2) d[0] = padding == 0 ? 1 : 3;
      const Mpz m(d);
      MontModulus mod;
      MontSetup(mod, d.data(), dDigits);
      const unsigned n = mod.limbs;
      ASSERT_EQ(n, (dDigits + 1) / 2);
      Mpz r, rr;
      mpz_setbit(r, 64 * n);
      mpz_mul(rr, r, r);
      mpz_mod(r, r, m);
      mpz_mod(rr, rr, m);
      EXPECT_EQ(Mpz(LimbsToDigits(mod.one, n)), r) << md << " digits given as " << dDigits;
      EXPECT_EQ(Mpz(LimbsToDigits(mod.rr, n)), rr) << md << " digits given as " << dDigits;
      EXPECT_EQ(mod.m[0] * (0 - mod.mInv), Limb{1}) << md << " digits given as " << dDigits;
    }
  }
}

TEST(Montgomery, ProductSquareAndConversionsMatchGmpAtEveryLength) {
  OperandSource src(0x3047);
  for (unsigned md = 1; md <= ScratchDigits; ++md) {
    const Digits d = OddModulus(src, md, md);
    const Mpz m(d);
    MontModulus mod;
    MontSetup(mod, d.data(), md);
    const unsigned n = mod.limbs;
    ASSERT_EQ(n, (md + 1) / 2);
    Limb q[2 * MontLimbs], work[3 * MontLimbs];

    for (int round = 0; round < 6; ++round) {
      const Digits x = BelowModulus(src, m, n, round), y = BelowModulus(src, m, n, round / 2 + 3);
      Limb a[MontLimbs], b[MontLimbs], r[MontLimbs];
      DigitsToLimbs(a, x, n);
      DigitsToLimbs(b, y, n);
      Mpz xy;
      mpz_mul(xy, Mpz(x), Mpz(y));
      const Mpz wantProduct = TimesR(xy, -1, m, n);
      MontProduct(r, a, b, mod, q);
      ASSERT_EQ(Mpz(LimbsToDigits(r, n)), wantProduct) << "product, " << md << " digits, round " << round;
      MontProduct(a, a, b, mod, q);  // over the first operand
      ASSERT_EQ(Mpz(LimbsToDigits(a, n)), wantProduct) << "product over a, " << md << " digits";
      DigitsToLimbs(a, x, n);
      MontProduct(b, a, b, mod, q);  // over the second operand
      ASSERT_EQ(Mpz(LimbsToDigits(b, n)), wantProduct) << "product over b, " << md << " digits";

      Mpz xx;
      mpz_mul(xx, Mpz(x), Mpz(x));
      MontSquare(a, a, mod, q);  // in place
      ASSERT_EQ(Mpz(LimbsToDigits(a, n)), TimesR(xx, -1, m, n)) << "square, " << md << " digits";

      // The portable kernels, which processors with faster instructions skip at some lengths.
      DigitsToLimbs(a, x, n);
      DigitsToLimbs(b, y, n);
      MontProductPortable(r, a, b, mod, q);
      ASSERT_EQ(Mpz(LimbsToDigits(r, n)), wantProduct) << "portable product, " << md << " digits";
      MontSquarePortable(a, a, mod, q);
      ASSERT_EQ(Mpz(LimbsToDigits(a, n)), TimesR(xx, -1, m, n)) << "portable square, " << md << " digits";
    }

    // Into the form from values at, above and far above the modulus, longer than it too; and back.
    const unsigned longer = std::min(ScratchDigits, md + 1 + src.Below(0, 40));
    Digits atModulus = d;
    atModulus.resize(longer, 0);
    const Digits inputs[] = {atModulus, src.Make(longer, Shape::AllOnes), src.Make(longer, Shape::Random),
                             src.Make(md, Shape::TopOnes), Digits(md, 0)};
    for (const Digits& x : inputs) {
      Limb r[MontLimbs];
      MontToForm(r, x.data(), static_cast<unsigned>(x.size()), mod, work);
      const Mpz form = TimesR(Mpz(x), 1, m, n);
      ASSERT_EQ(Mpz(LimbsToDigits(r, n)), form) << "into the form, " << md << " digits, x " << Mpz(x).Hex();
      Fenced out(md + 1, 0xBADBAD);
      MontFromForm(out.data(), md + 1, r, mod, work);
      Mpz reduced;
      mpz_mod(reduced, Mpz(x), m);
      ASSERT_EQ(out.Value(), reduced.ToDigits(md + 1)) << "out of the form, " << md << " digits";
      ASSERT_TRUE(out.GuardsIntact());
    }
  }
}

// Every kernel this build has, at the limb counts where one is chosen by size (the halves and moduli of
// the key sizes), against GMP: moduli whose top limb is all ones push the running sums of the row
// kernels to their widest, moduli just above 2^(64(n-1)) to their narrowest; operands 0, 1, m - 1, and a
// first operand of R - 1 (allowed when the other is below m, as the conversion into the form uses it).
TEST(Montgomery, EveryKernelMatchesGmpAtTheKeySizesWithExtremeModuli) {
  using Kernel = void (*)(Limb*, const Limb*, const Limb*, const MontModulus&, Limb*);
  struct Named {
    const char* name;
    Kernel run;
    unsigned limbs;  // 0: any
  };
  std::vector<Named> kernels = {
      {"product", [](Limb* r, const Limb* a, const Limb* b, const MontModulus& m, Limb* q) { MontProduct(r, a, b, m, q); }, 0},
      {"portable product", [](Limb* r, const Limb* a, const Limb* b, const MontModulus& m, Limb* q) { MontProductPortable(r, a, b, m, q); }, 0},
  };
  const std::vector<Named> squares = {
      {"square", [](Limb* r, const Limb* a, const Limb*, const MontModulus& m, Limb* q) { MontSquare(r, a, m, q); }, 0},
      {"portable square", [](Limb* r, const Limb* a, const Limb*, const MontModulus& m, Limb* q) { MontSquarePortable(r, a, m, q); }, 0},
  };
#if QARVEX_HAVE_ADX_KERNELS
  std::vector<Named> adxSquares;
  if (MontDetail::ProcessorHasAdx()) {
    kernels.push_back({"ADX rows product", [](Limb* r, const Limb* a, const Limb* b, const MontModulus& m, Limb* q) { MontDetail::ProductAdx(r, a, b, m, q); }, 0});
    kernels.push_back({"ADX 8-limb product", [](Limb* r, const Limb* a, const Limb* b, const MontModulus& m, Limb*) { MontDetail::ProductAdx8(r, a, b, m); }, 8});
    kernels.push_back({"ADX 16-limb blocks product", [](Limb* r, const Limb* a, const Limb* b, const MontModulus& m, Limb*) { MontDetail::ProductAdx16(r, a, b, m); }, 16});
    adxSquares.push_back({"ADX rows square", [](Limb* r, const Limb* a, const Limb*, const MontModulus& m, Limb* q) { MontDetail::SquareAdx(r, a, m, q); }, 0});
    adxSquares.push_back({"ADX 8-limb square", [](Limb* r, const Limb* a, const Limb*, const MontModulus& m, Limb* q) { MontDetail::SquareAdx8(r, a, m, q); }, 8});
    adxSquares.push_back({"ADX 16-limb blocks square", [](Limb* r, const Limb* a, const Limb*, const MontModulus& m, Limb*) { MontDetail::SquareAdx16(r, a, m); }, 16});
  }
#endif
  OperandSource src(0xE7E3);
  for (unsigned n : {8u, 16u, 32u}) {
    for (int shape = 0; shape < 4; ++shape) {
      Digits d = src.Make(2 * n, Shape::Random);
      if (shape == 1) std::fill(d.begin(), d.end(), 0xFFFFFFFFu);                 // R - 1
      if (shape == 2) std::fill(d.begin() + 2, d.end(), 0xFFFFFFFFu);             // R - small
      if (shape == 3) std::fill(d.end() - 2, d.end(), 0), d[2 * n - 2] = 1;       // just above 2^(64(n-1))
      d[2 * n - 1] |= shape == 0 ? 0x80000000u : 0;
      d[0] |= 1;
      const Mpz m(d);
      MontModulus mod;
      MontSetup(mod, d.data(), 2 * n);
      Limb q[2 * MontLimbs];
      Mpz mMinus1;
      mpz_sub_ui(mMinus1, m, 1);
      // All ones below the top limb: every carry runs the whole length.
      Digits lowOnes(2 * n, 0xFFFFFFFFu);
      lowOnes[2 * n - 1] = lowOnes[2 * n - 2] = 0;
      const Digits belowM[] = {Digits(2 * n, 0), Mpz(1).ToDigits(2 * n), mMinus1.ToDigits(2 * n),
                               BelowModulus(src, m, n, 3), lowOnes};
      for (const Digits& y : belowM) {
        std::vector<Digits> firsts(std::begin(belowM), std::end(belowM));
        firsts.push_back(Digits(2 * n, 0xFFFFFFFFu));  // R - 1
        for (const Digits& x : firsts) {
          Mpz xy;
          mpz_mul(xy, Mpz(x), Mpz(y));
          const Mpz want = TimesR(xy, -1, m, n);
          for (const Named& k : kernels) {
            if (k.limbs != 0 && k.limbs != n) continue;
            Limb a[MontLimbs], b[MontLimbs], r[MontLimbs];
            DigitsToLimbs(a, x, n);
            DigitsToLimbs(b, y, n);
            k.run(r, a, b, mod, q);
            ASSERT_EQ(Mpz(LimbsToDigits(r, n)), want) << k.name << ", " << n << " limbs, modulus shape " << shape
                                                       << "\n a " << Mpz(x).Hex() << "\n b " << Mpz(y).Hex();
          }
        }
        Mpz yy;
        mpz_mul(yy, Mpz(y), Mpz(y));
        const Mpz want = TimesR(yy, -1, m, n);
        std::vector<Named> all = squares;
#if QARVEX_HAVE_ADX_KERNELS
        all.insert(all.end(), adxSquares.begin(), adxSquares.end());
#endif
        for (const Named& k : all) {
          if (k.limbs != 0 && k.limbs != n) continue;
          Limb a[MontLimbs];
          DigitsToLimbs(a, y, n);
          k.run(a, a, nullptr, mod, q);
          ASSERT_EQ(Mpz(LimbsToDigits(a, n)), want) << k.name << ", " << n << " limbs, modulus shape " << shape
                                                     << "\n a " << Mpz(y).Hex();
        }
      }
    }
  }
}

// The public exponentiation with plain values in and out, at the limb counts where the vector kernel
// may take it (16 to 32) and around them, on moduli of both extremes, against GMP: inputs 0, m - 1, m and
// far above m, exponents 0, 1, 3, 65537 and a long random one; and the scalar path gives the same.
TEST(Montgomery, PublicPowerWithPlainValuesMatchesGmp) {
  OperandSource src(0x9B1C);
  for (unsigned n : {1u, 8u, 15u, 16u, 24u, 32u, 33u}) {
    for (int shape = 0; shape < 2; ++shape) {
      Digits d = shape == 0 ? src.Make(2 * n, Shape::Random) : Digits(2 * n, 0xFFFFFFFFu);
      d[2 * n - 1] |= 0x80000000u;
      d[0] |= 1;
      const Mpz m(d);
      MontModulus mod;
      MontSetup(mod, d.data(), 2 * n);
      Mpz mMinus1;
      mpz_sub_ui(mMinus1, m, 1);
      const Digits inputs[] = {Digits(2 * n, 0), mMinus1.ToDigits(2 * n), d, src.Make(132, Shape::Random)};
      const Digits exponents[] = {Digits{0}, Digits{1}, Digits{3}, Digits{65537}, src.Make(2 * n, Shape::Random)};
      for (const Digits& x : inputs) {
        for (const Digits& c : exponents) {
          const auto xDigits = static_cast<unsigned>(x.size()), cDigits = static_cast<unsigned>(c.size());
          Mpz want;
          mpz_powm(want, Mpz(x), Mpz(c), m);
          Fenced out(2 * n + 3, 0xBADBAD);
          MontPowerPublicVarTime(out.data(), 2 * n + 3, x.data(), xDigits, c.data(), cDigits, mod);
          ASSERT_EQ(out.Value(), want.ToDigits(2 * n + 3)) << n << " limbs, shape " << shape << "\n x " << Mpz(x).Hex()
                                                          << "\n c " << Mpz(c).Hex();
          ASSERT_TRUE(out.GuardsIntact());
          Limb form[MontLimbs], scratch[3 * MontLimbs], q[2 * MontLimbs];
          MontToForm(form, x.data(), xDigits, mod, scratch);
          MontExpPublicScalarVarTime(form, form, c.data(), cDigits, mod, q);
          Digits scalar(2 * n);
          MontFromForm(scalar.data(), 2 * n, form, mod, scratch);
          ASSERT_EQ(scalar, want.ToDigits(2 * n)) << "scalar path, " << n << " limbs";
        }
      }
    }
  }
}

namespace {

enum class Exponent { Zero, One, AllOnes, ZeroRuns, TopBitOnly, Random };
constexpr Exponent AllExponents[] = {Exponent::Zero,      Exponent::One,        Exponent::AllOnes,
                                     Exponent::ZeroRuns,  Exponent::TopBitOnly, Exponent::Random};

Digits MakeExponent(OperandSource& src, unsigned cDigits, Exponent kind) {
  Digits c(cDigits, 0);
  switch (kind) {
    case Exponent::Zero: break;
    case Exponent::One: c[0] = 1; break;
    case Exponent::AllOnes: std::fill(c.begin(), c.end(), 0xFFFFFFFFu); break;
    case Exponent::ZeroRuns:
      // A set bit, a long run of zero bits across digit boundaries, and a few bits at the bottom.
      c[cDigits - 1] = 0x80000000u;
      c[0] = src.NextDigit() & 0xFFu;
      break;
    case Exponent::TopBitOnly: c[cDigits - 1] = 1; break;
    case Exponent::Random: c = src.Make(cDigits, Shape::Random); break;
  }
  return c;
}

enum class Base { Random, AtModulus, AboveModulus, AllOnes, Zero };
constexpr Base AllBases[] = {Base::Random, Base::AtModulus, Base::AboveModulus, Base::AllOnes, Base::Zero};

Digits MakeBase(OperandSource& src, const Digits& d, Base kind) {
  const auto dDigits = static_cast<unsigned>(d.size());
  switch (kind) {
    case Base::Random: return src.Make(dDigits, Shape::Random);
    case Base::AtModulus: return d;
    case Base::AboveModulus: {
      Mpz b;
      mpz_add(b, Mpz(d), Mpz(src.Make(dDigits, Shape::Short)));
      return b.FitsIn(dDigits) ? b.ToDigits(dDigits) : src.Make(dDigits, Shape::AllOnes);
    }
    case Base::AllOnes: return src.Make(dDigits, Shape::AllOnes);
    case Base::Zero: return Digits(dDigits, 0);
  }
  return {};
}

// The kernel against the two-bit window method, with a separate result and with the result over each
// operand in turn.
void CheckAgainstReference(const Digits& b, const Digits& c, const Digits& d, const std::string& label) {
  const auto cDigits = static_cast<unsigned>(c.size()), dDigits = static_cast<unsigned>(d.size());
  Digits want(dDigits, 0xBADBAD);
  BNModExpReference(want.data(), b.data(), c.data(), cDigits, d.data(), dDigits);
  for (int alias = 0; alias < 4; ++alias) {  // apart, a = b, a = c, a = d
    const unsigned both = std::max(cDigits, dDigits);
    Fenced fa(dDigits, 0xBADBAD), fb(b, dDigits), fc(c, both), fd(d, dDigits);
    Fenced* out = alias == 0 ? &fa : alias == 1 ? &fb : alias == 2 ? &fc : &fd;
    BNModExp(out->data(), fb.data(), fc.data(), cDigits, fd.data(), dDigits);
    const Digits got = out->Value();
    ASSERT_EQ(Digits(got.begin(), got.begin() + dDigits), want)
        << label << ", alias " << alias << "\n b " << Mpz(b).Hex() << "\n c " << Mpz(c).Hex() << "\n d "
        << Mpz(d).Hex();
    ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact() && fd.GuardsIntact()) << label;
  }
}

}  // namespace

// Every modulus length from 1 to 257 digits, some with unused top digits; exponent and base kinds
// rotate with the length so that each length meets several of them. Exponents are long where the
// reference method is quick (short moduli) and short where it is slow.
TEST(MontgomeryExponentiation, MatchesTheReferenceAtEveryModulusLength) {
  OperandSource src(0xE0DD);
  unsigned turn = 0;
  for (unsigned dDigits = 1; dDigits <= ScratchDigits; ++dDigits) {
    const int cases = dDigits <= 24 ? 6 : 2;
    for (int k = 0; k < cases; ++k, ++turn) {
      const unsigned significant = turn % 5 == 4 ? src.Below(1, dDigits) : dDigits;
      const Digits d = OddModulus(src, dDigits, significant);
      const unsigned cDigits = dDigits <= 24 ? src.Below(1, 2 * dDigits) : src.Below(1, 2);
      const Exponent ek = AllExponents[turn % 6];
      const Base bk = AllBases[(turn / 6 + turn) % 5];
      const Digits c = MakeExponent(src, cDigits, ek);
      const Digits b = MakeBase(src, d, bk);
      CheckAgainstReference(b, c, d, "modulus of " + std::to_string(dDigits) + " digits (" +
                                         std::to_string(significant) + " significant), exponent kind " +
                                         std::to_string(static_cast<int>(ek)) + ", base kind " +
                                         std::to_string(static_cast<int>(bk)));
    }
  }
}

// Key-sized moduli in the component's 132-digit arrays, with exponents as long as the modulus: against
// GMP, as the reference method would take too long here.
TEST(MontgomeryExponentiation, KeySizedModuliWithFullExponentsMatchGmp) {
  constexpr unsigned ArrayDigits = 132;
  OperandSource src(0x2048);
  for (unsigned significant : {16u, 32u, 64u, 65u, 129u}) {
    const Digits d = OddModulus(src, ArrayDigits, significant);
    const Digits b = src.Make(ArrayDigits, Shape::Random);  // far above the modulus
    Digits c = src.Make(ArrayDigits, Shape::Random);
    std::fill(c.begin() + significant, c.end(), 0);
    Mpz want;
    mpz_powm(want, Mpz(b), Mpz(c), Mpz(d));
    Fenced a(ArrayDigits, 0xBADBAD), over(b, ArrayDigits);
    BNModExp(a.data(), b.data(), c.data(), ArrayDigits, d.data(), ArrayDigits);
    BNModExp(over.data(), over.data(), c.data(), ArrayDigits, d.data(), ArrayDigits);
    EXPECT_EQ(a.Value(), want.ToDigits(ArrayDigits)) << significant << " significant digits";
    EXPECT_EQ(over.Value(), want.ToDigits(ArrayDigits)) << significant << " significant digits, over b";
    EXPECT_TRUE(a.GuardsIntact() && over.GuardsIntact());
  }
}
