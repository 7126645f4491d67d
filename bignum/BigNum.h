// Multi-precision arithmetic on caller-owned arrays of 32-bit digits.
//
// Conventions shared by every routine:
// - A digit array holds a[0] + a[1]*2^32 + ... ; digit 0 is least significant. There is no sign and no
//   stored length: every array comes with its digit count, and no routine touches a digit beyond it.
// - The result array comes first, then the operands, then the counts.
// - No routine allocates memory, keeps state or reports errors. Every internal work area is a local of
//   fixed capacity (ScratchDigits, or ProductDigits for products) and is wiped with BNWipe before return.
// - Counts beyond the work-area capacities are outside the contract; debug builds assert the stated
//   preconditions.
// - Every routine says how its time behaves. "Constant time": neither a branch nor a memory address
//   depends on the values, only on the digit counts; these serve secrets (primes, private exponents,
//   values derived from them). "Variable time": branches on the values or their lengths; these serve
//   public values only (moduli, public exponents, the check of a public outcome).
//
// This header is internal to the component: applications use TRSA, not these routines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bignum/Digit.h"

namespace Rsa {

// Capacity, in digits, of each single-length work area.
inline constexpr unsigned ScratchDigits = 257;
// Capacity, in digits, of each double-length work area (full products, dividends).
inline constexpr unsigned ProductDigits = 2 * ScratchDigits;

// ---- Linear-time routines -------------------------------------------------------------------------

// a := b. a may be b. Constant time.
void BNAssign(Digit* a, const Digit* b, unsigned digits);
// a := 0. Constant time.
void BNAssignZero(Digit* a, unsigned digits);
// a := 2^k; a stays zero when k >= 32*digits. Variable time in k (a public bit position).
void BNAssign2Exp(Digit* a, unsigned k, unsigned digits);
// a := b + c mod 2^(32*digits); returns the carry (0 or 1). a may be b, c or both. Constant time.
Digit BNAdd(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := b - c mod 2^(32*digits); returns the borrow, 1 exactly when b < c. a may be b, c or both.
// Constant time.
Digit BNSub(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := b * 2^c mod 2^(32*digits); returns the bits shifted out at the top, right-aligned.
// A count c >= 32 is refused: nothing is written and 0 is returned. a may be b. Constant time in b
// (the count c is public).
Digit BNLShift(Digit* a, const Digit* b, unsigned c, unsigned digits);
// a := b div 2^c; returns the bits shifted out at the bottom, left-aligned.
// A count c >= 32 is refused: nothing is written and 0 is returned. a may be b. Constant time in b
// (the count c is public).
Digit BNRShift(Digit* a, const Digit* b, unsigned c, unsigned digits);
// +1 when a > b, -1 when a < b, 0 when equal (and for digits = 0). Variable time: stops at the first
// differing digit. For secrets, BNLessConstTime / BNEqualConstTime.
int BNCmp(const Digit* a, const Digit* b, unsigned digits);
// 1 when every digit is zero (and for digits = 0), else 0. Variable time; BNIsZeroConstTime for secrets.
int BNIsZero(const Digit* a, unsigned digits);
// Number of significant digits: index of the top non-zero digit plus one; 0 for zero. Variable time;
// BNDigitsConstTime for secrets.
unsigned BNDigits(const Digit* a, unsigned digits);
// Number of significant bits; 0 for zero. Variable time.
unsigned BNBits(const Digit* a, unsigned digits);
// Number of significant bits of one digit (0 to 32). Variable time.
unsigned DigitBits(Digit x);
// a := b + c*d over digits digits; returns the overflow digit. c = 0 returns 0 and leaves a = b: nothing
// is written when a is b, b is copied otherwise. a may be b; d must not overlap a. Variable time: the
// shortcut for c = 0 branches on c.
Digit BNAddDigitMult(Digit* a, const Digit* b, Digit c, const Digit* d, unsigned digits);
// a := b - c*d over digits digits; returns the digit still to subtract above. c = 0 returns 0 and leaves
// a = b: nothing is written when a is b, b is copied otherwise. a may be b; d must not overlap a.
// Variable time: the shortcut for c = 0 branches on c.
Digit BNSubDigitMult(Digit* a, const Digit* b, Digit c, const Digit* d, unsigned digits);
// a[1]*2^32 + a[0] := b*c exactly, from four 16x16-bit products. Variable time (its carries may branch).
void DigitMult(Digit a[2], Digit b, Digit c);
// a := (b[1]*2^32 + b[0]) div c. Requires b[1] < c and c >= 2^16. Variable time.
void DigitDiv(Digit* a, const Digit b[2], Digit c);
// Stores value into count bytes from area. The fill is called through a volatile function pointer: the
// optimiser cannot drop it, even when the area is a local that dies right after. Constant time.
void BNWipe(void* area, unsigned char value, std::size_t count);

// ---- Multiplication, division and remainder ----------------------------------------------------

// a := b*c exactly, over 2*digits digits. digits <= ScratchDigits. a may be b or c. Variable time: it
// multiplies the significant digits only. For secrets, BNMultConstTime.
void BNMult(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := c div d (cDigits digits), b := c mod d (dDigits digits). cDigits <= ProductDigits, significant
// digits of d <= ScratchDigits. a or b may be c or d; a and b must differ. A zero divisor writes
// nothing. Variable time: public values only.
void BNDiv(Digit* a, Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits);
// a := b mod c (cDigits digits). bDigits <= ProductDigits, significant digits of c <= ScratchDigits.
// a may be b or c. A zero divisor leaves a as it was. Variable time: public values only.
void BNMod(Digit* a, const Digit* b, unsigned bDigits, const Digit* c, unsigned cDigits);
// a := b*c mod d over digits digits. digits <= ScratchDigits. a may be b, c or both; b, c need not be
// below d. Variable time: public values only.
void BNModMult(Digit* a, const Digit* b, const Digit* c, const Digit* d, unsigned digits);

// ---- Modular exponentiation, inverse and gcd -------------------------------------------------------

// a := b^c mod d (dDigits digits). dDigits <= ScratchDigits; the exponent is read in place (any
// cDigits). Exponent zero gives 1, not reduced (also modulo 1). a may be b, c or d. b need not be below
// d. Constant time in the base and the exponent's bits for an odd modulus (every RSA modulus and prime
// candidate): time follows the modulus's length and the exponent's significant digit count, both
// public. Variable time for an even modulus (public values only).
void BNModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits);
// a := b^-1 mod c, below c for c > 1. Requires gcd(b, c) = 1 (not tested). digits <= ScratchDigits.
// a may be b or c. Variable time (Euclid's algorithm by division): public values only; secrets take
// BNModInvConstTime.
void BNModInv(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := gcd(b, c). digits <= ScratchDigits. a may be b or c. Variable time: public values only;
// secrets take BNGcdConstTime.
void BNGcd(Digit* a, const Digit* b, const Digit* c, unsigned digits);


// ---- Constant-time routines for secret values ------------------------------------------------------

// 1 when a < b, else 0. Constant time.
Digit BNLessConstTime(const Digit* a, const Digit* b, unsigned digits);
// 1 when a = b, else 0. Constant time.
Digit BNEqualConstTime(const Digit* a, const Digit* b, unsigned digits);
// 1 when every digit is zero, else 0. Constant time.
Digit BNIsZeroConstTime(const Digit* a, unsigned digits);
// Number of significant digits, as BNDigits. Constant time (it reads every digit).
unsigned BNDigitsConstTime(const Digit* a, unsigned digits);
// a := b when bit is 1, c when bit is 0 (bit must be 0 or 1). a may be b or c. Constant time.
void BNSelectConstTime(Digit* a, Digit bit, const Digit* b, const Digit* c, unsigned digits);
// Exchanges a and b when bit is 1, leaves both when bit is 0 (bit must be 0 or 1). Constant time.
void BNSwapConstTime(Digit* a, Digit* b, Digit bit, unsigned digits);
// a := b*c exactly, over 2*digits digits. digits <= ScratchDigits. a may be b or c. Constant time: every
// digit of both operands is multiplied.
void BNMultConstTime(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := gcd(b, c). Requires b or c odd (a gcd with a common factor 2 is outside the contract).
// 1 <= digits <= ScratchDigits. a may be b or c. Constant time: a fixed 64*digits binary steps, so pass
// the public length of the operands, not a full array, where speed matters.
void BNGcdConstTime(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := b^-1 mod c, below c. Requires gcd(b, c) = 1 (not tested), b < c, and b or c odd (so c may be
// even, as for d = e^-1 mod (p-1)(q-1), or b even with c odd, as for q^-1 mod p). 1 <= digits <=
// ScratchDigits. a may be b or c. Constant time: a fixed 64*digits binary steps.
void BNModInvConstTime(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// b mod m for a single digit m > 0. Constant time in b: a fixed 32*digits steps, no division.
Digit BNModDigitConstTime(const Digit* b, Digit m, unsigned digits);
// a := b*m + c over digits digits; returns the digit above. a may be b. Constant time.
Digit BNMultDigitAddConstTime(Digit* a, const Digit* b, Digit m, Digit c, unsigned digits);
// a := b / m for an odd single digit m that divides b (not tested; otherwise a is meaningless), over
// digits digits. a may be b. Constant time: multiplications only, no division.
void BNDivExactDigitConstTime(Digit* a, const Digit* b, Digit m, unsigned digits);

}  // namespace Rsa
