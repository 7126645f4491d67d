// EMSA-PSS verification. The first byte picks the digest, the MGF1 digest, the block length (k of 64 to
// 512 bytes, and whether emBits is 8k - 1 or 8k - 8, a modulus one bit into its top byte) and what
// the rest is: either an encoded block as it stands, or the salt of a block the target encodes itself,
// then alters at a position and with a value the next bytes give (value 0: unaltered). An unaltered
// block verifies with its salt length and with any; an altered one with neither; a block that
// verifies with any salt length verifies with the length it carries, and no other.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "rsa/SchemeEncoding.h"

using Hash::THashKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const THashKind digest = THashKind(data[0] & 3), mgf1 = THashKind(data[0] >> 2 & 3);
  static const std::size_t lengths[] = {64, 128, 256, 512};
  const std::size_t k = lengths[data[0] >> 4 & 3];
  const std::size_t emBits = data[0] & 0x40 ? 8 * k - 1 : 8 * k - 8;
  const std::size_t emBytes = (emBits + 7) / 8;
  const bool encode = data[0] & 0x80;
  const std::size_t hLen = Hash::DigestSize(digest);
  if (emBytes < hLen + 2) return 0;

  unsigned char mHash[Hash::MaxDigestSize];
  Hash::Digest(digest, &data[1], 1, mHash);
  unsigned char em[Rsa::Schemes::MaxEncodedBytes] = {};
  if (encode) {
    const std::size_t at = (std::size_t(data[2]) << 8 | data[3]) % emBytes;
    const std::uint8_t flip = data[1];
    const std::size_t saltSize = std::min(size - 4, emBytes - hLen - 2);
    Rsa::Schemes::EncodePss(digest, mgf1, mHash, data + 4, saltSize, em, emBytes, emBits);
    em[at] ^= flip;
    const bool given = Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, long(saltSize));
    const bool any = Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, -1);
    FUZZ_CHECK(given == (flip == 0));
    FUZZ_CHECK(any == (flip == 0));
    if (saltSize > 0) FUZZ_CHECK(!Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, long(saltSize - 1)));
  } else {
    std::memcpy(em, data + 1, std::min(size - 1, emBytes));
    if (Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, -1)) {
      int lengthsThatVerify = 0;
      for (long salt = 0; salt + long(hLen) + 2 <= long(emBytes); ++salt)
        lengthsThatVerify += Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, salt);
      FUZZ_CHECK(lengthsThatVerify == 1);
    } else {
      FUZZ_CHECK(!Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, long(hLen)));
      FUZZ_CHECK(!Rsa::Schemes::VerifyPssVarTime(digest, mgf1, mHash, em, emBytes, emBits, 0));
    }
  }
  return 0;
}
