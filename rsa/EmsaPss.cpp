// EMSA-PSS (RFC 8017, 9.1): H = Hash(00 x 8 || mHash || salt), DB = 00..00 01 || salt masked with
// MGF1(H), EM = maskedDB || H || BC, with the bits of EM above emBits cleared.
#include <cstring>

#include "rsa/SchemeEncoding.h"

namespace Rsa::Schemes {

namespace {

constexpr unsigned char Zeros[8] = {};

void SaltedDigest(Hash::THashKind Digest, const unsigned char* MessageDigest, const unsigned char* Salt,
                  std::size_t SaltSize, unsigned char* Out) {
  Hash::THash hash(Digest);
  hash.Update(Zeros, sizeof Zeros);
  hash.Update(MessageDigest, hash.DigestSize());
  hash.Update(Salt, SaltSize);
  hash.Final(Out);
}

// The bits of the first byte that lie within emBits.
unsigned char TopByteMask(std::size_t EmBytes, std::size_t EmBits) {
  return static_cast<unsigned char>(0xff >> (8 * EmBytes - EmBits));
}

}  // namespace

void EncodePss(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* MessageDigest,
               const unsigned char* Salt, std::size_t SaltSize, unsigned char* Em, std::size_t EmBytes,
               std::size_t EmBits) {
  const std::size_t hLen = Hash::DigestSize(Digest);
  const std::size_t dbLen = EmBytes - hLen - 1;
  SaltedDigest(Digest, MessageDigest, Salt, SaltSize, Em + dbLen);
  std::memset(Em, 0, dbLen - SaltSize - 1);
  Em[dbLen - SaltSize - 1] = 0x01;
  std::memcpy(Em + dbLen - SaltSize, Salt, SaltSize);
  Mgf1Xor(Mgf1Digest, Em + dbLen, hLen, Em, dbLen);
  Em[0] &= TopByteMask(EmBytes, EmBits);
  Em[EmBytes - 1] = 0xbc;
}

bool VerifyPssVarTime(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* MessageDigest,
                      const unsigned char* Em, std::size_t EmBytes, std::size_t EmBits, long SaltSize) {
  const std::size_t hLen = Hash::DigestSize(Digest);
  if (EmBytes < hLen + 2 || EmBytes > MaxEncodedBytes) return false;
  if (SaltSize >= 0 && EmBytes - hLen - 2 < std::size_t(SaltSize)) return false;
  if (Em[EmBytes - 1] != 0xbc) return false;
  const std::size_t dbLen = EmBytes - hLen - 1;
  const unsigned char top = TopByteMask(EmBytes, EmBits);
  if ((Em[0] & ~top) != 0) return false;

  unsigned char db[MaxEncodedBytes];
  std::memcpy(db, Em, dbLen);
  Mgf1Xor(Mgf1Digest, Em + dbLen, hLen, db, dbLen);
  db[0] &= top;
  // The padding: zero bytes up to the 01 that comes before the salt.
  std::size_t one = 0;
  while (one < dbLen && db[one] == 0) ++one;
  if (one == dbLen || db[one] != 0x01) return false;
  const std::size_t saltSize = dbLen - one - 1;
  if (SaltSize >= 0 && saltSize != std::size_t(SaltSize)) return false;

  unsigned char expected[Hash::MaxDigestSize];
  SaltedDigest(Digest, MessageDigest, db + one + 1, saltSize, expected);
  return std::memcmp(expected, Em + dbLen, hLen) == 0;
}

}  // namespace Rsa::Schemes
