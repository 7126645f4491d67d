// The standard schemes' parameter checks.
#include "rsa/SchemeParameters.h"

namespace Rsa::Schemes {

std::string DigestTitle(Hash::THashKind Digest) {
  switch (Digest) {
    case Hash::THashKind::Sha1: return "SHA-1";
    case Hash::THashKind::Sha256: return "SHA-256";
    case Hash::THashKind::Sha384: return "SHA-384";
    case Hash::THashKind::Sha512: return "SHA-512";
  }
  return "an unknown digest";
}

void RequireDigestKind(TSchemeKey& Key, Hash::THashKind Digest) {
  if (unsigned(Digest) > unsigned(Hash::THashKind::Sha512)) Key.Fail<Sysutils::ERangeError>("Digest not valid");
}

void RequireSignatureDigest(TSchemeKey& Key, Hash::THashKind Digest) {
  RequireDigestKind(Key, Digest);
  if (Digest == Hash::THashKind::Sha1) Key.Fail<Sysutils::ERangeError>("SHA-1 is not accepted for signatures");
}

void RequireDigestLength(TSchemeKey& Key, Hash::THashKind Digest, std::size_t Size) {
  if (Size != Hash::DigestSize(Digest)) Key.Fail<Sysutils::ERangeError>("Digest has incorrect length");
}

}  // namespace Rsa::Schemes
