// Recovery of the prime factors p and q of n from e, d and n. e*d - 1 = 2^s * r (r odd) is a multiple of
// the group order, so for most bases g the chain g^r, g^2r, g^4r, ... modulo n reaches 1 through a square
// root of 1 other than 1 and n-1; such a root y splits n as p = gcd(y - 1, n), q = gcd(y + 1, n). Each
// base succeeds with probability at least one half. The work on secrets runs in constant time: the
// exponentiation by r, a chain of fixed length, masked choices of the root, constant-time gcds. Only
// the outcome of each base (found a root or not) decides a branch.
#include "bignum/Montgomery.h"
#include "rsa/ConstantTimeLimbs.h"
#include "rsa/RSA.h"

namespace Rsa {

namespace {

using namespace CtLimbs;

// Bases tried in turn. With a valid key the chance that all fail is below 2^-12.
constexpr Digit Bases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};

// The chain is followed for this many squarings, so p - 1 and q - 1 may hold up to 2^63; a prime with
// more factors of two in p - 1 (about one in 2^63 random primes) is not split and the key runs without
// its factors.
constexpr unsigned ChainLength = 64;

constexpr unsigned ProductDigits = 2 * BigNumDigits;
constexpr unsigned ProductLimbs = BigNumDigits;

struct RecoveryWork {
  MontModulus mod;
  Digit product[ProductDigits];  // r, the odd part of e*d - 1
  Limb k[ProductLimbs];
  Limb shifted[ProductLimbs];
  Limb base[MontLimbs], y[MontLimbs], x[MontLimbs], root[MontLimbs], minusOne[MontLimbs], unit[MontLimbs];
  Digit rootDigits[BigNumDigits], factor[BigNumDigits];
  Limb u[ProductLimbs], p[MontLimbs], q[MontLimbs], check[2 * MontLimbs];
  Limb t[2 * MontLimbs];
  Limb scratch[3 * MontLimbs];
  MontExpWork exp;
};

// k := k >> s for s in 0 .. 64, by masked shifts of 1, 2, 4, ..., 32 bits and one of a whole limb.
void ShiftRightBy(Limb* k, Limb* shifted, unsigned n, Limb s) {
  for (unsigned b = 0; b < 6; ++b) {
    const unsigned amount = 1u << b;
    for (unsigned i = 0; i < n; ++i)
      shifted[i] = (k[i] >> amount) | (i + 1 < n ? k[i + 1] << (64 - amount) : 0);
    SelectInto(k, shifted, ConstantTime::MaskFromBit<Limb>((s >> b) & 1), n);
  }
  for (unsigned i = 0; i < n; ++i) shifted[i] = i + 1 < n ? k[i + 1] : 0;
  SelectInto(k, shifted, ConstantTime::MaskFromBit<Limb>((s >> 6) & 1), n);
}

bool Recover(RecoveryWork& w, const BigNum& e, const BigNum& d, const BigNum& n, BigNum& p, BigNum& q) {
  // The modulus, the public exponent and the lengths are public.
  const unsigned nDigits = BNDigits(n, BigNumDigits);
  if (nDigits == 0 || (n.Digits[0] & 1) == 0 || (nDigits == 1 && n.Digits[0] < 15)) return false;
  if (BNIsZero(e, BigNumDigits)) return false;
  MontSetup(w.mod, n, nDigits);
  const unsigned nl = w.mod.limbs;

  // k = e*d - 1, which must be even: s = its trailing zero bits (at most 64), r = k >> s.
  // Its length follows from the lengths of e and d, which are public (d's is the key size).
  const unsigned eDigits = BNDigits(e, BigNumDigits), dDigits = BNDigits(d, BigNumDigits);
  if (dDigits == 0) return false;
  const unsigned el = (eDigits + 1) / 2, dl = (dDigits + 1) / 2, kl = el + dl;
  FromDigits(w.shifted, e, BigNumDigits, el);
  FromDigits(w.u, d, BigNumDigits, dl);
  Multiply(w.k, w.shifted, el, w.u, dl);
  for (unsigned i = 0; i < kl; ++i) w.shifted[i] = i == 0 ? 1 : 0;
  SubMasked(w.k, w.k, w.shifted, ~Limb{0}, kl);
  Limb s = 0, stillZero = ~Limb{0};
  for (unsigned i = 0; i < 64; ++i) {
    stillZero &= ConstantTime::MaskIsZero<Limb>((w.k[0] >> i) & 1);
    s += stillZero & 1;
  }
  if (PublicOutcome(ConstantTime::MaskIsZero(s))) return false;  // e*d - 1 odd: not a key
  ShiftRightBy(w.k, w.shifted, kl, s);
  ToDigits(w.product, ProductDigits, w.k, kl);

  SubMasked(w.minusOne, w.mod.m, w.mod.one, ~Limb{0}, nl);  // the form of n - 1
  Limb found = 0;
  for (const Digit g : Bases) {
    MontToForm(w.base, &g, 1, w.mod, w.scratch);
    MontExp(w.y, w.base, w.product, 64 * kl, w.mod, w.exp);
    Zero(w.root, nl);
    for (unsigned i = 0; i < ChainLength; ++i) {
      MontSquare(w.x, w.y, w.mod, w.t);
      const Limb trivial = MaskEqual(w.y, w.mod.one, nl) | MaskEqual(w.y, w.minusOne, nl);
      const Limb take = MaskEqual(w.x, w.mod.one, nl) & ~trivial & ~found;
      SelectInto(w.root, w.y, take, nl);
      found |= take;
      Copy(w.y, w.x, nl);
    }
    if (PublicOutcome(found)) break;
  }
  if (!PublicOutcome(found)) return false;

  // y, the root as an ordinary number; then p = gcd(y - 1, n) and q = gcd(y + 1, n), y + 1 < n.
  Zero(w.unit, nl);
  w.unit[0] = 1;
  MontProduct(w.x, w.root, w.unit, w.mod, w.t);
  SubMasked(w.y, w.x, w.unit, ~Limb{0}, nl);
  ToDigits(w.rootDigits, nDigits, w.y, nl);
  BNGcdConstTime(w.factor, w.rootDigits, n, nDigits);
  FromDigits(w.p, w.factor, nDigits, nl);
  AddMasked(w.y, w.x, w.unit, ~Limb{0}, nl);
  ToDigits(w.rootDigits, nDigits, w.y, nl);
  BNGcdConstTime(w.factor, w.rootDigits, n, nDigits);
  FromDigits(w.q, w.factor, nDigits, nl);

  // p > q, and p * q must give n back.
  Swap(w.p, w.q, MaskLess(w.p, w.q, nl), nl);
  Multiply(w.check, w.p, nl, w.q, nl);
  Zero(w.t, 2 * nl);
  Copy(w.t, w.mod.m, nl);
  if (!PublicOutcome(MaskEqual(w.check, w.t, 2 * nl))) return false;
  ToDigits(p.Digits, BigNumDigits, w.p, nl);
  ToDigits(q.Digits, BigNumDigits, w.q, nl);
  return true;
}

}  // namespace

bool RecoverPrimeFactors(const BigNum& e, const BigNum& d, const BigNum& n, BigNum& p, BigNum& q) {
  BNAssignZero(p, BigNumDigits);
  BNAssignZero(q, BigNumDigits);
  RecoveryWork w;
  const bool recovered = Recover(w, e, d, n, p, q);
  BNWipe(&w, 0, sizeof w);
  MontWipeStack();
  return recovered;
}

}  // namespace Rsa
