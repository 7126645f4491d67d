// The prime search: small-prime table, windowed sieve, Fermat and Miller-Rabin tests, statistics.
// Every expectation is checked against GMP.
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "rsa/PrimeFactory.h"
#include "support/GmpReference.h"
#include "support/ScriptedRandom.h"

using Rsa::BigNum;
using Rsa::TPrimeFactory;

namespace {

using Testing::Mpz;

Mpz ToMpz(const BigNum& x) { return Testing::MpzOf(x); }
BigNum ToBigNum(const Mpz& v) { return Testing::BigNumOf(v); }

// Product of the primes below 6000: an integer survives the sieve when it shares no factor with it.
const Mpz& SmallPrimeProduct() {
  static const Mpz product = [] {
    Mpz r(1ul), p(1ul);
    for (;;) {
      mpz_nextprime(p.get(), p.get());
      if (mpz_cmp_ui(p.get(), Rsa::SmallPrimeLimit) >= 0) break;
      mpz_mul(r.get(), r.get(), p.get());
    }
    return r;
  }();
  return product;
}

bool SurvivesSieve(const Mpz& x) {
  Mpz g;
  mpz_gcd(g.get(), x.get(), SmallPrimeProduct().get());
  return mpz_cmp_ui(g.get(), 1) == 0;
}

bool PassesFermat(const Mpz& x) {
  Mpz m, t, b;
  mpz_sub_ui(m.get(), x.get(), 1);
  for (unsigned long base : {2ul, 3ul}) {
    mpz_set_ui(b.get(), base);
    mpz_powm(t.get(), b.get(), m.get(), x.get());
    if (mpz_cmp_ui(t.get(), 1) != 0) return false;
  }
  return true;
}

// What FindPrime must report from a start: the first prime at or above it, and the counters of the
// scan from start to that prime (every position, the sieve survivors, those passing Fermat).
struct Expected {
  Mpz Result;
  long Candidates = 0, Fermat = 0, MillerRabin = 0;
};

Expected Oracle(const Mpz& start) {
  Expected r;
  Mpz before;
  mpz_sub_ui(before.get(), start.get(), 1);
  mpz_nextprime(r.Result.get(), before.get());
  for (Mpz x(start); mpz_cmp(x.get(), r.Result.get()) <= 0; mpz_add_ui(x.get(), x.get(), 1)) {
    ++r.Candidates;
    if (!SurvivesSieve(x)) continue;
    ++r.Fermat;
    if (PassesFermat(x)) ++r.MillerRabin;
  }
  return r;
}

// The first even S above `from` where S + 1 has a factor below 6000 and S + 3 is prime.
Mpz StartThreeBelowPrime(const Mpz& from) {
  Mpz s(from);
  if (mpz_odd_p(s.get())) mpz_add_ui(s.get(), s.get(), 1);
  for (;; mpz_add_ui(s.get(), s.get(), 2)) {
    Mpz s1, s3;
    mpz_add_ui(s1.get(), s.get(), 1);
    mpz_add_ui(s3.get(), s.get(), 3);
    if (!SurvivesSieve(s1) && mpz_probab_prime_p(s3.get(), 30)) return s;
  }
}

// A prime c * 2^40 + 1, so n - 1 is divisible by 2^40 (and by 32).
Mpz PrimeOneAboveHighPowerOfTwo() {
  Mpz p;
  for (unsigned long c = (1ul << 20) + 1;; c += 2) {
    mpz_set_ui(p.get(), c);
    mpz_mul_2exp(p.get(), p.get(), 40);
    mpz_add_ui(p.get(), p.get(), 1);
    if (mpz_probab_prime_p(p.get(), 30)) return p;
  }
}

Mpz PowerOfTwo(unsigned k) {
  Mpz p;
  mpz_setbit(p.get(), k);
  return p;
}

// A fixed script of well-mixed words, so random bases are reproducible.
std::vector<std::uint32_t> MixedWords() {
  std::mt19937 gen(20240601);
  std::vector<std::uint32_t> words(5000);
  for (auto& w : words) w = gen();
  return words;
}

}  // namespace

TEST(PrimeFactory, SmallPrimeTableHoldsThePrimesBelow6000) {
  TPrimeFactory factory;
  ASSERT_EQ(factory.SmallPrimeCount(), 783);
  const std::int32_t* table = factory.SmallPrimes();
  EXPECT_EQ(std::vector<std::int32_t>(table, table + 5), (std::vector<std::int32_t>{2, 3, 5, 7, 11}));
  EXPECT_EQ(table[782], 5987);
  Mpz p(1ul);
  for (int i = 0; i < 783; ++i) {
    mpz_nextprime(p.get(), p.get());
    ASSERT_EQ(mpz_cmp_ui(p.get(), static_cast<unsigned long>(table[i])), 0) << "slot " << i;
  }
  for (int i = 783; i < Rsa::SmallPrimeSlots; ++i) EXPECT_EQ(table[i], 0) << "slot " << i;
  EXPECT_EQ(factory.CandidateCount(), 0);
  EXPECT_EQ(factory.FermatCount(), 0);
  EXPECT_EQ(factory.MillerRabinCount(), 0);
}

