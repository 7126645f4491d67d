// Building the per-key values of the Chinese remainder theorem, and wiping the cache.
#include "rsa/KeyCache.h"

#include <atomic>

#include "bignum/Declassify.h"
#include "rsa/ConstantTimeLimbs.h"

namespace Rsa {

namespace {

std::atomic<bool> InjectingFaults{false};
std::atomic<unsigned long> Fallbacks{0};

}  // namespace

namespace CrtTesting {
void InjectFaults(bool on) { InjectingFaults = on; }
unsigned long FallbackCount() { return Fallbacks; }
}  // namespace CrtTesting

bool CrtFaultInjected() { return InjectingFaults.load(std::memory_order_relaxed); }
void CountCrtFallback() { ++Fallbacks; }

bool PublicOutcome(Limb mask) { return ConstantTime::Declassify(mask) != 0; }

void TKeyCache::Clear() {
  BNWipe(this, 0, sizeof *this);
  ModulusReady = false;
  CrtTried = false;
  CrtReady = false;
}

void BuildCrtKey(TKeyCache& cache, const BigNum& p, const BigNum& q, const BigNum& d) {
  using namespace CtLimbs;
  struct {
    Limb p[MontLimbs], q[MontLimbs], d[BigNumDigits / 2], pm[MontLimbs], r[MontLimbs], small[MontLimbs];
    Digit exponent[BigNumDigits];
    Limb scratch[3 * MontLimbs];
  } w;
  constexpr unsigned keyLimbs = BigNumDigits / 2;
  FromDigits(w.p, p, BigNumDigits, keyLimbs);
  FromDigits(w.q, q, BigNumDigits, keyLimbs);
  FromDigits(w.d, d, BigNumDigits, keyLimbs);
  // The lengths of the factors are public (about half the key size each).
  const unsigned pl = PublicLimbCount(w.p, keyLimbs), ql = PublicLimbCount(w.q, keyLimbs);
  MontSetup(cache.P, p, 2 * pl);
  MontSetup(cache.Q, q, 2 * ql);

  // dp = d mod (p - 1), dq = d mod (q - 1), by one conditional subtraction per bit of d.
  Zero(w.small, pl);
  w.small[0] = 1;
  SubMasked(w.pm, w.p, w.small, ~Limb{0}, pl);
  Reduce(w.r, w.d, 64 * keyLimbs, w.pm, pl);
  ToDigits(cache.Dp, BigNumDigits, w.r, pl);
  SubMasked(w.pm, w.q, w.small, ~Limb{0}, ql);
  Reduce(w.r, w.d, 64 * keyLimbs, w.pm, ql);
  ToDigits(cache.Dq, BigNumDigits, w.r, ql);
  cache.DpBits = 64 * pl;
  cache.DqBits = 64 * ql;

  // q^-1 mod p (q < p), kept in Montgomery form for the recombination.
  BNModInvConstTime(w.exponent, q, p, 2 * pl);
  MontToForm(cache.QInv, w.exponent, 2 * pl, cache.P, w.scratch);

  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
}

}  // namespace Rsa
