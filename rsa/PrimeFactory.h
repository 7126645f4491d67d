// The prime search behind key generation. Internal to the component: TRSA creates one factory per key
// pair and nothing else uses it.
#pragma once

#include <cstdint>

#include "bignum/BigNum.h"
#include "host/core/System.h"
#include "rsa/RSA.h"

namespace Rsa {

// The small-prime sieve covers the integers from 2 up to this limit (excluded).
inline constexpr std::int32_t SmallPrimeLimit = 6000;
// Integers sieved and scanned per window of the search.
inline constexpr std::int32_t SearchWindow = 2000;
// Random-base trials of the Miller-Rabin test.
inline constexpr int MillerRabinTrials = 10;
// Slots of the small-prime table; the primes below 6000 fill the first 783, the rest stay zero.
inline constexpr int SmallPrimeSlots = 801;

// Exact shortcuts of the search, kept beside the factory so they can be checked on their own.
// x mod p for a single digit p with 0 < p < 2^13, in constant time: every digit is read.
Digit DigitRemainder(const BigNum& x, Digit p);
// The same over x's lowest `digits` digits (those above must be zero): a public length, such as a prime
// candidate's, which the key size fixes.
Digit DigitRemainder(const BigNum& x, Digit p, unsigned digits);
// Halves a until it is not above n, giving the same value as repeated one-bit shifts.
void HalveUntilNotAbove(BigNum& a, const BigNum& n);

// Finds a probable prime at or above a start value: window by window, a sieve strikes every multiple
// of a prime below 6000, and the survivors are tested in increasing order by a Fermat test (bases 2
// and 3) and then a Miller-Rabin test with random bases. Every number is a full 132-digit BigNum; the
// additions, shifts and selections run over all 132 digits, while the sieve's remainders, the
// Montgomery set-up and the tests' exponentiations run over the candidate's significant digits, a
// public length that the key size fixes. The search allocates nothing on the heap.
//
// Destroyed with the inherited Free (or by an owner that calls it); it has no destructor of its own.
class TPrimeFactory : public System::TObject {
 public:
  // Builds the small-prime table; the counters start at zero.
  TPrimeFactory();

  // Writes into Result the first integer at or above Start that has no prime factor below 6000 and
  // passes IsProbablePrime. Start must exceed the largest table prime. Resets the three counters,
  // then advances them; the search has no upper bound.
  void FindPrime(const BigNum& Start, BigNum& Result);
  // FermatTest, then MillerRabinTest only when Fermat passed.
  bool IsProbablePrime(const BigNum& n);
  // b^(n-1) = 1 (mod n) for b = 2, then b = 3; the second base is skipped once the first fails.
  // n must be odd and above 3.
  bool FermatTest(BigNum n);
  // Ten strong-pseudoprime trials with random bases; each trial draws 132 words from the host
  // generator, so a passing call draws 1320. n must be odd and above 3.
  bool MillerRabinTest(const BigNum& n);

  // Statistics of the current or last FindPrime.
  std::int32_t CandidateCount() const { return FCandidateCount; }
  std::int32_t FermatCount() const { return FFermatCount; }
  std::int32_t MillerRabinCount() const { return FMillerRabinCount; }
  // The small-prime table: all 801 slots, and the number of filled ones (783).
  const std::int32_t* SmallPrimes() const { return FSmallPrimes; }
  std::int32_t SmallPrimeCount() const { return FSmallPrimeCount; }

 private:
  std::int32_t FCandidateCount = 0;  // window positions examined, struck or not, the result included
  std::int32_t FFermatCount = 0;     // FermatTest calls
  std::int32_t FMillerRabinCount = 0;  // MillerRabinTest calls
  std::int32_t FSmallPrimes[SmallPrimeSlots] = {};
  std::int32_t FSmallPrimeCount = 0;
};

}  // namespace Rsa