// Each start is chosen for the path it takes; the result and all three counters must match a scan by
// GMP from the same start.
TEST(PrimeFactory, FindPrimeReturnsTheFirstPrimeAtOrAboveTheStartWithItsStatistics) {
  struct Case {
    const char* name;
    Mpz start;
  };
  const Case cases[] = {
      {"start is itself prime", [] {
         Mpz p;
         mpz_nextprime(p.get(), PowerOfTwo(255).get());
         return p;
       }()},
      {"even start", PowerOfTwo(256)},
      {"n - 1 divisible by 2^40", PrimeOneAboveHighPowerOfTwo()},
      {"just above the largest table prime", Mpz(5988ul)},
  };

  TPrimeFactory factory;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Expected want = Oracle(c.start);
    BigNum result{};
    factory.FindPrime(ToBigNum(c.start), result);
    EXPECT_EQ(ToMpz(result).Hex(), want.Result.Hex());
    EXPECT_TRUE(mpz_odd_p(ToMpz(result).get()));
    EXPECT_EQ(factory.CandidateCount(), want.Candidates);
    EXPECT_EQ(factory.FermatCount(), want.Fermat);
    EXPECT_EQ(factory.MillerRabinCount(), want.MillerRabin);
  }
}

TEST(PrimeFactory, FindPrimeCountersForTheSmallestPath) {
  // S and S + 2 fall to the prime 2, S + 1 to its small factor; S + 3 is tested once by each test.
  const Mpz s = StartThreeBelowPrime(PowerOfTwo(300));
  TPrimeFactory factory;
  BigNum result{};
  factory.FindPrime(ToBigNum(s), result);
  Mpz s3;
  mpz_add_ui(s3.get(), s.get(), 3);
  EXPECT_EQ(ToMpz(result).Hex(), s3.Hex());
  EXPECT_EQ(factory.CandidateCount(), 4);
  EXPECT_EQ(factory.FermatCount(), 1);
  EXPECT_EQ(factory.MillerRabinCount(), 1);
}

TEST(PrimeFactory, WindowWithoutAPrimeMovesOnAndCountersAccumulate) {
  // c0ff...56a1ad and c0ff...56a1ad + 2322 are consecutive primes (a gap found with GMP), so starting
  // right after the first, the whole first window of 2000 holds no prime.
  const Mpz start("c0ffee0123456789abcdef0123456789abcdef0123456789abcdef012956a1ae");
  Mpz next;
  mpz_nextprime(next.get(), start.get());
  Mpz distance;
  mpz_sub(distance.get(), next.get(), start.get());
  ASSERT_GE(mpz_get_ui(distance.get()), 2000u) << "the first window must hold no prime";

  TPrimeFactory factory;
  BigNum result{};
  factory.FindPrime(ToBigNum(start), result);
  EXPECT_EQ(ToMpz(result).Hex(), next.Hex());
  // Positions of both windows are counted, the whole first one included.
  EXPECT_EQ(factory.CandidateCount(), long(mpz_get_ui(distance.get())) + 1);
  EXPECT_GT(factory.FermatCount(), 1);
  EXPECT_EQ(factory.MillerRabinCount(), 1);

  // A new search starts its statistics afresh.
  Mpz p;
  mpz_nextprime(p.get(), PowerOfTwo(255).get());
  factory.FindPrime(ToBigNum(p), result);
  EXPECT_EQ(factory.CandidateCount(), 1);
  EXPECT_EQ(factory.FermatCount(), 1);
  EXPECT_EQ(factory.MillerRabinCount(), 1);
}

TEST(PrimeFactory, FermatRejectsWhenEitherBaseFails) {
  // 561 = 3*11*17 is a Carmichael number: base 2 passes, base 3 shares its factor 3 and fails.
  // 9 and 15 fail at base 2 already.
  Mpz two(2ul), t;
  mpz_powm(t.get(), two.get(), Mpz(560ul).get(), Mpz(561ul).get());
  ASSERT_EQ(mpz_cmp_ui(t.get(), 1), 0);

  TPrimeFactory factory;
  for (unsigned long n : {561ul, 9ul, 15ul, 4097ul}) {
    SCOPED_TRACE(n);
    const BigNum x = ToBigNum(Mpz(n));
    const int fermat = factory.FermatCount(), millerRabin = factory.MillerRabinCount();
    EXPECT_FALSE(factory.FermatTest(x));
    EXPECT_EQ(factory.FermatCount(), fermat + 1);
    // Through IsProbablePrime, a Fermat failure ends the test: one more Fermat call, no Miller-Rabin.
    EXPECT_FALSE(factory.IsProbablePrime(x));
    EXPECT_EQ(factory.FermatCount(), fermat + 2);
    EXPECT_EQ(factory.MillerRabinCount(), millerRabin);
  }
}

