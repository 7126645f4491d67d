// Modular exponentiation: the one entry point that every exponentiation in the system goes through. It
// only chooses the method: odd moduli (every RSA modulus and every prime candidate) take the
// constant-time Montgomery exponentiation; even moduli and zero, which Montgomery form cannot serve,
// take the two-bit window method over reduced products, which returns the same value for every input.
#include "bignum/BigNumInternal.h"
#include "bignum/Montgomery.h"

namespace Rsa {

void BNModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits) {
  if (dDigits > 0 && (d[0] & 1) != 0)
    BNModExpMontgomery(a, b, c, cDigits, d, dDigits);
  else
    BNModExpReference(a, b, c, cDigits, d, dDigits);
}

}  // namespace Rsa
