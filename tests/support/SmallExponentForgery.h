// Signatures forged from a public key alone for the component's block schemes under a small public
// exponent, which compare only the low bytes of the recovered block.
#pragma once

#include <string>

#include "rsa/RSA.h"

namespace Testing {

// The K-byte little-endian image of s with (s^e mod n) ending in the bytes x (x[0] least significant).
// For odd x, s is the e-th root of x modulo 2^(8 |x|), which exists since e is odd, and s^e stays below n
// while e * 8|x| is below n's bits. For even x, s = n - t with t the root of n - x (odd) modulo 2^(8 |x|):
// s^e = n - t^e modulo n, which ends in x. Checks with GMP that the forgery holds (a test failure if not).
std::string ForgedSignature(const Rsa::BigNum& n, unsigned long e, const std::string& x, int keyBytes);

// The DER DigestInfo prefix of SHA-256 and of SHA-512, as signatures with --digest carry it.
std::string Sha256InfoPrefix();
std::string Sha512InfoPrefix();

}  // namespace Testing
