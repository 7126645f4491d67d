// Modular exponentiation: the one entry point that every exponentiation in the system goes through.
#include "bignum/bignum_internal.h"

namespace Rsa {

void BNModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits) {
  BNModExpReference(a, b, c, cDigits, d, dDigits);
}

}  // namespace Rsa
