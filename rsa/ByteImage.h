// The little-endian byte image of a BigNum: byte i holds bits 8i to 8i+7, so digit j supplies bytes
// 4j to 4j+3, least significant first. Computed from digit values, never by copying memory, so the
// bytes are the same on every byte order.
#pragma once

#include "bignum/BigNum.h"
#include "rsa/RSA.h"

namespace Rsa {

// Bytes in the image of one BigNum.
inline constexpr int BigNumImageBytes = 4 * BigNumDigits;

inline unsigned char ImageByte(const BigNum& x, int i) {
  return static_cast<unsigned char>(x.Digits[i / 4] >> (8 * (i % 4)));
}

inline void SetImageByte(BigNum& x, int i, unsigned char b) {
  const unsigned shift = 8 * unsigned(i % 4);
  Digit& d = x.Digits[i / 4];
  d = (d & ~(Digit(0xff) << shift)) | (Digit(b) << shift);
}

// Bytes 0 to count-1 of x's image into out.
inline void ImageToBytes(const BigNum& x, unsigned char* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = ImageByte(x, i);
}

// count bytes from in over bytes 0 to count-1 of x's image; the other bytes keep their values.
inline void BytesToImage(BigNum& x, const unsigned char* in, int count) {
  for (int i = 0; i < count; ++i) SetImageByte(x, i, in[i]);
}

}  // namespace Rsa
