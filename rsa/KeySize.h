// Whether the loaded modulus suits the key size that the RSA operations use to lay out their blocks.
#pragma once

#include "bignum/BigNum.h"
#include "rsa/RSA.h"

namespace Rsa {

// The operations write each result as the K-byte image (K = 4 * precision) and build blocks below
// 2^(8(K-1)). Both are sound only for a modulus of exactly K bytes: its byte K-1 non-zero and nothing
// above it. A larger modulus would lose the result's top bytes; a smaller one (or zero) would reduce
// the blocks and return wrong bytes. Generated keys and full-length key texts always satisfy this.
inline bool ModulusFitsKeySize(const BigNum& n, int precision) {
  if (precision <= 0 || precision > int(BigNumDigits)) return false;
  for (unsigned i = unsigned(precision); i < BigNumDigits; ++i)
    if (n.Digits[i] != 0) return false;
  return (n.Digits[precision - 1] >> 24) != 0;
}

// Message of the refusal when the modulus does not suit the key size.
inline constexpr const char* ModulusSizeMessage = "Modulus does not match the key size";

}  // namespace Rsa
