// Small constant-time helpers on 64-bit limb arrays for the private-key code in rsa/ (prime recovery and
// the Chinese remainder theorem): conversions from and to 32-bit digits, masked comparison, selection,
// addition, subtraction, shifts and products. Every loop runs over counts given by the caller; no branch
// and no address depends on the values.
#pragma once

#include "bignum/ConstantTime.h"
#include "bignum/Montgomery.h"

namespace Rsa::CtLimbs {

// r[0 .. n-1] := the digits x[0 .. 2n-1] (digits at or past xDigits read as zero).
inline void FromDigits(Limb* r, const Digit* x, unsigned xDigits, unsigned n) {
  for (unsigned i = 0; i < n; ++i) {
    const Limb low = 2 * i < xDigits ? x[2 * i] : 0;
    const Limb high = 2 * i + 1 < xDigits ? x[2 * i + 1] : 0;
    r[i] = low | (high << 32);
  }
}

// a[0 .. aDigits-1] := the limbs x[0 .. n-1], digits past them zero.
inline void ToDigits(Digit* a, unsigned aDigits, const Limb* x, unsigned n) {
  for (unsigned i = 0; i < aDigits; ++i) a[i] = i < 2 * n ? static_cast<Digit>(x[i / 2] >> (32 * (i % 2))) : 0;
}

inline void Copy(Limb* r, const Limb* x, unsigned n) {
  for (unsigned i = 0; i < n; ++i) r[i] = x[i];
}

inline void Zero(Limb* r, unsigned n) {
  for (unsigned i = 0; i < n; ++i) r[i] = 0;
}

// All ones when x equals y over n limbs.
inline Limb MaskEqual(const Limb* x, const Limb* y, unsigned n) {
  Limb diff = 0;
  for (unsigned i = 0; i < n; ++i) diff |= x[i] ^ y[i];
  return ConstantTime::MaskIsZero(diff);
}

// All ones when x is zero over n limbs.
inline Limb MaskZero(const Limb* x, unsigned n) {
  Limb any = 0;
  for (unsigned i = 0; i < n; ++i) any |= x[i];
  return ConstantTime::MaskIsZero(any);
}

// r := x where mask is set, r kept where it is clear.
inline void SelectInto(Limb* r, const Limb* x, Limb mask, unsigned n) {
  for (unsigned i = 0; i < n; ++i) r[i] = ConstantTime::Select(mask, x[i], r[i]);
}

// Exchanges x and y where mask is set.
inline void Swap(Limb* x, Limb* y, Limb mask, unsigned n) {
  for (unsigned i = 0; i < n; ++i) {
    const Limb t = mask & (x[i] ^ y[i]);
    x[i] ^= t;
    y[i] ^= t;
  }
}

// r := x - (y & mask) over n limbs; returns the borrow (0 or 1). r may be x or y.
inline Limb SubMasked(Limb* r, const Limb* x, const Limb* y, Limb mask, unsigned n) {
  Limb borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(x[i]) - (y[i] & mask) - borrow;
    r[i] = static_cast<Limb>(t);
    borrow = static_cast<Limb>(t >> 64) & 1;
  }
  return borrow;
}

// r := x + (y & mask) over n limbs; returns the carry. r may be x or y.
inline Limb AddMasked(Limb* r, const Limb* x, const Limb* y, Limb mask, unsigned n) {
  Limb carry = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(x[i]) + (y[i] & mask) + carry;
    r[i] = static_cast<Limb>(t);
    carry = static_cast<Limb>(t >> 64);
  }
  return carry;
}

// All ones when x < y over n limbs.
inline Limb MaskLess(const Limb* x, const Limb* y, unsigned n) {
  Limb borrow = 0;
  for (unsigned i = 0; i < n; ++i) {
    const WideLimb t = static_cast<WideLimb>(x[i]) - y[i] - borrow;
    borrow = static_cast<Limb>(t >> 64) & 1;
  }
  return ConstantTime::MaskFromBit(borrow);
}

// x := x / 2 over n limbs, with top shifted in as the new top bit.
inline void HalveInto(Limb* x, unsigned n, Limb top = 0) {
  for (unsigned i = 0; i + 1 < n; ++i) x[i] = (x[i] >> 1) | (x[i + 1] << 63);
  x[n - 1] = (x[n - 1] >> 1) | (top << 63);
}

// r := x * y exactly (xn + yn limbs), schoolbook over the full lengths. r must not overlap x or y.
inline void Multiply(Limb* r, const Limb* x, unsigned xn, const Limb* y, unsigned yn) {
  Zero(r, xn + yn);
  for (unsigned i = 0; i < xn; ++i) {
    Limb carry = 0;
    for (unsigned j = 0; j < yn; ++j) {
      const WideLimb t = static_cast<WideLimb>(x[i]) * y[j] + r[i + j] + carry;
      r[i + j] = static_cast<Limb>(t);
      carry = static_cast<Limb>(t >> 64);
    }
    r[i + yn] = carry;
  }
}

// r := x mod m by one conditional subtraction per bit of x, from the top: xBits bits of x are read
// (its limbs up to (xBits + 63) / 64), m has n limbs and is not zero. r has n limbs; r may not be x.
inline void Reduce(Limb* r, const Limb* x, unsigned xBits, const Limb* m, unsigned n) {
  Zero(r, n);
  for (unsigned i = xBits; i-- > 0;) {
    const Limb bit = (x[i / 64] >> (i % 64)) & 1;
    // r := 2r + bit, which is below 2m; the bit shifted out at the top joins the comparison.
    const Limb top = r[n - 1] >> 63;
    for (unsigned j = n; j-- > 1;) r[j] = (r[j] << 1) | (r[j - 1] >> 63);
    r[0] = (r[0] << 1) | bit;
    Limb borrow = 0;
    for (unsigned j = 0; j < n; ++j) {
      const WideLimb t = static_cast<WideLimb>(r[j]) - m[j] - borrow;
      borrow = static_cast<Limb>(t >> 64) & 1;
    }
    SubMasked(r, r, m, ConstantTime::MaskFromBit<Limb>(top | (borrow ^ 1)), n);
  }
}

}  // namespace Rsa::CtLimbs

namespace Rsa {

// Turns a mask that is public by nature (whether a result passed its check, whether a probabilistic
// search succeeded) into a plain truth value, declassified (see bignum/Declassify.h).
bool PublicOutcome(Limb mask);

// The number of significant limbs of a secret x (n limbs), for a length that is public by nature (the
// size of a prime factor): counted under masks, then made public through PublicOutcome.
inline unsigned PublicLimbCount(const Limb* x, unsigned n) {
  Limb count = 0;
  for (unsigned i = 0; i < n; ++i) count = ConstantTime::Select(ConstantTime::MaskIsZero(x[i]), count, Limb{i + 1});
  for (unsigned i = 0; i < n; ++i)
    if (PublicOutcome(ConstantTime::MaskEqual<Limb>(count, i))) return i;
  return n;
}

}  // namespace Rsa
