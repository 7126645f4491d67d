// Two Montgomery exponentiations at once on the AVX-512 integer fused multiply-add (IFMA) units, for the
// two halves of a private-key operation by the Chinese remainder theorem.
//
// Values are held in 52-bit limbs, eight to a 512-bit vector register, and multiplied by the 52-bit
// multiply-accumulate instructions (low and high halves of each product). The two exponentiations are
// independent, so their products are interleaved step by step: each fills the multiplier's latency
// left by the other. Which processors run this is decided once at start-up; everywhere else the scalar
// kernels of Montgomery.h run unchanged.
#pragma once

#include "bignum/Montgomery.h"

namespace Rsa {

// True when this build has the kernel and the processor and the operating system can run it (IFMA,
// AVX-512 F and VL in cpuid, and the vector state enabled by the operating system in XCR0). Checked once.
bool IfmaAvailable();

// True when the dual exponentiation serves moduli of this many significant 64-bit limbs: 8, 16, 24 and
// 32 (the halves of 1024- to 4096-bit keys).
bool IfmaDualSupports(unsigned limbs);

// a1 := b1^c1 mod m1 and a2 := b2^c2 mod m2, where mod1 and mod2 hold the odd moduli m1 and m2, both of
// the same supported limb count (IfmaDualSupports), and IfmaAvailable() is true. Both bases have
// bDigits digits and need not be below their modulus; the results are written over aDigits digits
// (aDigits at least the moduli's significant digits). Same results as BNModExpMontgomery, exponent
// zero included (1). Constant time: both exponentiations are cut into the same number of fixed windows,
// taken from the longer exponent's significant digit count, and nothing else about the bases or the
// exponents decides a branch, a loop count or a memory address. A result may overlap its own base or
// exponent, and nothing else.
void ModExpDualIfma(Digit* a1, const Digit* b1, const Digit* c1, unsigned c1Digits, const MontModulus& mod1,
                    Digit* a2, const Digit* b2, const Digit* c2, unsigned c2Digits, const MontModulus& mod2,
                    unsigned bDigits, unsigned aDigits);

}  // namespace Rsa
