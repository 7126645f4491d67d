// Modular exponentiation, inverse and gcd, checked against GMP on seeded random operands (including the
// work-area limit and the component's 132-digit arrays), with every allowed aliasing, and on tables of
// boundary cases (the exponentiation's through each of its paths).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bignum/BigNum.h"
#include "bignum/BigNumInternal.h"
#include "bignum/Montgomery.h"
#include "support/DigitsGmp.h"

using namespace Rsa;
using Testing::Digits;
using Testing::Fenced;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

constexpr unsigned Single = ScratchDigits;

// A modulus of dDigits digits with `significant` of them in use; odd or even as asked.
Digits MakeModulus(OperandSource& src, unsigned dDigits, unsigned significant, bool odd) {
  Digits d = src.Make(dDigits, Shape::Random);
  std::fill(d.begin() + significant, d.end(), 0);
  if (significant > 0 && d[significant - 1] == 0) d[significant - 1] = 1;
  d[0] = odd ? d[0] | 1 : d[0] & ~1u;
  if (Mpz(d).Sign() == 0) d[0] = 2;
  return d;
}

// The expected power: exponent zero gives 1 without reduction, everything else as GMP computes it.
Digits ExpectedPower(const Digits& b, const Digits& c, const Digits& d) {
  const auto n = static_cast<unsigned>(d.size());
  if (Mpz(c).Sign() == 0) return Mpz(1).ToDigits(n);
  Mpz r;
  mpz_powm(r, Mpz(b), Mpz(c), Mpz(d));
  return r.ToDigits(n);
}

// One exponentiation with a separate result, repeated with the result over each operand in turn (or,
// for the long ones, over the one operand given by onlyAlias).
void CheckModExp(const Digits& b, const Digits& c, const Digits& d, const char* label, int onlyAlias = 0) {
  const auto cDigits = static_cast<unsigned>(c.size()), dDigits = static_cast<unsigned>(d.size());
  const Digits want = ExpectedPower(b, c, d);
  for (int alias = 0; alias < 4; ++alias) {  // apart, a = b, a = c, a = d
    if (onlyAlias != 0 && alias != 0 && alias != onlyAlias) continue;
    const unsigned both = std::max(cDigits, dDigits);
    Fenced fa(dDigits, 0xBADBAD), fb(b, dDigits), fc(c, both), fd(d, dDigits);
    Fenced* out = alias == 0 ? &fa : alias == 1 ? &fb : alias == 2 ? &fc : &fd;
    BNModExp(out->data(), fb.data(), fc.data(), cDigits, fd.data(), dDigits);
    const Digits got = out->Value();
    ASSERT_EQ(Digits(got.begin(), got.begin() + dDigits), want)
        << label << " alias " << alias << "\n b " << Mpz(b).Hex() << "\n c " << Mpz(c).Hex() << "\n d "
        << Mpz(d).Hex();
    ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact() && fd.GuardsIntact()) << label;
  }
}

Digits MakeExponent(OperandSource& src, unsigned cDigits, int kind) {
  switch (kind) {
    case 0: {  // top digit 1: one bit pair in the top digit
      Digits c = src.Make(cDigits, Shape::Random);
      c[cDigits - 1] = 1;
      return c;
    }
    case 1: return src.Make(cDigits, Shape::Sparse);
    case 2: return src.Make(cDigits, Shape::Short);
    default: return src.Make(cDigits, Shape::Random);
  }
}

}  // namespace

TEST(BNModExp, MatchesGmpForSmallModuli) {
  OperandSource src(0xE4B0);
  for (int round = 0; round < 600; ++round) {
    const unsigned dDigits = src.Below(1, 6);
    const Digits d = MakeModulus(src, dDigits, src.Below(1, dDigits), round % 2 == 0);
    const Digits b = src.Make(dDigits, src.AnyShape());  // often not below d
    const Digits c = MakeExponent(src, src.Below(1, 4), round % 5);
    CheckModExp(b, c, d, "small");
  }
}

TEST(BNModExp, MatchesGmpForKeySizedAndLimitModuli) {
  OperandSource src(0xE4B1);
  struct Size {
    unsigned dDigits, significant, cDigits;
  };
  // 2048-bit moduli in 132-digit arrays as the component passes them, full-length exponents, and the
  // 257-digit limit with short exponents.
  const Size sizes[] = {{16, 16, 16}, {32, 32, 4}, {64, 64, 64}, {132, 64, 132}, {132, 32, 2},
                        {Single, Single, 1}, {Single, Single, 2}, {Single, 200, 1}};
  int round = 0;
  for (const Size& s : sizes) {
    for (bool odd : {true, false}) {
      const Digits d = MakeModulus(src, s.dDigits, s.significant, odd);
      Digits b = src.Make(s.dDigits, Shape::Random);
      std::fill(b.begin() + s.significant, b.end(), 0);
      Digits c = MakeExponent(src, s.cDigits, round++ % 4);
      if (s.cDigits > s.significant) std::fill(c.begin() + s.significant, c.end(), 0);
      CheckModExp(b, c, d, odd ? "odd" : "even", 1 + round % 3);
    }
  }
}

