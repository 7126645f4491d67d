// Constant-time building blocks for code that handles secret values: masks made without comparisons or
// branches, selection under a mask, and a barrier that keeps the optimiser from turning a mask back into
// a branch. A mask is all ones (true) or all zeros (false).
#pragma once

#include <cstdint>

namespace Rsa::ConstantTime {

// Hides a value from the optimiser, so that it cannot reason about which of two values a mask holds and
// replace an arithmetic selection by a conditional jump.
template <typename T>
inline T ValueBarrier(T x) {
#if defined(__GNUC__) || defined(__clang__)
  __asm__("" : "+r"(x));
  return x;
#else
  volatile T v = x;
  return v;
#endif
}

// All ones when bit is 1, zero when bit is 0 (bit must be 0 or 1).
template <typename T>
inline T MaskFromBit(T bit) {
  return ValueBarrier(static_cast<T>(T{0} - bit));
}

// All ones when x is zero.
template <typename T>
inline T MaskIsZero(T x) {
  constexpr unsigned TopBit = sizeof(T) * 8 - 1;
  // x | -x has its top bit set exactly when x is not zero.
  return MaskFromBit(static_cast<T>(static_cast<T>(~(x | static_cast<T>(T{0} - x))) >> TopBit));
}

// All ones when x equals y.
template <typename T>
inline T MaskEqual(T x, T y) {
  return MaskIsZero(static_cast<T>(x ^ y));
}

// x where the mask is set, y where it is clear.
template <typename T>
inline T Select(T mask, T x, T y) {
  return static_cast<T>(y ^ (mask & (x ^ y)));
}

}  // namespace Rsa::ConstantTime
