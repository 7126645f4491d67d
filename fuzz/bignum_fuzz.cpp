// The arithmetic against GMP on operands the fuzzer chooses, within each routine's contract: the first
// byte picks the routine, the next ones the digit counts, the aliasing and the operand shapes; operand
// digits come from the input (or, for a shape byte that asks for it, from a generator seeded by the
// input, so long operands need no long input). Results are written into fenced runs, so a digit written
// outside its run shows up as well as a wrong value.
#include <gmp.h>

#include <cstdint>
#include <vector>

#include "bignum/BigNum.h"
#include "bignum/Montgomery.h"
#include "fuzz/FuzzCheck.h"
#include "support/DigitsGmp.h"

namespace {

using Rsa::Digit;
using Testing::Digits;
using Testing::Fenced;
using Testing::Mpz;

// One operand of `digits` digits, shaped by one input byte.
Digits Operand(Fuzz::Reader& in, unsigned digits) {
  const std::uint8_t shape = in.Byte();
  if (shape < 128) {  // taken from the input, zero past its end
    Digits a(digits, 0);
    const unsigned significant = shape < 64 ? digits : digits * (shape - 64) / 64;
    for (unsigned i = 0; i < significant; ++i) a[i] = in.Word();
    return a;
  }
  Testing::OperandSource source(in.Word());
  return source.Make(digits, Testing::AllShapes[shape % 6]);
}

// A count from 1 to limit, mostly small so that runs stay quick, the large ones up to the limit itself
// still reachable.
unsigned CountUpTo(Fuzz::Reader& in, unsigned limit) {
  const unsigned range = in.Byte(), value = in.Byte() << 8 | in.Byte();
  const unsigned cap = range < 160 ? 16 : range < 240 ? 72 : limit;
  return 1 + value % (cap < limit ? cap : limit);
}

Mpz Pow2(unsigned bits) {
  Mpz p;
  mpz_setbit(p, bits);
  return p;
}

// x mod 2^(32 digits).
Mpz Low(const Mpz& x, unsigned digits) {
  Mpz r;
  mpz_fdiv_r_2exp(r, x, 32ul * digits);
  return r;
}

void Expect(Fenced& got, const Mpz& want) {
  FUZZ_CHECK(got.GuardsIntact());
  FUZZ_CHECK(Mpz(got.Value()) == want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Reader in(data, size);
  const std::uint8_t routine = in.Byte();
  const std::uint8_t alias = in.Byte();
  constexpr unsigned S = Rsa::ScratchDigits;

  switch (routine % 13) {
    case 0: {  // BNAdd, BNSub, with the result in place of an operand or apart
      const unsigned n = CountUpTo(in, 300);
      const Digits b = Operand(in, n), c = Operand(in, n);
      Fenced a(b, n);
      Fenced cc(c, n);
      const Digit* bp = alias & 1 ? a.data() : b.data();
      const bool add = alias & 2;
      const Digit carry = add ? Rsa::BNAdd(a.data(), bp, alias & 4 ? cc.data() : c.data(), n)
                              : Rsa::BNSub(a.data(), bp, alias & 4 ? cc.data() : c.data(), n);
      Mpz want;
      if (add) mpz_add(want, Mpz(b), Mpz(c)); else mpz_sub(want, Mpz(b), Mpz(c));
      const Digit wantCarry = add ? Digit(mpz_cmp(want, Pow2(32 * n)) >= 0) : Digit(want.Sign() < 0);
      mpz_fdiv_r_2exp(want, want, 32ul * n);
      Expect(a, want);
      FUZZ_CHECK(carry == wantCarry);
      break;
    }
    case 1: {  // BNLShift, BNRShift, in place or apart; counts of 32 and more are refused
      const unsigned n = CountUpTo(in, 300);
      const unsigned shift = in.Byte() % 40;
      const Digits b = Operand(in, n);
      Fenced a(n);
      const Digits before = a.Value();
      if (alias & 1) a = Fenced(b, n);
      const Digit* bp = alias & 1 ? a.data() : b.data();
      const bool left = alias & 2;
      const Digit out = left ? Rsa::BNLShift(a.data(), bp, shift, n) : Rsa::BNRShift(a.data(), bp, shift, n);
      if (shift >= 32) {
        FUZZ_CHECK(out == 0);
        Expect(a, Mpz(alias & 1 ? b : before));
        break;
      }
      Mpz full(b), want;
      if (left) {
        mpz_mul_2exp(full, full, shift);
        mpz_fdiv_q_2exp(want, full, 32ul * n);
        FUZZ_CHECK(out == mpz_get_ui(want));
        Expect(a, Low(full, n));
      } else {
        mpz_fdiv_q_2exp(want, full, shift);
        Expect(a, want);
        Mpz lost;
        mpz_fdiv_r_2exp(lost, full, shift);
        mpz_mul_2exp(lost, lost, 32 - shift);
        FUZZ_CHECK(out == Digit(mpz_get_ui(lost)));
      }
      break;
    }
    case 2: {  // BNMult up to the limit, the product over 2n digits
      const unsigned n = CountUpTo(in, S);
      const Digits b = Operand(in, n), c = alias & 1 ? b : Operand(in, n);
      Fenced a(2 * n);
      Rsa::BNMult(a.data(), b.data(), c.data(), n);
      Mpz want;
      mpz_mul(want, Mpz(b), Mpz(c));
      Expect(a, want);
      break;
    }
    case 3: {  // BNDiv: quotient and remainder, a zero divisor writes nothing
      const unsigned cn = CountUpTo(in, 2 * S);
      const unsigned dn = CountUpTo(in, S + 8);
      const Digits c = Operand(in, cn);
      Digits d = Operand(in, dn);
      for (unsigned i = S; i < dn; ++i) d[i] = 0;  // at most 257 significant divisor digits
      Fenced q(cn), r(dn);
      const Digits qBefore = q.Value(), rBefore = r.Value();
      Rsa::BNDiv(q.data(), r.data(), c.data(), cn, d.data(), dn);
      if (Mpz(d).Sign() == 0) {
        Expect(q, Mpz(qBefore));
        Expect(r, Mpz(rBefore));
        break;
      }
      Mpz wq, wr;
      mpz_fdiv_qr(wq, wr, Mpz(c), Mpz(d));
      Expect(q, wq);
      Expect(r, wr);
      break;
    }
    case 4: {  // BNMod, the result in place of the dividend or apart
      const unsigned bn = CountUpTo(in, 2 * S);
      const unsigned cn = CountUpTo(in, S);
      const Digits b = Operand(in, bn), c = Operand(in, cn);
      Fenced a(cn);
      const Digits before = a.Value();
      Rsa::BNMod(a.data(), b.data(), bn, c.data(), cn);
      if (Mpz(c).Sign() == 0) {
        Expect(a, Mpz(before));
        break;
      }
      Mpz want;
      mpz_fdiv_r(want, Mpz(b), Mpz(c));
      Expect(a, want);
      break;
    }
    case 5: {  // BNModMult with operands not below the modulus
      const unsigned n = CountUpTo(in, S);
      const Digits b = Operand(in, n), c = Operand(in, n), d = Operand(in, n);
      if (Mpz(d).Sign() == 0) break;
      Fenced a(b, n);
      Rsa::BNModMult(a.data(), alias & 1 ? a.data() : b.data(), c.data(), d.data(), n);
      Mpz want;
      mpz_mul(want, Mpz(b), Mpz(c));
      mpz_fdiv_r(want, want, Mpz(d));
      Expect(a, want);
      break;
    }
    case 6: {  // BNModExp: long exponents only on small moduli, so one run stays short
      const unsigned dn = CountUpTo(in, S);
      const unsigned cn = CountUpTo(in, dn > 64 ? 4 : 66);
      const Digits b = Operand(in, dn), c = Operand(in, cn), d = Operand(in, dn);
      if (Mpz(d).Sign() == 0) break;
      Fenced a(dn);
      Rsa::BNModExp(a.data(), b.data(), c.data(), cn, d.data(), dn);
      Mpz want;
      if (Mpz(c).Sign() == 0) {
        want = Mpz(1);  // exponent zero gives 1, not reduced
      } else {
        mpz_powm(want, Mpz(b), Mpz(c), Mpz(d));
      }
      Expect(a, want);
      break;
    }
    case 7: {  // BNModInv for coprime operands
      const unsigned n = CountUpTo(in, S);
      const Digits b = Operand(in, n), c = Operand(in, n);
      Mpz g;
      mpz_gcd(g, Mpz(b), Mpz(c));
      const Mpz mc(c);
      if (mpz_cmp_ui(g.get(), 1) != 0 || mpz_cmp_ui(mc.get(), 1) <= 0) break;
      Fenced a(n);
      Rsa::BNModInv(a.data(), b.data(), c.data(), n);
      Mpz want;
      FUZZ_CHECK(mpz_invert(want, Mpz(b), Mpz(c)) != 0);
      Expect(a, want);
      break;
    }
    case 8: {  // BNGcd
      const unsigned n = CountUpTo(in, S);
      const Digits b = Operand(in, n), c = alias & 1 ? b : Operand(in, n);
      Fenced a(n);
      Rsa::BNGcd(a.data(), b.data(), c.data(), n);
      Mpz want;
      mpz_gcd(want, Mpz(b), Mpz(c));
      Expect(a, want);
      break;
    }
    case 9: {  // comparisons and sizes
      const unsigned n = CountUpTo(in, 600) - 1;
      const Digits b = Operand(in, n), c = alias & 1 ? b : Operand(in, n);
      const Mpz mb(b), mc(c);
      const int cmp = mpz_cmp(mb, mc);
      FUZZ_CHECK(Rsa::BNCmp(b.data(), c.data(), n) == (cmp > 0) - (cmp < 0));
      FUZZ_CHECK(Rsa::BNIsZero(b.data(), n) == (mb.Sign() == 0));
      const unsigned bits = mb.Sign() == 0 ? 0 : unsigned(mpz_sizeinbase(mb, 2));
      FUZZ_CHECK(Rsa::BNBits(b.data(), n) == bits);
      FUZZ_CHECK(Rsa::BNDigits(b.data(), n) == (bits + 31) / 32);
      if (n > 0) FUZZ_CHECK(Rsa::DigitBits(b[0]) == (b[0] == 0 ? 0 : unsigned(mpz_sizeinbase(Mpz(b.data(), 1), 2))));
      break;
    }
    case 10: {  // BNAddDigitMult, BNSubDigitMult
      const unsigned n = CountUpTo(in, 300);
      const Digit c = in.Word();
      const Digits b = Operand(in, n), d = Operand(in, n);
      Fenced a(b, n);
      const Digit* bp = alias & 1 ? a.data() : b.data();
      const bool add = alias & 2;
      const Digit top = add ? Rsa::BNAddDigitMult(a.data(), bp, c, d.data(), n)
                            : Rsa::BNSubDigitMult(a.data(), bp, c, d.data(), n);
      Mpz product;
      mpz_mul_ui(product, Mpz(d), c);
      Mpz want;
      if (add) {
        mpz_add(want, Mpz(b), product);
        Mpz high;
        mpz_fdiv_q_2exp(high, want, 32ul * n);
        FUZZ_CHECK(top == Digit(mpz_get_ui(high)));
        Expect(a, Low(want, n));
      } else {
        // b - c*d = low - top * 2^(32n), with low the n-digit result.
        mpz_sub(want, Mpz(b), product);
        Mpz low = Low(want, n), high;
        mpz_sub(high, low, want);
        mpz_fdiv_q_2exp(high, high, 32ul * n);
        FUZZ_CHECK(top == Digit(mpz_get_ui(high)));
        Expect(a, low);
      }
      break;
    }
    case 11: {  // DigitMult, DigitDiv (b[1] < c, c >= 2^16), BNAssign2Exp
      const Digit x = in.Word(), y = in.Word() | 0x10000u;
      Digit p[2];
      Rsa::DigitMult(p, x, y);
      FUZZ_CHECK((std::uint64_t(p[1]) << 32 | p[0]) == std::uint64_t(x) * y);
      const Digit b[2] = {in.Word(), in.Word() % y};
      Digit q = 0;
      Rsa::DigitDiv(&q, b, y);
      FUZZ_CHECK(q == Digit((std::uint64_t(b[1]) << 32 | b[0]) / y));
      const unsigned n = CountUpTo(in, 300);
      const unsigned k = in.Word() % (32 * n + 40);
      Fenced a(n);
      Rsa::BNAssign2Exp(a.data(), k, n);
      Expect(a, k < 32 * n ? Pow2(k) : Mpz(0ul));
      break;
    }
    case 12: {  // the Montgomery product and square, the processor's kernel and the portable one
      const unsigned n = CountUpTo(in, S);
      Digits d = Operand(in, n);
      d[0] |= 1;
      if (d[n - 1] == 0) d[n - 1] = 1;
      const Mpz m(d);
      Rsa::MontModulus mod;
      Rsa::MontSetup(mod, d.data(), n);
      FUZZ_CHECK(mod.limbs == (n + 1) / 2);
      Mpz x(Operand(in, n)), y(Operand(in, n));
      mpz_fdiv_r(x, x, m);
      mpz_fdiv_r(y, y, m);
      Rsa::Limb a[Rsa::MontLimbs] = {}, b[Rsa::MontLimbs] = {}, r[Rsa::MontLimbs + 1], q[2 * Rsa::MontLimbs];
      std::size_t count = 0;
      mpz_export(a, &count, -1, sizeof(Rsa::Limb), 0, 0, x);
      mpz_export(b, &count, -1, sizeof(Rsa::Limb), 0, 0, y);
      // x*y/R mod m, R = 2^(64 limbs)
      Mpz want, rInv, big;
      mpz_setbit(big, 64ul * mod.limbs);
      FUZZ_CHECK(mpz_invert(rInv, big, m) != 0 || mpz_cmp_ui(m.get(), 1) == 0);
      auto check = [&](const Mpz& expected, auto&& kernel) {
        r[mod.limbs] = 0x5EC7E7u;  // guard limb
        kernel();
        FUZZ_CHECK(r[mod.limbs] == 0x5EC7E7u);
        Mpz got;
        mpz_import(got, mod.limbs, -1, sizeof(Rsa::Limb), 0, 0, r);
        FUZZ_CHECK(got == expected);
      };
      mpz_mul(want, x, y);
      mpz_mul(want, want, rInv);
      mpz_fdiv_r(want, want, m);
      check(want, [&] { Rsa::MontProduct(r, a, b, mod, q); });
      check(want, [&] { Rsa::MontProductPortable(r, a, b, mod, q); });
      mpz_mul(want, x, x);
      mpz_mul(want, want, rInv);
      mpz_fdiv_r(want, want, m);
      check(want, [&] { Rsa::MontSquare(r, a, mod, q); });
      check(want, [&] { Rsa::MontSquarePortable(r, a, mod, q); });
      break;
    }
  }
  return 0;
}
