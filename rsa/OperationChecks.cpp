// The entry checks shared by the six RSA operations (wrapping, signing, string encryption and their
// inverses), so that every operation refuses the same unusable keys with the same messages.
#include "rsa/KeySize.h"
#include "rsa/RSA.h"

namespace Rsa {

namespace {

// e = 0 sends every block to 1 and e = 1 leaves it as it is, so the "cipher text" would be the plain
// text; an even e is never invertible modulo phi(n); and e >= n cannot come from a key pair. Loading
// such a text still works (stored texts load as they always did); using it does not. e and n are
// public, so the comparison need not run in constant time.
bool PublicExponentValid(const BigNum& e, const BigNum& n) {
  if ((e.Digits[0] & 1) == 0) return false;
  if (BNDigits(e, BigNumDigits) == 1 && e.Digits[0] < 3) return false;
  return BNCmp(e, n, BigNumDigits) < 0;
}

}  // namespace

void TRSA::RequireKey(TKeyUse use) {
  if (use == TKeyUse::Private) {
    if (!FPrivateLoaded) Fail<ENoKeyLoaded>("Private key not loaded");
  } else {
    if (!FPublicLoaded) Fail<ENoKeyLoaded>("Public key not loaded");
    if (use == TKeyUse::PublicWithSignature && !FSignatureLoaded) Fail<ENoKeyLoaded>("Signature not loaded");
  }
  RequirePrecision();
  if (!ModulusFitsKeySize(FModulus, FPrecision)) Fail<EInvalidKey>(ModulusSizeMessage);
  if (use != TKeyUse::Private && !PublicExponentValid(FPubExp, FModulus)) Fail<EInvalidKey>("Public exponent not valid");
}

}  // namespace Rsa
