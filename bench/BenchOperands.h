// Operands shared by the benchmarks: the same numbers go to our routines, OpenSSL and GMP.
#pragma once

#include <openssl/bn.h>

#include <cstdint>
#include <random>
#include <vector>

#include "rsa/RSA.h"

namespace Bench {

using Rsa::BigNum;
using Rsa::Digit;

// A number as the component holds it (132 digits, least significant first) and as OpenSSL holds it.
struct Number {
  BigNum digits{};
  BIGNUM* bn = nullptr;
};

// A uniformly random number of exactly bits bits (top bit set), odd if asked, from a fixed seed.
BigNum RandomDigits(std::mt19937_64& engine, unsigned bits, bool odd);

// The OpenSSL copy of a digit array of 132 digits; the caller frees it.
BIGNUM* ToOpenSsl(const BigNum& x);
// The digit array of an OpenSSL number (at most 132 digits).
BigNum FromOpenSsl(const BIGNUM* x);

// Operands of one exponentiation size: a modulus of bits bits, a base below it and an exponent of the
// same length, in both forms.
struct ModExpOperands {
  BigNum base{}, exponent{}, modulus{};
};
const ModExpOperands& OperandsFor(unsigned bits);

// The private-key comparisons at 1024 and 2048 bits with both sides on their scalar code (OpenSSL with its
// AVX-512 IFMA path masked, ours on the ADX/BMI2 kernels, or the portable ones without them): registered
// only in the child process that the runner starts with that configuration in its environment.
void RegisterScalarPeerBenchmarks();
// The private-key operation and the exponentiation at 2048 bits with both sides on code for a processor
// without ADX and BMI2 (OpenSSL with ADX, BMI2, AVX2 and IFMA masked, ours on the portable kernels):
// registered only in the child process that the runner starts with that configuration.
void RegisterPortablePrivateBenchmarks();
void RegisterPortableModExpBenchmarks();

}  // namespace Bench
