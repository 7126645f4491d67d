// Two Montgomery exponentiations at once on the AVX-512 integer fused multiply-add (IFMA) units, for the
// two halves of a private-key operation by the Chinese remainder theorem.
//
// Values are held in 52-bit limbs, eight to a 512-bit vector register, and multiplied by the 52-bit
// multiply-accumulate instructions (low and high halves of each product). The two exponentiations are
// independent, so their products are interleaved step by step: each fills the multiplier's latency
// left by the other. SelectMontExpPair hands this pair out where the kernel family chosen for the
// process is IFMA (see SelectedMontKernel); everywhere else the scalar kernels run unchanged.
#pragma once

#include "bignum/Montgomery.h"

namespace Rsa {

// True when this build has the kernel and the processor and the operating system can run it (IFMA,
// AVX-512 F and VL in cpuid, and the vector state enabled by the operating system in XCR0). Checked once.
bool IfmaAvailable();

// True when MontExpPairIfma serves these two moduli: the same limb count, 8, 16, 24 or 32 limbs (the
// halves of 1024- to 4096-bit keys).
bool IfmaPairSupports(const MontModulus& first, const MontModulus& second);

// The pair of MontExp (same contract for each job: bases in Montgomery form below their modulus, results
// in Montgomery form, fully reduced) for moduli that IfmaPairSupports accepts, on a processor where
// IfmaAvailable() holds. Constant time: both exponentiations run the same fixed windows over the longer
// exponent length, and nothing about the bases or the exponents' bits decides a branch, a loop count or
// a memory address; time depends on the limb count and the two exponent lengths only.
void MontExpPairIfma(const MontExpJob& first, const MontExpJob& second);
// The same, but each r receives the ordinary value (base/R)^exponent mod m (below m) rather than its
// Montgomery form: what the recombination of the two halves needs, without the scalar products that
// would make the form and take it apart again.
void MontPowerPairIfma(const MontExpJob& first, const MontExpJob& second);

// One exponentiation on the same kernel, for moduli of 16, 24 or 32 limbs (IfmaSingleSupports), on a
// processor where IfmaAvailable() holds. The kernel's products are bound by the multiplier's latency,
// not its throughput, so one exponentiation alone still gains most of what a pair gains over the
// scalar rows; at 8 limbs the scalar kernel is faster. Same contract as MontExp; constant time, its
// time depending on the limb count and expBits only.
inline constexpr unsigned IfmaSingleLimbs = 16;
bool IfmaSingleSupports(const MontModulus& mod);
void MontExpIfma(const MontExpJob& job);
// MontExpPublicVarTime on the same kernel, for the same moduli: square-and-multiply over a public
// exponent's significant bits, constant time in the base.
void MontExpPublicIfmaVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod);
// The same, but r receives the ordinary value base^c/R mod m (below m) rather than its Montgomery form.
void MontPowerPublicIfmaVarTime(Limb* r, const Limb* base, const Digit* c, unsigned cDigits, const MontModulus& mod);

}  // namespace Rsa
