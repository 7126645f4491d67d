#include "rsa/PrimeFactory.h"

#include "bignum/ConstantTime.h"
#include "bignum/Declassify.h"
#include "bignum/Montgomery.h"
#include "host/core/Random.h"

namespace Rsa {

// The search works on secret values throughout: the start value comes from the random generator, and
// the prime found is half of the private key. No branch and no memory address depends on a candidate,
// with two kinds of exception, each marked with Declassify: the outcome of each check on a candidate
// (it has a small factor, it fails a test, it passes), and the candidate's digit count, which the key
// size fixes. A rejected candidate is thrown away, so its outcome tells nothing about the prime kept
// beyond that the search went on. The statistics counters follow those public outcomes alone.

namespace {

using ConstantTime::Declassify;

// Fixed bases of the Fermat test, in the order they are tried.
constexpr std::int32_t FermatBases[2] = {2, 3};
// The Miller-Rabin squarings run a fixed number of steps, enough for any n - 1 with fewer than this many
// trailing zero bits. A candidate with more (one in 2^32) takes a slower path that reveals that much.
constexpr unsigned FixedTrailingZeros = 32;

// x := the single-digit value v.
void AssignDigit(BigNum& x, Digit v) {
  BNAssignZero(x, BigNumDigits);
  x[0] = v;
}

// Wipes a work value that held a candidate prime or a value derived from one.
template <typename T>
void Wipe(T& x) { BNWipe(&x, 0, sizeof x); }

// All ones when x < y, for values below 2^31.
std::uint32_t MaskBelow(std::uint32_t x, std::uint32_t y) {
  return ConstantTime::ValueBarrier(std::uint32_t(0) - ((x - y) >> 31));
}

// Number of significant bits of one digit, in constant time.
unsigned DigitBitsConstTime(Digit x) {
  unsigned bits = 0;
  for (unsigned b = 0; b < 32; ++b) bits += (x >> b) != 0;
  return bits;
}

// Number of significant bits of x, in constant time.
unsigned BitsConstTime(const BigNum& x) {
  const unsigned digits = BNDigitsConstTime(x, BigNumDigits);
  Digit top = 0;
  for (unsigned i = 0; i < BigNumDigits; ++i) top |= x[i] & ConstantTime::MaskEqual<Digit>(i + 1, digits);
  return 32 * digits - 32 + DigitBitsConstTime(top) + 32 * (digits == 0);
}

// x := x div 2^s for a secret s below 2^13, one masked shift per bit of s: whole digits for the high
// bits of s, bits within a digit for the low ones.
void ShiftRightSecret(BigNum& x, unsigned s) {
  static_assert(32 * BigNumDigits < (1u << 13), "shift counts of a BigNum fit in 13 bits");
  BigNum shifted;
  for (unsigned bit = 12; bit >= 5; --bit) {
    const unsigned whole = 1u << (bit - 5);
    const Digit mask = ConstantTime::MaskFromBit<Digit>((s >> bit) & 1);
    for (unsigned i = 0; i < BigNumDigits; ++i) {
      const Digit moved = i + whole < BigNumDigits ? x[i + whole] : 0;
      x[i] = ConstantTime::Select(mask, moved, x[i]);
    }
  }
  for (unsigned bit = 0; bit < 5; ++bit) {
    BNRShift(shifted, x, 1u << bit, BigNumDigits);
    BNSelectConstTime(x, (s >> bit) & 1, shifted, x, BigNumDigits);
  }
  Wipe(shifted);
}

// The candidate's significant digits: public, since the key size fixes the length of the primes.
unsigned PublicDigits(const BigNum& n) { return Declassify(BNDigitsConstTime(n, BigNumDigits)); }

// Everything one test of a candidate works on, wiped as one block.
struct TestWork {
  MontModulus mod;
  MontExpWork exp;
  Limb y[MontLimbs], base[MontLimbs], minusOne[MontLimbs], scratch[3 * MontLimbs], q[2 * MontLimbs];
  BigNum m, r, a;
};

// 1 when the n limbs of x and y are equal, in constant time.
Limb LimbsEqual(const Limb* x, const Limb* y, unsigned n) {
  Limb diff = 0;
  for (unsigned i = 0; i < n; ++i) diff |= x[i] ^ y[i];
  return ConstantTime::MaskIsZero(diff) & 1;
}

// The Montgomery form of n - 1, which is m - one: the form of -1.
void MinusOneForm(Limb* r, const MontModulus& mod) {
  Limb borrow = 0;
  for (unsigned i = 0; i < mod.limbs; ++i) {
    const WideLimb x = WideLimb(mod.m[i]) - WideLimb(mod.one[i]) - WideLimb(borrow);
    r[i] = Limb(x);
    borrow = Limb(x >> 64) & 1;
  }
}

}  // namespace

// Barrett-style division by the small p: the digits are taken 16 bits at a time, so the running value
// v = r * 2^16 + chunk stays below 2^29, and floor(v / p) is (v * ceil(2^36 / p)) >> 36 or one more
// (the product stays below 2^64), which a masked correction settles. Every digit is read, whatever the value, and nothing divides by a
// secret.
Digit DigitRemainder(const BigNum& x, Digit p) { return DigitRemainder(x, p, BigNumDigits); }

Digit DigitRemainder(const BigNum& x, Digit p, unsigned digits) {
  const std::uint64_t reciprocal = ((std::uint64_t{1} << 36) + p - 1) / p;
  std::uint32_t r = 0;
  for (unsigned i = digits; i-- > 0;) {
    for (int half = 1; half >= 0; --half) {
      const std::uint32_t v = (r << 16) | ((x[i] >> (16 * half)) & 0xFFFFu);
      const auto quotient = std::uint32_t((v * reciprocal) >> 36);
      std::uint32_t rest = v - quotient * p;  // v mod p, or v mod p - p when the estimate is one high
      rest += p & ConstantTime::MaskFromBit<std::uint32_t>(rest >> 31);
      rest -= p & ~MaskBelow(rest, p);
      r = rest;
    }
  }
  return Digit(r);
}

// As repeated one-bit shifts would: after dropping the surplus bits a has n's bit length, and one more
// halving brings any such a below n. The shift follows the bit lengths, found in constant time.
void HalveUntilNotAbove(BigNum& a, const BigNum& n) {
  const unsigned aBits = BitsConstTime(a), nBits = BitsConstTime(n);
  const unsigned surplus = (aBits - nBits) & MaskBelow(nBits, aBits);
  ShiftRightSecret(a, surplus);
  BigNum halved;
  BNRShift(halved, a, 1, BigNumDigits);
  BNSelectConstTime(a, BNLessConstTime(n, a, BigNumDigits), halved, a, BigNumDigits);
  Wipe(halved);
}

TPrimeFactory::TPrimeFactory() {
  // Sieve of Eratosthenes over 1..5999; each surviving i strikes 2i, 3i, ...
  bool isPrime[SmallPrimeLimit];
  for (bool& flag : isPrime) flag = true;
  for (std::int32_t i = 2; i < SmallPrimeLimit; ++i)
    if (isPrime[i])
      for (std::int32_t m = 2 * i; m < SmallPrimeLimit; m += i) isPrime[m] = false;

  FSmallPrimeCount = 0;
  for (std::int32_t i = 2; i < SmallPrimeLimit; ++i)
    if (isPrime[i]) FSmallPrimes[FSmallPrimeCount++] = i;
}

void TPrimeFactory::FindPrime(const BigNum& Start, BigNum& Result) {
  FCandidateCount = 0;
  FFermatCount = 0;
  FMillerRabinCount = 0;

  BigNum base, candidate, one, window;
  BNAssign(base, Start, BigNumDigits);
  AssignDigit(one, 1);
  AssignDigit(window, Digit(SearchWindow));
  bool found = false;

  // keep[i] stands for base + i: 1 while no table prime divides it. Striking visits every position for
  // every prime and clears the one where the position's residue is zero, so the addresses touched follow
  // the public table alone, never the secret residues. The flags and the offsets within a block of p
  // positions are 16 bits wide, so that the compiler runs the striking loop on 16-bit vector lanes.
  std::uint16_t keep[SearchWindow];
  while (!found) {
    const unsigned digits = PublicDigits(base);
    for (std::uint16_t& flag : keep) flag = 1;
    for (std::int32_t t = 0; t < FSmallPrimeCount; ++t) {
      const auto p = std::uint32_t(FSmallPrimes[t]);
      const std::uint32_t residue = DigitRemainder(base, p, digits);
      // Position of the first multiple: p - residue, or 0 for a zero residue.
      const auto first =
          std::uint16_t(ConstantTime::Select(ConstantTime::MaskIsZero(residue), 0u, p - residue));
      static_assert(SmallPrimeLimit <= 0xFFFF, "offsets within a block fit 16 bits");
      for (std::uint32_t start = 0; start < std::uint32_t(SearchWindow); start += p) {
        const std::uint32_t length = start + p < std::uint32_t(SearchWindow) ? p : SearchWindow - start;
        std::uint16_t* block = keep + start;
        for (std::uint16_t j = 0; j < length; ++j) {
          const auto differs = std::uint16_t(j ^ first);  // zero only at the multiple
          block[j] &= std::uint16_t(std::uint16_t(differs | std::uint16_t(0u - differs)) >> 15);
        }
      }
    }

    BNAssign(candidate, base, BigNumDigits);
    for (std::int32_t i = 0; i < SearchWindow; ++i) {
      ++FCandidateCount;
      if (Declassify(keep[i]) && IsProbablePrime(candidate)) {
        BNAssign(Result, candidate, BigNumDigits);
        found = true;
        break;
      }
      BNAdd(candidate, candidate, one, BigNumDigits);
    }
    BNAdd(base, base, window, BigNumDigits);
  }

  Wipe(keep);
  Wipe(base);
  Wipe(candidate);
}

bool TPrimeFactory::IsProbablePrime(const BigNum& n) {
  if (!FermatTest(n)) return false;
  return MillerRabinTest(n);
}

bool TPrimeFactory::FermatTest(BigNum n) {
  ++FFermatCount;
  TestWork work;
  TestWork* w = &work;
  const unsigned digits = PublicDigits(n);
  MontSetup(w->mod, n, digits);
  AssignDigit(w->m, 1);
  BNSub(w->m, n, w->m, BigNumDigits);  // n - 1
  bool passed = true;
  for (const std::int32_t fermatBase : FermatBases) {
    AssignDigit(w->a, Digit(fermatBase));
    MontToForm(w->base, w->a, 1, w->mod, w->scratch);
    MontExp(w->y, w->base, w->m, 32 * digits, w->mod, w->exp);
    if (!Declassify(LimbsEqual(w->y, w->mod.one, w->mod.limbs))) {
      passed = false;
      break;
    }
  }
  Wipe(n);
  Wipe(work);
  MontWipeStack();
  return passed;
}

bool TPrimeFactory::MillerRabinTest(const BigNum& n) {
  ++FMillerRabinCount;
  TestWork work;
  TestWork* w = &work;
  const unsigned digits = PublicDigits(n);
  MontSetup(w->mod, n, digits);
  const unsigned limbs = w->mod.limbs;
  MinusOneForm(w->minusOne, w->mod);
  BigNum one;
  AssignDigit(one, 1);
  BNSub(w->m, n, one, BigNumDigits);

  // m = 2^k * r with r odd. k is counted over the low digit and r shifted under masks, so neither
  // depends on how many zero bits there are, unless the low digit is zero (see FixedTrailingZeros).
  const bool fewTrailingZeros = !Declassify(BNIsZeroConstTime(w->m, 1));
  unsigned k = 0;
  if (fewTrailingZeros) {
    Digit zeroSoFar = 1;
    for (unsigned bit = 0; bit < FixedTrailingZeros; ++bit) {
      zeroSoFar &= 1 - ((w->m[0] >> bit) & 1);
      k += zeroSoFar;
    }
    BNAssign(w->r, w->m, BigNumDigits);
    ShiftRightSecret(w->r, k);
  } else {
    BNAssign(w->r, w->m, BigNumDigits);
    while ((w->r[0] & 1) == 0 && !BNIsZero(w->r, BigNumDigits)) {
      BNRShift(w->r, w->r, 1, BigNumDigits);
      ++k;
    }
  }
  // The squaring count is public: the fixed count, or k itself on the rare path that reveals it.
  const unsigned steps = Declassify(fewTrailingZeros ? FixedTrailingZeros : k);

  bool passed = true;
  for (int trial = 0; trial < MillerRabinTrials && passed; ++trial) {
    // A random base between 1 and n + 1: 132 random words, halved until not above n, plus one.
    for (unsigned i = 0; i < BigNumDigits; ++i) w->a[i] = System::RandInt(-1);
    HalveUntilNotAbove(w->a, n);
    BNAdd(w->a, w->a, one, BigNumDigits);

    // y = a^r; the trial passes when y is 1 or n - 1, or when squaring reaches n - 1 within k - 1
    // steps before it reaches 1. The squarings run a fixed count; masks make those past the k - 1st,
    // or past the step that decided, change nothing.
    MontToForm(w->base, w->a, BigNumDigits, w->mod, w->scratch);
    MontExp(w->y, w->base, w->r, 32 * digits, w->mod, w->exp);
    Limb good = LimbsEqual(w->y, w->mod.one, limbs) | LimbsEqual(w->y, w->minusOne, limbs);
    Limb decided = good;
    for (unsigned j = 1; j < steps; ++j) {
      // The barrier keeps the compiler from folding k into the loop's own counter and exit test.
      const Limb active = (1 - decided) & (MaskBelow(ConstantTime::ValueBarrier(j), k) & 1);
      MontSquare(w->y, w->y, w->mod, w->q);
      const Limb reachedMinusOne = LimbsEqual(w->y, w->minusOne, limbs);
      const Limb reachedOne = LimbsEqual(w->y, w->mod.one, limbs);
      good |= active & reachedMinusOne;
      decided |= active & (reachedMinusOne | reachedOne);
    }
    passed = Declassify(good) != 0;
  }

  Wipe(one);
  Wipe(work);
  MontWipeStack();
  return passed;
}

}  // namespace Rsa