TEST(BNModInv, MatchesGmpForCoprimeOperands) {
  OperandSource src(0x1117);
  for (int round = 0; round < 300; ++round) {
    const unsigned n = round < 6 ? Single - round % 2 * 125 : src.Below(1, 40);
    const Digits c = MakeModulus(src, n, round % 3 == 0 ? src.Below(1, n) : n, round % 2 == 0);
    Digits b;
    Mpz g;
    for (int attempt = 0; attempt == 0 || g != Mpz(1); ++attempt) {
      // b above c is allowed; a fixed all-ones shape may share a factor with c, so retries are uniform.
      b = src.Make(n, round % 4 == 0 && attempt == 0 ? Shape::TopOnes : Shape::Random);
      mpz_gcd(g, Mpz(b), Mpz(c));
    }
    if (Mpz(c) == Mpz(1)) continue;
    Mpz want;
    mpz_invert(want, Mpz(b), Mpz(c));
    for (int alias = 0; alias < 3; ++alias) {  // apart, a = b, a = c
      Fenced fa(n, 0xBADBAD), fb(b, n), fc(c, n);
      Fenced* out = alias == 0 ? &fa : alias == 1 ? &fb : &fc;
      BNModInv(out->data(), fb.data(), fc.data(), n);
      ASSERT_EQ(out->Value(), want.ToDigits(n)) << "round " << round << " alias " << alias << " b "
                                                << Mpz(b).Hex() << " c " << Mpz(c).Hex();
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
    }
  }
}

TEST(BNGcd, MatchesGmpWithCommonFactorsZerosAndAliasing) {
  OperandSource src(0x6CD);
  for (int round = 0; round < 300; ++round) {
    const unsigned n = round < 4 ? Single : src.Below(1, 40);
    // b = g*x and c = g*y, so the gcd is at least g, which may be large.
    const unsigned gDigits = src.Below(1, n), rest = n - gDigits;
    const Mpz g(src.Make(gDigits, Shape::Random));
    Mpz b(src.Make(rest, rest == 0 ? Shape::Zero : src.AnyShape()));
    Mpz c(src.Make(rest, rest == 0 ? Shape::Zero : src.AnyShape()));
    if (round % 3 != 0) { mpz_mul(b, b, g); mpz_mul(c, c, g); }
    if (round % 11 == 0) c = b;
    if (round % 13 == 0) c = Mpz(0);
    Mpz want;
    mpz_gcd(want, b, c);
    const Digits bd = b.ToDigits(n), cd = c.ToDigits(n);
    for (int alias = 0; alias < 3; ++alias) {
      Fenced fa(n, 0xBADBAD), fb(bd, n), fc(cd, n);
      Fenced* out = alias == 0 ? &fa : alias == 1 ? &fb : &fc;
      BNGcd(out->data(), fb.data(), fc.data(), n);
      ASSERT_EQ(out->Value(), want.ToDigits(n)) << "round " << round << " alias " << alias;
      ASSERT_TRUE(fa.GuardsIntact() && fb.GuardsIntact() && fc.GuardsIntact());
    }
  }
}

// The exponentiation's three paths: the two-bit window method over reduced products (the reference,
// which even moduli use), the Montgomery path (odd moduli only) and the dispatcher that chooses between
// them. Every one must give the same value.
using ModExpFn = void (*)(Digit*, const Digit*, const Digit*, unsigned, const Digit*, unsigned);
struct ModExpPath {
  const char* name;
  ModExpFn run;
  bool oddOnly;
};
const ModExpPath ModExpPaths[] = {
    {"reference", &BNModExpReference, false},
    {"Montgomery", &BNModExpMontgomery, true},
    {"dispatcher", &BNModExp, false},
};

void CheckEveryPath(const Digits& b, const Digits& c, const Digits& d, const Digits& want, const std::string& name) {
  const auto cDigits = static_cast<unsigned>(c.size()), dDigits = static_cast<unsigned>(d.size());
  for (const ModExpPath& path : ModExpPaths) {
    if (path.oddOnly && (d[0] & 1) == 0) continue;
    Fenced a(dDigits, 0xBADBAD);
    path.run(a.data(), b.data(), c.data(), cDigits, d.data(), dDigits);
    EXPECT_EQ(a.Value(), want) << name << ", " << path.name;
    EXPECT_TRUE(a.GuardsIntact()) << name << ", " << path.name;
  }
}

