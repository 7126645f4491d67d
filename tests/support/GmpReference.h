// Independent reference computations for the RSA operations' tests: key store numbers as GMP integers,
// GMP arithmetic on byte blocks and a radix-64 encoder written from the bit-stream description, sharing no code with the component.
#pragma once

#include <string>

#include "rsa/RSA.h"
#include "support/DigitsGmp.h"

namespace Testing {

// A key store number as a GMP integer, and back (the value must fit 132 digits; otherwise
// std::length_error).
Mpz MpzOf(const Rsa::BigNum& x);
Rsa::BigNum BigNumOf(const Mpz& v);

// The little-endian image (byte 0 least significant) of block^exponent mod modulus, `bytes` long.
// block is a little-endian byte string; exponent and modulus are hexadecimal, most significant first.
std::string GmpModPowLE(const std::string& block, const char* exponentHex, const char* modulusHex, int bytes);

// Radix-64 text: the bytes as one bit stream, most significant bit of each byte first, cut into 6-bit
// groups from the front (the last one filled with zero bits), each group written as a character of
// "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz".
std::string ReferenceRadix64(const std::string& bytes);

}  // namespace Testing
