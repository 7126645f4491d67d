// The raw RSA operations on one block with the loaded key: the public one by square-and-multiply over the
// public exponent's bits, the private one by the Chinese remainder theorem (two half-size
// exponentiations and Garner's recombination) with a check by the public exponent, falling back to the
// exponentiation modulo n when the check fails or the factors are unknown. The Montgomery contexts and
// CRT values are built on first use after a key change and kept until the next.
#include "bignum/Montgomery.h"
#include "bignum/MontgomeryIfma.h"
#include "rsa/ConstantTimeLimbs.h"
#include "rsa/KeyCache.h"
#include "rsa/RSA.h"

namespace Rsa {

using namespace CtLimbs;

TKeyCache& TRSA::Cache() {
  if (!FCache) {
    FCache = std::make_unique<TKeyCache>();
    FCache->Clear();
  }
  TKeyCache& cache = *FCache;
  if (!cache.ModulusReady) {
    // The modulus is public; only an odd one has a Montgomery form (callers check that first).
    MontSetup(cache.N, FModulus, BNDigits(FModulus, BigNumDigits));
    cache.ModulusReady = true;
  }
  return cache;
}

void TRSA::KeyChanged() {
  if (FCache) FCache->Clear();
  BNWipe(FPrime1.Digits, 0, sizeof FPrime1.Digits);
  BNWipe(FPrime2.Digits, 0, sizeof FPrime2.Digits);
  FPrimesKnown = false;
}

TRSA::~TRSA() {
  KeyChanged();
  BNWipe(FPrivExp.Digits, 0, sizeof FPrivExp.Digits);
}

namespace {

bool OddModulus(const BigNum& n) { return (n.Digits[0] & 1) != 0; }

// The digits a block occupies: the key size's, which holds every block the operations build or decode,
// unless the caller's block reaches beyond them (Sign with data longer than the key size, which is then
// signed modulo n). Converting only these digits saves the products the zero digits above would cost.
// That the block is longer than the key size is public (the length of the data given); it decides the
// conversion's length, never anything about the digits' values.
unsigned BlockDigits(const BigNum& in, unsigned precision) {
  Digit above = 0;
  for (unsigned i = precision; i < BigNumDigits; ++i) above |= in.Digits[i];
  return PublicOutcome(ConstantTime::MaskIsZero<Limb>(above)) ? precision : BigNumDigits;
}

// Work areas of one private operation, wiped as one block.
struct PrivateWork {
  Limb c[MontLimbs], cp[MontLimbs], cq[MontLimbs], mp[MontLimbs], mq[2 * MontLimbs], h[MontLimbs];
  Limb unit[MontLimbs], m[2 * MontLimbs], check[MontLimbs];
  Digit digits[4 * MontLimbs], power[2 * MontLimbs];
  Limb q[2 * MontLimbs];
  Limb scratch[3 * MontLimbs];
  MontExpWork exp;
};

// w.m := in^d mod n by the Chinese remainder theorem, over the returned number of limbs (the value is
// below n = p*q).
unsigned CrtPower(PrivateWork& w, const TKeyCache& k, const BigNum& in, unsigned inDigits) {
  const MontModulus& P = k.P;
  const MontModulus& Q = k.Q;
  const unsigned pl = P.limbs, ql = Q.limbs;
  // The block reduced modulo p and q straight into Montgomery form, then both halves raised.
  MontToForm(w.cp, in, inDigits, P, w.scratch);
  MontToForm(w.cq, in, inDigits, Q, w.scratch);
  const MontExpJob first{w.mp, w.cp, k.Dp, k.DpBits, &P};
  const MontExpJob second{w.mq, w.cq, k.Dq, k.DqBits, &Q};
  if (SelectedMontKernel() == MontKernel::Ifma && IfmaPairSupports(P, Q)) {
    // The vector pair hands back the ordinary values: mp < p, mq < q < p.
    MontPowerPairIfma(first, second);
  } else {
    SelectMontExpPair(P, Q)(first, second);
    // Out of Montgomery form: mp < p, mq < q < p.
    Zero(w.unit, pl);
    w.unit[0] = 1;
    MontProduct(w.mp, w.mp, w.unit, P, w.q);
    MontProduct(w.mq, w.mq, w.unit, Q, w.q);
  }
  if (CrtFaultInjected()) w.mp[0] ^= 1;

  // Garner: h = (mp - mq) * q^-1 mod p, then m = mq + h*q, which is below p*q.
  const unsigned ml = pl + ql;
  Zero(w.mq + ql, ml - ql);
  const Limb borrow = SubMasked(w.h, w.mp, w.mq, ~Limb{0}, pl);
  AddMasked(w.h, w.h, P.m, ConstantTime::MaskFromBit(borrow), pl);
  MontProduct(w.h, w.h, k.QInv, P, w.q);
  Multiply(w.m, w.h, pl, Q.m, ql);
  AddMasked(w.m, w.m, w.mq, ~Limb{0}, ml);
  return ml;
}

// Whether the CRT result w.m (ml limbs) gives the block back under the public exponent e: a fault in
// either half would otherwise hand out a value that reveals a factor of n. The check works modulo n
// with n's own context, apart from every value the halves used. Where the vector kernel serves n and
// the block fits n's limbs, it compares ordinary values: the kernel gives m^e mod n itself, and the
// block's product by R mod n is the block reduced modulo n, which spares two scalar products over
// comparing Montgomery forms.
bool CrtResultHolds(PrivateWork& w, const MontModulus& N, const BigNum& e, const BigNum& in, unsigned inDigits,
                    unsigned ml) {
  const unsigned nl = N.limbs;
  ToDigits(w.digits, 2 * ml, w.m, ml);
  if (SelectedMontKernel() == MontKernel::Ifma && IfmaSingleSupports(N) && inDigits <= 2 * nl) {
    MontPowerPublicVarTime(w.power, 2 * nl, w.digits, 2 * ml, e, BigNumDigits, N);
    FromDigits(w.check, w.power, 2 * nl, nl);
    FromDigits(w.c, in, inDigits, nl);
    MontProduct(w.c, w.c, N.one, N, w.q);
  } else {
    MontToForm(w.c, in, inDigits, N, w.scratch);
    MontToForm(w.check, w.digits, 2 * ml, N, w.scratch);
    MontExpPublicVarTime(w.check, w.check, e, BigNumDigits, N, w.q);
  }
  return PublicOutcome(MaskEqual(w.check, w.c, nl));
}

}  // namespace

void TRSA::PublicBlock(BigNum& out, const BigNum& in) {
  if (!OddModulus(FModulus)) {
    BNModExp(out, in, FPubExp, BigNumDigits, FModulus, BigNumDigits);
    return;
  }
  const TKeyCache& k = Cache();
  MontPowerPublicVarTime(out, BigNumDigits, in, BlockDigits(in, unsigned(FPrecision)), FPubExp, BigNumDigits, k.N);
}

void TRSA::PrivateBlock(BigNum& out, const BigNum& in) {
  if (!OddModulus(FModulus)) {
    BNModExp(out, in, FPrivExp, BigNumDigits, FModulus, BigNumDigits);
    return;
  }
  TKeyCache& k = Cache();
  if (!k.CrtTried && FPublicLoaded && FPrivateLoaded) {
    k.CrtTried = true;
    if (!FPrimesKnown) FPrimesKnown = RecoverPrimeFactors(FPubExp, FPrivExp, FModulus, FPrime1, FPrime2);
    if (FPrimesKnown) {
      BuildCrtKey(k, FPrime1, FPrime2, FPrivExp);
      k.CrtReady = true;
    }
  }

  PrivateWork w;
  const MontModulus& N = k.N;
  const unsigned inDigits = BlockDigits(in, unsigned(FPrecision));
  if (k.CrtReady) {
    const unsigned ml = CrtPower(w, k, in, inDigits);
    // On a mismatch the plain path below runs.
    if (CrtResultHolds(w, N, FPubExp, in, inDigits, ml)) {
      ToDigits(out.Digits, BigNumDigits, w.m, ml);
      BNWipe(&w, 0, sizeof w);
      MontWipeStack();
      return;
    }
    CountCrtFallback();
  }
  MontToForm(w.c, in, inDigits, N, w.scratch);
  MontExp(w.m, w.c, FPrivExp, 32 * BNDigits(FPrivExp, BigNumDigits), N, w.exp);
  MontFromForm(out, BigNumDigits, w.m, N, w.scratch);
  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
}

}  // namespace Rsa