// Boundary cases, each with its hand-worked value, then every base at and around the modulus (0, 1,
// m - 1, m, above m) with exponents 0, 1 and all ones, at modulus lengths from 1 digit to 132 (odd and
// even moduli), against GMP; every case through every path.
TEST(ModularEdges, ExponentiationTable) {
  const Digit ones = 0xFFFFFFFFu;
  struct Case {
    const char* name;
    Digits b, c, d, want;
  };
  const Case cases[] = {
      {"exponent zero gives 1", {5, 6}, {0, 0}, {7, 0}, {1, 0}},
      {"exponent zero of one digit gives 1", {5, 6}, {0}, {7, 0}, {1, 0}},
      {"exponent zero gives 1 unreduced, also modulo 1", {5}, {0}, {1}, {1}},
      {"exponent zero of two digits gives 1 unreduced modulo 1", {5}, {0, 0}, {1}, {1}},
      {"empty exponent gives 1", {5}, {}, {7}, {1}},
      {"exponent one reduces the base", {20, 0}, {1}, {7, 0}, {6, 0}},
      {"exponent one reduces a base of all ones", {ones, ones}, {1}, {0, 1}, {ones, 0}},
      {"base zero", {0, 0}, {3, 9}, {11, 0}, {0, 0}},
      {"base equal to the modulus", {7, 0}, {3}, {7, 0}, {0, 0}},
      {"modulus one with a non-zero exponent", {5}, {3}, {1}, {0}},
      {"modulus one with an exponent of all ones", {5}, {ones}, {1}, {0}},
      {"modulus 2^64 - 1 with base 2^64 - 2", {ones - 1, ones}, {3}, {ones, ones}, {ones - 1, ones}},
      {"Fermat: 2^(p-1) mod p for p = 2^31 - 1", {2}, {0x7FFFFFFEu}, {0x7FFFFFFFu}, {1}},
      // 3 has order 4 modulo 5, so these depend only on the exponent modulo 4.
      {"exponent 2^32: one pair in the top digit, sixteen in the zero digit", {3}, {0, 1}, {5}, {1}},
      {"exponent 2^32 + 5", {3}, {5, 1}, {5}, {3}},
      {"exponent with a leading zero digit", {3}, {2, 0}, {5}, {4}},
      {"exponent 2^64 - 1", {3}, {ones, ones}, {5}, {2}},
  };
  for (const Case& k : cases) CheckEveryPath(k.b, k.c, k.d, k.want, k.name);

  OperandSource src(0xED6E);
  for (unsigned dDigits : {1u, 2u, 3u, 8u, 16u, 17u, 31u, 32u, 33u, 64u, 65u, 128u, 132u}) {  // 132: the component's arrays
    for (bool odd : {true, false}) {
      const Digits d = MakeModulus(src, dDigits, dDigits, odd);
      Mpz below, above;
      mpz_sub_ui(below, Mpz(d), 1);
      mpz_add(above, Mpz(d), Mpz(src.Make(dDigits, Shape::Short)));
      const Digits bases[] = {Digits(dDigits, 0), Mpz(1).ToDigits(dDigits), below.ToDigits(dDigits), d,
                              above.FitsIn(dDigits) ? above.ToDigits(dDigits) : Digits(dDigits, ones)};
      // All ones over a few digits: a long run of full windows, kept short where the reference is slow.
      const Digits exponents[] = {Digits(1, 0), Digits(1, 1), Digits(std::min(dDigits, 4u), ones)};
      for (const Digits& b : bases)
        for (const Digits& c : exponents)
          CheckEveryPath(b, c, d, ExpectedPower(b, c, d),
                         std::to_string(dDigits) + " digits, " + (odd ? "odd" : "even") + " modulus " + Mpz(d).Hex() +
                             ", base " + Mpz(b).Hex() + ", exponent " + Mpz(c).Hex());
    }
  }
}

TEST(ModularEdges, InverseAndGcdTable) {
  struct Case {
    const char* name;
    Digits b, c, want;
  };
  const Case inverses[] = {
      {"inverse of 1", {1, 0}, {7, 0}, {1, 0}},
      {"inverse of 3 mod 7", {3}, {7}, {5}},
      {"inverse of a value above the modulus", {10}, {7}, {5}},
      {"inverse modulo 2^32", {3, 0}, {0, 1}, {0xAAAAAAABu, 0}},
      {"inverse of the modulus less one", {6, 0}, {7, 0}, {6, 0}},
  };
  for (const Case& k : inverses) {
    const auto n = static_cast<unsigned>(k.c.size());
    Fenced a(n, 0xBADBAD);
    BNModInv(a.data(), k.b.data(), k.c.data(), n);
    EXPECT_EQ(a.Value(), k.want) << k.name;
  }
  const Case gcds[] = {
      {"gcd(b, 0)", {12, 5}, {0, 0}, {12, 5}},
      {"gcd(0, c)", {0, 0}, {12, 5}, {12, 5}},
      {"gcd(0, 0)", {0, 0}, {0, 0}, {0, 0}},
      {"gcd(b, b)", {9, 9}, {9, 9}, {9, 9}},
      {"coprime", {35}, {12}, {1}},
      {"common factor across digits", {0, 6}, {0, 4}, {0, 2}},
  };
  for (const Case& k : gcds) {
    const auto n = static_cast<unsigned>(k.c.size());
    Fenced a(n, 0xBADBAD);
    BNGcd(a.data(), k.b.data(), k.c.data(), n);
    EXPECT_EQ(a.Value(), k.want) << k.name;
  }
}
