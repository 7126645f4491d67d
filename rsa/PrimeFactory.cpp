#include "rsa/PrimeFactory.h"

#include "host/core/Random.h"

namespace Rsa {

namespace {

// Fixed bases of the Fermat test, in the order they are tried.
constexpr std::int32_t FermatBases[2] = {2, 3};

// x := the single-digit value v.
void AssignDigit(BigNum& x, Digit v) {
  BNAssignZero(x, BigNumDigits);
  x[0] = v;
}

// Wipes a work value that held a candidate prime or a value derived from one.
void Wipe(BigNum& x) { BNWipe(x.Digits, 0, sizeof x.Digits); }

// x := x div 2^s for any s: whole digits first, then the remaining bits.
void ShiftRightBits(BigNum& x, unsigned s) {
  const unsigned whole = s / 32;
  if (whole >= BigNumDigits) {
    BNAssignZero(x, BigNumDigits);
    return;
  }
  if (whole > 0) {
    BNAssign(x, x + whole, BigNumDigits - whole);  // copies upward from digit 0, so the overlap is safe
    BNAssignZero(x + (BigNumDigits - whole), whole);
  }
  BNRShift(x, x, s % 32, BigNumDigits);
}

}  // namespace

// Exactly, by Horner's rule over the significant digits, most significant first, with a 64-bit running
// value (r < p, so r * 2^32 + digit fits in 64 bits).
Digit DigitRemainder(const BigNum& x, Digit p) {
  std::uint64_t r = 0;
  for (unsigned i = BNDigits(x, BigNumDigits); i-- > 0;) r = ((r << 32) | x[i]) % p;
  return Digit(r);
}

// As repeated one-bit shifts would, in at most two shifts: after dropping the surplus bits a has n's
// bit length, and one more halving brings any such a below n.
void HalveUntilNotAbove(BigNum& a, const BigNum& n) {
  const unsigned aBits = BNBits(a, BigNumDigits), nBits = BNBits(n, BigNumDigits);
  if (aBits > nBits) ShiftRightBits(a, aBits - nBits);
  if (BNCmp(a, n, BigNumDigits) > 0) BNRShift(a, a, 1, BigNumDigits);
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

  while (!found) {
    // flags[i] stands for base + i; the sieve clears every position with a factor in the table.
    bool flags[SearchWindow];
    for (bool& flag : flags) flag = true;
    for (std::int32_t t = 0; t < FSmallPrimeCount; ++t) {
      const Digit p = Digit(FSmallPrimes[t]);
      const Digit r = DigitRemainder(base, p);
      for (Digit pos = r == 0 ? 0 : p - r; pos < Digit(SearchWindow); pos += p) flags[pos] = false;
    }

    BNAssign(candidate, base, BigNumDigits);
    for (std::int32_t i = 0; i < SearchWindow; ++i) {
      ++FCandidateCount;
      if (flags[i] && IsProbablePrime(candidate)) {
        BNAssign(Result, candidate, BigNumDigits);
        found = true;
        break;
      }
      BNAdd(candidate, candidate, one, BigNumDigits);
    }
    BNAdd(base, base, window, BigNumDigits);
  }

  Wipe(base);
  Wipe(candidate);
}

bool TPrimeFactory::IsProbablePrime(const BigNum& n) {
  if (!FermatTest(n)) return false;
  return MillerRabinTest(n);
}

bool TPrimeFactory::FermatTest(BigNum n) {
  ++FFermatCount;
  BigNum one, nMinus1, b, t;
  AssignDigit(one, 1);
  BNSub(nMinus1, n, one, BigNumDigits);
  bool passed = true;
  for (const std::int32_t fermatBase : FermatBases) {
    AssignDigit(b, Digit(fermatBase));
    BNModExp(t, b, nMinus1, BigNumDigits, n, BigNumDigits);
    if (BNCmp(t, one, BigNumDigits) != 0) {
      passed = false;
      break;
    }
  }
  Wipe(n);
  Wipe(nMinus1);
  Wipe(t);
  return passed;
}

bool TPrimeFactory::MillerRabinTest(const BigNum& n) {
  ++FMillerRabinCount;
  BigNum one, m, r, a, y;
  AssignDigit(one, 1);
  BNSub(m, n, one, BigNumDigits);

  // m = 2^k * r with r odd.
  BNAssign(r, m, BigNumDigits);
  unsigned k = 0;
  while ((r[0] & 1) == 0 && !BNIsZero(r, BigNumDigits)) {
    BNRShift(r, r, 1, BigNumDigits);
    ++k;
  }

  bool passed = true;
  for (int trial = 0; trial < MillerRabinTrials && passed; ++trial) {
    // A random base between 1 and n + 1: 132 random words, halved until not above n, plus one.
    for (unsigned i = 0; i < BigNumDigits; ++i) a[i] = System::RandInt(-1);
    HalveUntilNotAbove(a, n);
    BNAdd(a, a, one, BigNumDigits);

    BNModExp(y, a, r, BigNumDigits, n, BigNumDigits);
    if (BNCmp(y, one, BigNumDigits) == 0 || BNCmp(y, m, BigNumDigits) == 0) continue;

    // A prime reaches n - 1 by squaring within k - 1 steps; reaching 1 first, or never, exposes n.
    for (unsigned j = 1;; ++j) {
      if (j >= k) {
        passed = false;
        break;
      }
      BNModMult(y, y, y, n, BigNumDigits);
      if (BNCmp(y, m, BigNumDigits) == 0) break;
      if (BNCmp(y, one, BigNumDigits) == 0) {
        passed = false;
        break;
      }
    }
  }

  Wipe(m);
  Wipe(r);
  Wipe(a);
  Wipe(y);
  return passed;
}

}  // namespace Rsa