TEST(PrimeFactory, MillerRabinRejectsFermatPseudoprimes) {
  // Carmichael numbers prime to 6, and strong pseudoprimes to bases 2 and 3 (1373653), 2, 3 and 5
  // (25326001), 2, 3, 5 and 7 (3215031751): all pass the Fermat test, none is prime.
  Testing::ScriptedRandom random(MixedWords());
  TPrimeFactory factory;
  for (unsigned long n : {1105ul, 1729ul, 2465ul, 2821ul, 6601ul, 8911ul, 41041ul, 75361ul, 1373653ul,
                          25326001ul, 3215031751ul}) {
    SCOPED_TRACE(n);
    const Mpz v(n);
    ASSERT_TRUE(PassesFermat(v));
    ASSERT_FALSE(mpz_probab_prime_p(v.get(), 30));
    const BigNum x = ToBigNum(v);
    EXPECT_TRUE(factory.FermatTest(x));
    const int draws = random.WordDraws;
    EXPECT_FALSE(factory.MillerRabinTest(x));
    // 132 words per trial begun; a rejection ends the trials early.
    const int used = random.WordDraws - draws;
    EXPECT_EQ(used % 132, 0);
    EXPECT_LT(used, 1320);
    EXPECT_FALSE(factory.IsProbablePrime(x));
  }
}

TEST(PrimeFactory, MillerRabinAcceptsPrimesAndDrawsTenBases) {
  // Primes with n - 1 = 2^k * r for small and large k: with k large most trials pass only when a
  // squaring reaches n - 1.
  Mpz large;
  mpz_nextprime(large.get(), PowerOfTwo(511).get());
  const Mpz primes[] = {Mpz(5987ul), Mpz(7681ul) /* 15*2^9 + 1 */, PrimeOneAboveHighPowerOfTwo(), large,
                        Mpz(4294967291ul)};
  Testing::ScriptedRandom random(MixedWords());
  TPrimeFactory factory;
  for (const Mpz& p : primes) {
    SCOPED_TRACE(p.Hex());
    ASSERT_TRUE(mpz_probab_prime_p(p.get(), 30));
    const BigNum x = ToBigNum(p);
    const int draws = random.WordDraws;
    EXPECT_TRUE(factory.FermatTest(x));
    EXPECT_TRUE(factory.MillerRabinTest(x));
    EXPECT_EQ(random.WordDraws - draws, 1320);
    EXPECT_TRUE(factory.IsProbablePrime(x));
  }
}

// The search's shortcuts give exactly what the plain forms give: a remainder by division, and a base
// halved one bit at a time until it is not above n.
TEST(PrimeSearchShortcuts, MatchThePlainForms) {
  std::mt19937 gen(20261209);
  for (int round = 0; round < 300; ++round) {
    BigNum x{}, n{};
    const unsigned xDigits = gen() % (Rsa::BigNumDigits + 1), nDigits = 1 + gen() % 64;
    for (unsigned i = 0; i < xDigits; ++i) x[i] = gen();
    for (unsigned i = 0; i < nDigits; ++i) n[i] = gen();
    if (round % 7 == 0) n[nDigits - 1] |= 0x80000000u;  // top bit set: the extra halving is common

    const Rsa::Digit p = round == 0 ? 2 : 2 + gen() % 5998;
    BigNum divisor{}, quotient{}, remainder{};
    divisor[0] = p;
    Rsa::BNDiv(quotient, remainder, x, Rsa::BigNumDigits, divisor, Rsa::BigNumDigits);
    EXPECT_EQ(Rsa::DigitRemainder(x, p), remainder[0]) << "round " << round;
    EXPECT_EQ(Rsa::DigitRemainder(x, p, xDigits), remainder[0]) << "round " << round;

    BigNum slow = x, fast = x;
    while (Rsa::BNCmp(slow, n, Rsa::BigNumDigits) > 0) Rsa::BNRShift(slow, slow, 1, Rsa::BigNumDigits);
    Rsa::HalveUntilNotAbove(fast, n);
    EXPECT_EQ(Rsa::BNCmp(fast, slow, Rsa::BigNumDigits), 0) << "round " << round;
  }
}
