// EME-OAEP (RFC 8017, 7.1): DB = lHash || 00..00 || 01 || M, masked with MGF1(seed); the seed masked
// with MGF1(maskedDB); EM = 00 || maskedSeed || maskedDB. Decoding runs in constant time in EM, in the
// manner of RFC 8017's note to 7.1.2: every check is made, the outcomes are combined in one mask, and
// the message is moved to the front of its buffer by shifts under a mask (one pass per bit of the
// offset), so neither the separator's position nor any check decides a branch or an address.
#include <cstring>

#include "bignum/ConstantTime.h"
#include "host/core/System.h"
#include "rsa/SchemeEncoding.h"

namespace Rsa::Schemes {

using ConstantTime::MaskEqual;
using ConstantTime::MaskIsZero;
using ConstantTime::Select;

void EncodeOaep(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* LabelDigest,
                const unsigned char* Message, std::size_t Size, const unsigned char* Seed, unsigned char* Em,
                std::size_t EmBytes) {
  const std::size_t hLen = Hash::DigestSize(Digest);
  const std::size_t dbLen = EmBytes - hLen - 1;
  unsigned char* seed = Em + 1;
  unsigned char* db = Em + 1 + hLen;
  Em[0] = 0x00;
  std::memcpy(seed, Seed, hLen);
  std::memcpy(db, LabelDigest, hLen);
  std::memset(db + hLen, 0, dbLen - hLen - Size - 1);
  db[dbLen - Size - 1] = 0x01;
  std::memcpy(db + dbLen - Size, Message, Size);
  Mgf1Xor(Mgf1Digest, seed, hLen, db, dbLen);
  Mgf1Xor(Mgf1Digest, db, dbLen, seed, hLen);
}

std::uint32_t DecodeOaep(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* LabelDigest,
                         const unsigned char* Em, std::size_t EmBytes, unsigned char* Message, std::size_t& Size) {
  const std::size_t hLen = Hash::DigestSize(Digest);
  const std::size_t dbLen = EmBytes - hLen - 1;
  const std::size_t maxLen = dbLen - hLen - 1;
  unsigned char seed[Hash::MaxDigestSize];
  unsigned char db[MaxEncodedBytes];
  std::memcpy(seed, Em + 1, hLen);
  std::memcpy(db, Em + 1 + hLen, dbLen);
  Mgf1Xor(Mgf1Digest, db, dbLen, seed, hLen);
  Mgf1Xor(Mgf1Digest, seed, hLen, db, dbLen);

  // The first byte zero, the label's digest, then zero bytes up to a 01.
  std::uint32_t good = MaskIsZero<std::uint32_t>(Em[0]) & EqualMask(db, LabelDigest, hLen);
  std::uint32_t looking = ~std::uint32_t{0}, invalid = 0, separator = 0;
  for (std::size_t i = hLen; i < dbLen; ++i) {
    const std::uint32_t b = db[i];
    const std::uint32_t isZero = MaskIsZero(b), isOne = MaskEqual<std::uint32_t>(b, 1);
    separator = Select(looking & isOne, std::uint32_t(i), separator);
    invalid |= looking & ~isZero & ~isOne;
    looking &= ~isOne;
  }
  good &= ~looking & ~invalid;

  // The message starts `offset` bytes into the area after lHash and the shortest padding (01 right
  // after lHash): shift that area left by offset, one power of two at a time.
  unsigned char* area = db + hLen + 1;
  const std::uint32_t offset = Select(good, separator - std::uint32_t(hLen), std::uint32_t(maxLen));
  for (std::size_t step = 1; step <= maxLen; step <<= 1) {
    const std::uint32_t shift = ~MaskIsZero<std::uint32_t>(offset & std::uint32_t(step));
    for (std::size_t i = 0; i < maxLen; ++i) {
      const std::uint32_t next = i + step < maxLen ? area[i + step] : 0;
      area[i] = static_cast<unsigned char>(Select<std::uint32_t>(shift, next, area[i]));
    }
  }
  std::memcpy(Message, area, maxLen);
  Size = std::size_t(good & (std::uint32_t(maxLen) - offset));
  System::WipeBytes(seed, sizeof seed);
  System::WipeBytes(db, sizeof db);
  return good;
}

}  // namespace Rsa::Schemes
