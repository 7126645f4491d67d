// Independent reference computations for the RSA operations' tests: GMP arithmetic on byte blocks and
// a radix-64 encoder written from the bit-stream description, sharing no code with the component.
#pragma once

#include <string>

namespace Testing {

// The little-endian image (byte 0 least significant) of block^exponent mod modulus, `bytes` long.
// block is a little-endian byte string; exponent and modulus are hexadecimal, most significant first.
std::string GmpModPowLE(const std::string& block, const char* exponentHex, const char* modulusHex, int bytes);

// Radix-64 text: the bytes as one bit stream, most significant bit of each byte first, cut into 6-bit
// groups from the front (the last one filled with zero bits), each group written as a character of
// "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz".
std::string ReferenceRadix64(const std::string& bytes);

}  // namespace Testing
