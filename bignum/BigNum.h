// Multi-precision arithmetic on caller-owned arrays of 32-bit digits.
//
// Conventions shared by every routine:
// - A digit array holds a[0] + a[1]*2^32 + ... ; digit 0 is least significant. There is no sign and no
//   stored length: every array comes with its digit count, and no routine touches a digit beyond it.
// - The result array comes first, then the operands, then the counts.
// - No routine allocates memory, keeps state or reports errors. Every internal work area is a local of
//   fixed capacity (ScratchDigits, or twice that for products) and is wiped with BNWipe before return.
// - Counts beyond the work-area capacities are outside the contract.
//
// This header is internal to the component: applications use TRSA, not these routines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bignum/Digit.h"

namespace Rsa {

// Capacity, in digits, of each single-length work area; products use twice this.
inline constexpr unsigned ScratchDigits = 257;

// ---- Linear-time routines -------------------------------------------------------------------------

// a := b. a may be b.
void BNAssign(Digit* a, const Digit* b, unsigned digits);
// a := 0.
void BNAssignZero(Digit* a, unsigned digits);
// a := 2^k; a stays zero when k >= 32*digits.
void BNAssign2Exp(Digit* a, unsigned k, unsigned digits);
// a := b + c mod 2^(32*digits); returns the carry (0 or 1). a may be b, c or both.
Digit BNAdd(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := b - c mod 2^(32*digits); returns the borrow, 1 exactly when b < c. a may be b, c or both.
Digit BNSub(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := b * 2^c mod 2^(32*digits); returns the bits shifted out at the top, right-aligned.
// A count c >= 32 is refused: nothing is written and 0 is returned. a may be b.
Digit BNLShift(Digit* a, const Digit* b, unsigned c, unsigned digits);
// a := b div 2^c; returns the bits shifted out at the bottom, left-aligned.
// A count c >= 32 is refused: nothing is written and 0 is returned. a may be b.
Digit BNRShift(Digit* a, const Digit* b, unsigned c, unsigned digits);
// +1 when a > b, -1 when a < b, 0 when equal (and for digits = 0).
int BNCmp(const Digit* a, const Digit* b, unsigned digits);
// 1 when every digit is zero (and for digits = 0), else 0.
int BNIsZero(const Digit* a, unsigned digits);
// Number of significant digits: index of the top non-zero digit plus one; 0 for zero.
unsigned BNDigits(const Digit* a, unsigned digits);
// Number of significant bits; 0 for zero.
unsigned BNBits(const Digit* a, unsigned digits);
// Number of significant bits of one digit (0 to 32).
unsigned DigitBits(Digit x);
// a := b + c*d over digits digits; returns the overflow digit. c = 0 returns 0 and leaves a = b: nothing
// is written when a is b, b is copied otherwise. a may be b; d must not overlap a.
Digit BNAddDigitMult(Digit* a, const Digit* b, Digit c, const Digit* d, unsigned digits);
// a := b - c*d over digits digits; returns the digit still to subtract above. c = 0 returns 0 and leaves
// a = b: nothing is written when a is b, b is copied otherwise. a may be b; d must not overlap a.
Digit BNSubDigitMult(Digit* a, const Digit* b, Digit c, const Digit* d, unsigned digits);
// a[1]*2^32 + a[0] := b*c exactly, from four 16x16-bit products.
void DigitMult(Digit a[2], Digit b, Digit c);
// a := (b[1]*2^32 + b[0]) div c. Requires b[1] < c and c >= 2^16 (not checked).
void DigitDiv(Digit* a, const Digit b[2], Digit c);
// Stores value into count bytes from area. The fill is called through a volatile function pointer: the
// optimiser cannot drop it, even when the area is a local that dies right after.
void BNWipe(void* area, unsigned char value, std::size_t count);

// ---- Multiplication, division and remainder ----------------------------------------------------

// a := b*c exactly, over 2*digits digits. digits <= 257. a may be b or c.
void BNMult(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := c div d (cDigits digits), b := c mod d (dDigits digits). cDigits <= 514, significant digits of
// d <= 257. a or b may be c or d; a and b must differ. A zero divisor writes nothing.
void BNDiv(Digit* a, Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits);
// a := b mod c (cDigits digits). bDigits <= 514, significant digits of c <= 257. a may be b or c.
// A zero divisor leaves a as it was.
void BNMod(Digit* a, const Digit* b, unsigned bDigits, const Digit* c, unsigned cDigits);
// a := b*c mod d over digits digits. digits <= 257. a may be b, c or both; b, c need not be below d.
void BNModMult(Digit* a, const Digit* b, const Digit* c, const Digit* d, unsigned digits);

// ---- Modular exponentiation, inverse and gcd -------------------------------------------------------

// a := b^c mod d (dDigits digits). dDigits <= 257; the exponent is read in place (any cDigits).
// Exponent zero gives 1, not reduced (also modulo 1). a may be b, c or d. b need not be below d.
void BNModExp(Digit* a, const Digit* b, const Digit* c, unsigned cDigits, const Digit* d, unsigned dDigits);
// a := b^-1 mod c, below c for c > 1. Requires gcd(b, c) = 1 (not tested). digits <= 257. a may be b or c.
void BNModInv(Digit* a, const Digit* b, const Digit* c, unsigned digits);
// a := gcd(b, c). digits <= 257. a may be b or c.
void BNGcd(Digit* a, const Digit* b, const Digit* c, unsigned digits);

}  // namespace Rsa
