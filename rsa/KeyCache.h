// What the component derives from a loaded key once and reuses for every block until the key changes:
// the Montgomery context of the modulus, and for a private key whose prime factors are known, the
// contexts of p and q with dp = d mod (p-1), dq = d mod (q-1) and q^-1 mod p for the Chinese remainder
// theorem. Internal to rsa/: applications never see it. Everything in it but the limb counts and the
// flags is wiped when the key changes, on Burn and on destruction.
#pragma once

#include "bignum/Montgomery.h"
#include "rsa/RSA.h"

namespace Rsa {

struct TKeyCache {
  // The modulus n, odd (an even modulus takes BNModExp's general path); built on first use.
  bool ModulusReady = false;
  MontModulus N;

  // The private key by the Chinese remainder theorem, p > q; built on first private use when both
  // halves are loaded and the factors are known or can be recovered.
  bool CrtTried = false;
  bool CrtReady = false;
  MontModulus P, Q;
  Digit Dp[BigNumDigits];   // d mod (p-1)
  Digit Dq[BigNumDigits];   // d mod (q-1)
  Limb QInv[MontLimbs];     // the Montgomery form (modulo p) of q^-1 mod p
  unsigned DpBits = 0;      // bits of the exponents scanned: the full width of p's and q's limbs
  unsigned DqBits = 0;

  // Wipes every value and marks everything to be built again.
  void Clear();
};

// Derives the CRT values of the key (p > q, both odd primes with p*q = n, d the private exponent)
// into cache. Constant time: no branch or address depends on p, q or d; time depends on the digit
// counts of p, q and d.
void BuildCrtKey(TKeyCache& cache, const BigNum& p, const BigNum& q, const BigNum& d);

// Whether the test hook below asks for a spoiled result, and the count of fallbacks it reports.
bool CrtFaultInjected();
void CountCrtFallback();

// Test hook: while set, every CRT result is spoiled before its check, so the check must catch it and
// the component fall back to the plain exponentiation. FallbackCount counts those fallbacks.
namespace CrtTesting {
void InjectFaults(bool on);
unsigned long FallbackCount();
}  // namespace CrtTesting

}  // namespace Rsa
