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

// The component's block schemes look at only part of a recovered block: Verify compares the data's
// bytes and no more, DecryptKey ignores the fill, DecryptString reads the pad count alone. Under a small
// e an e-th root taken modulo a power of two of the wanted bytes is a signature of any data, and a short
// block whose e-th power stays below n comes back by an integer root. The component's key generation
// makes e >= 50001, so its keys and texts are unaffected; the standard schemes, which check whole
// blocks, take any valid e.
constexpr Digit SmallestBlockExponent = 50001;

bool ExponentBelow(const BigNum& e, Digit bound) {
  return BNDigits(e, BigNumDigits) <= 1 && e.Digits[0] < bound;
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

void TRSA::RequireBlockKey(TKeyUse use) {
  RequireKey(use);
  // With the private key alone e is not known, and nothing is refused.
  if (FPublicLoaded && ExponentBelow(FPubExp, SmallestBlockExponent)) Fail<EInvalidKey>("Public exponent not valid");
}

}  // namespace Rsa
