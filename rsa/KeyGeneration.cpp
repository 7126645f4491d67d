// Key pair generation: two primes from seeded random start values, then n, e and d.
#include <cstddef>
#include <memory>

#include "bignum/ConstantTime.h"
#include "bignum/Declassify.h"
#include "host/core/Random.h"
#include "rsa/PrimeFactory.h"
#include "rsa/RSA.h"
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

// The smallest public exponent tried; e grows by 2 from here until it is coprime to p - 1 and q - 1.
constexpr Digit FirstPublicExponent = 50001;

// Releases the factory with the host's Free on every path, also when a status handler throws.
struct TFreeObject {
  void operator()(System::TObject* object) const { System::TObject::Free(object); }
};

// Wipes an area when the scope ends, however it ends: key generation's work values hold the primes
// from which the private key follows.
class TWipeOnExit {
 public:
  TWipeOnExit(void* area, std::size_t size) : FArea(area), FSize(size) {}
  TWipeOnExit(const TWipeOnExit&) = delete;
  TWipeOnExit& operator=(const TWipeOnExit&) = delete;
  ~TWipeOnExit() { BNWipe(FArea, 0, FSize); }

 private:
  void* FArea;
  std::size_t FSize;
};

void AssignDigit(BigNum& x, Digit v) {
  BNAssignZero(x, BigNumDigits);
  x[0] = v;
}

// An odd start value of exactly 32h bits: h generator words XORed with the seed's low digits, then
// the top bit and bit 0 set.
void MakeStartValue(BigNum& s, const BigNum& seed, unsigned h) {
  BNAssignZero(s, BigNumDigits);
  for (unsigned i = 0; i < h; ++i) s[i] = System::RandInt(-1) ^ seed[i];
  s[h - 1] |= 0x80000000u;
  s[0] |= 1u;
}

}  // namespace

void TRSA::RSAMakeKeyPair(const BigNum& Seed1, const BigNum& Seed2, BigNum& e, BigNum& n, BigNum& d) {
  GenerateKeyPair(Seed1, Seed2, e, n, d, nullptr);
}

void TRSA::GenerateKeyPair(const BigNum& Seed1, const BigNum& Seed2, BigNum& e, BigNum& n, BigNum& d,
                           BigNum* primes) {
  // Without a key size the start value's top bit would fall outside the number.
  RequirePrecision();

  struct {
    BigNum p, q, pMinus1, qMinus1, s, phi, one, g1, g2;
    Digit product[2 * BigNumDigits];  // double-width products of BNMult
  } w;
  TWipeOnExit wipe(&w, sizeof w);
  auto& [p, q, pMinus1, qMinus1, s, phi, one, g1, g2, product] = w;
  BNAssignZero(p, BigNumDigits);
  BNAssignZero(q, BigNumDigits);
  BNAssignZero(e, BigNumDigits);
  BNAssignZero(n, BigNumDigits);
  BNAssignZero(d, BigNumDigits);
  BNAssignZero(pMinus1, BigNumDigits);
  BNAssignZero(qMinus1, BigNumDigits);

  const unsigned h = unsigned(FPrecision / 2);

  StatusUpdate("Finding first random prime");
  {
    std::unique_ptr<TPrimeFactory, TFreeObject> factory(new TPrimeFactory);
    MakeStartValue(s, Seed1, h);
    factory->FindPrime(s, p);
    StatusUpdate("Finding second random prime");
    MakeStartValue(s, Seed2, h);
    factory->FindPrime(s, q);
  }
  StatusUpdate("Calculating keys");

  // Everything from here on works on the secret primes in constant time. Only the outcome of the
  // exponent search is public: e itself.
  BNSwapConstTime(p, q, BNLessConstTime(p, q, BigNumDigits), BigNumDigits);
  AssignDigit(one, 1);
  BNSub(pMinus1, p, one, BigNumDigits);
  BNSub(qMinus1, q, one, BigNumDigits);

  // Both primes have h digits (h + 1 in the rare search that runs past 2^(32h)), so the products fit
  // in `width` digits, the public length the constant-time routines run over.
  const unsigned width = 2 * h + 1;
  BNMultConstTime(product, p, q, BigNumDigits);
  BNAssign(n, product, BigNumDigits);
  ConstantTime::DeclassifyArea(n, sizeof(BigNum));  // the modulus is public

  // e is the first odd value from 50001 up that is coprime to p - 1 and to q - 1. Which candidate
  // exponent failed for which prime stays secret; that all before the final e failed is what e tells.
  // e stays one digit: an odd prime fails only by dividing p - 1 or q - 1, which have far fewer prime
  // factors above 50001 than there are primes between 50001 and 2^32. So each test takes the gcd of e
  // and the secret's remainder modulo e, single digits, instead of the gcd of the whole values.
  Digit ev = FirstPublicExponent;
  for (;;) {
    g1[0] = BNModDigitConstTime(pMinus1, ev, h + 1);
    g2[0] = BNModDigitConstTime(qMinus1, ev, h + 1);
    BNGcdConstTime(g1, g1, &ev, 1);
    BNGcdConstTime(g2, g2, &ev, 1);
    const Digit coprime = ConstantTime::Declassify(Digit(ConstantTime::MaskEqual(g1[0], Digit(1)) &
                                                         ConstantTime::MaskEqual(g2[0], Digit(1)) & 1));
    if (coprime) break;
    ev += 2;
  }
  AssignDigit(e, ev);

  // d = e^-1 mod phi, found from the single-digit side: with t = phi mod e and u = t^-1 mod e, k = e - u
  // makes k*phi + 1 a multiple of e, and d = (k*phi + 1) / e is below phi. That is the one inverse
  // below phi, the same d as the inverse taken modulo phi, at a small part of its cost.
  BNMultConstTime(product, pMinus1, qMinus1, BigNumDigits);
  BNAssign(phi, product, BigNumDigits);
  g1[0] = BNModDigitConstTime(phi, ev, width);
  BNModInvConstTime(g1, g1, &ev, 1);
  const Digit k = ev - g1[0];
  d[width] = BNMultDigitAddConstTime(d, phi, k, 1, width);
  BNDivExactDigitConstTime(d, d, ev, width + 1);
  if (primes != nullptr) {
    primes[0] = p;
    primes[1] = q;
  }

  StatusUpdate("Idle");
}

void TRSA::MakeKeyPair(const BigNum& Seed1, const BigNum& Seed2) {
  System::Randomize();

  BigNum e, n, d, primes[2];
  TWipeOnExit wipe(&d, sizeof d);
  TWipeOnExit wipePrimes(primes, sizeof primes);
  GenerateKeyPair(Seed1, Seed2, e, n, d, primes);

  // Only now, with the whole pair in hand, is the previous key replaced. The primes stay (p > q) for
  // the private operations.
  KeyChanged();
  FPrime1 = primes[0];
  FPrime2 = primes[1];
  FPrimesKnown = true;
  FPubExp = e;
  FModulus = n;
  FPrivExp = d;
  FPublicLoaded = true;
  FPrivateLoaded = true;
  // The second field of each text is written over exactly P digits, the length readers demand; a
  // private exponent with fewer significant digits would otherwise give a text that never loads. The
  // private text replaced here is wiped, and building the new one leaves no copy of it behind.
  FPublicKey = KeyText(e, n, FPrecision);
  BurnString(FPrivateKey);
  FPrivateKey = KeyText(n, d, FPrecision);
}

}  // namespace Rsa
