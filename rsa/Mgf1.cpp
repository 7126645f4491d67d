// MGF1 (RFC 8017, B.2.1): the mask is Hash(seed || C) for the 32-bit big-endian counters C = 0, 1, ...,
// cut to the length wanted. Also the constant-time comparison the schemes share.
#include "bignum/ConstantTime.h"
#include "host/core/System.h"
#include "rsa/SchemeEncoding.h"

namespace Rsa::Schemes {

void Mgf1Xor(Hash::THashKind Digest, const unsigned char* Seed, std::size_t SeedSize, unsigned char* Out,
             std::size_t Size) {
  Hash::THash hash(Digest);
  const std::size_t hLen = hash.DigestSize();
  unsigned char block[Hash::MaxDigestSize];
  std::uint32_t counter = 0;
  for (std::size_t done = 0; done < Size; done += hLen, ++counter) {
    const unsigned char c[4] = {static_cast<unsigned char>(counter >> 24), static_cast<unsigned char>(counter >> 16),
                                static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
    hash.Update(Seed, SeedSize);
    hash.Update(c, sizeof c);
    hash.Final(block);
    const std::size_t n = Size - done < hLen ? Size - done : hLen;
    for (std::size_t i = 0; i < n; ++i) Out[done + i] ^= block[i];
  }
  System::WipeBytes(block, sizeof block);
}

std::uint32_t EqualMask(const unsigned char* a, const unsigned char* b, std::size_t Size) {
  std::uint32_t diff = 0;
  for (std::size_t i = 0; i < Size; ++i) diff |= std::uint32_t(a[i] ^ b[i]);
  return ConstantTime::MaskIsZero(diff);
}

}  // namespace Rsa::Schemes
