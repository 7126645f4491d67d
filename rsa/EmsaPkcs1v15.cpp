// EMSA-PKCS1-v1_5 (RFC 8017, 9.2): 00 01, at least eight FF bytes, 00, then the DER DigestInfo of the
// digest. The prefixes below are the only DER encodings of the algorithm identifiers (with their NULL
// parameters, as RFC 8017 gives them in note 1 of 9.2).
#include <cstring>

#include "rsa/SchemeEncoding.h"

namespace Rsa::Schemes {

namespace {

constexpr unsigned char Sha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                        0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr unsigned char Sha256Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                          0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr unsigned char Sha384Prefix[] = {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                          0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr unsigned char Sha512Prefix[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                          0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

}  // namespace

const unsigned char* DigestInfoPrefix(Hash::THashKind Digest, std::size_t& Size) {
  switch (Digest) {
    case Hash::THashKind::Sha1: Size = sizeof Sha1Prefix; return Sha1Prefix;
    case Hash::THashKind::Sha256: Size = sizeof Sha256Prefix; return Sha256Prefix;
    case Hash::THashKind::Sha384: Size = sizeof Sha384Prefix; return Sha384Prefix;
    case Hash::THashKind::Sha512: break;
  }
  Size = sizeof Sha512Prefix;
  return Sha512Prefix;
}

std::size_t Pkcs1v15MinimumBytes(Hash::THashKind Digest) {
  std::size_t prefix = 0;
  DigestInfoPrefix(Digest, prefix);
  return prefix + Hash::DigestSize(Digest) + 11;
}

void EncodePkcs1v15(Hash::THashKind Digest, const unsigned char* MessageDigest, unsigned char* Em,
                    std::size_t EmBytes) {
  std::size_t prefixSize = 0;
  const unsigned char* prefix = DigestInfoPrefix(Digest, prefixSize);
  const std::size_t hLen = Hash::DigestSize(Digest);
  const std::size_t tLen = prefixSize + hLen;
  Em[0] = 0x00;
  Em[1] = 0x01;
  std::memset(Em + 2, 0xff, EmBytes - tLen - 3);
  Em[EmBytes - tLen - 1] = 0x00;
  std::memcpy(Em + EmBytes - tLen, prefix, prefixSize);
  std::memcpy(Em + EmBytes - hLen, MessageDigest, hLen);
}

}  // namespace Rsa::Schemes
