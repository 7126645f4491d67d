// Unwrapping with the component's own scheme, with the one check its block allows: EncryptKey leaves
// the top byte of every block zero, so a block whose top byte is not zero was not wrapped for this
// key, or the text was changed. That catches 255 of 256 such texts; the rest still unwrap to wrong
// bytes, and a wrong session key size cannot be noticed at all.
#pragma once

#include <string>

#include "rsa/RSA.h"

namespace Qrsa {

// Unwraps `text` with the private key in `rsa` (SymKeyLength as set) into `key`, as DecryptKey does,
// with its exceptions for texts that do not decode or have the wrong length. Raises Failure "the
// wrapped key was not made for this key, or it is damaged" when the block's top byte is not zero; `key`
// is then all zeros. The block is computed a second time for the check, by OpenSSL's constant-time
// exponentiation; the top byte is tested with a mask, and only the verdict leaves the routine.
void ComponentUnwrap(Rsa::TRSA& rsa, const std::string& text, Rsa::TSymKey& key);

}  // namespace Qrsa
