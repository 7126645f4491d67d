#include "cli/Digest.h"

#include <cctype>
#include <vector>

#include "cli/Failure.h"
#include "cli/InputStream.h"

namespace Qrsa {

Hash::THashKind ParseDigest(const std::string& name, bool withSha1) {
  std::string lower = name;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "sha256") return Hash::THashKind::Sha256;
  if (lower == "sha384") return Hash::THashKind::Sha384;
  if (lower == "sha512") return Hash::THashKind::Sha512;
  if (withSha1 && lower == "sha1") return Hash::THashKind::Sha1;
  throw Failure(std::string("the digest must be ") + (withSha1 ? "sha1, " : "") + "sha256, sha384 or sha512, not '" +
                name + "'");
}

std::string InputDigest(Hash::THashKind kind, const std::string& path) {
  InputStream in(path);
  Hash::THash hash(kind);
  std::vector<char> buffer(std::size_t(1) << 16);
  while (const std::size_t got = in.Read(buffer.data(), buffer.size())) hash.Update(buffer.data(), got);
  std::string digest(hash.DigestSize(), '\0');
  hash.Final(reinterpret_cast<unsigned char*>(digest.data()));
  return digest;
}

std::string DigestInfo(Hash::THashKind kind, const std::string& digest) {
  // SEQUENCE { SEQUENCE { OID, NULL }, OCTET STRING (digest) }.
  switch (kind) {
    case Hash::THashKind::Sha256:
      return std::string("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20", 19) + digest;
    case Hash::THashKind::Sha384:
      return std::string("\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30", 19) + digest;
    case Hash::THashKind::Sha512:
      return std::string("\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40", 19) + digest;
    case Hash::THashKind::Sha1:
      break;
  }
  throw Failure("SHA-1 signs nothing here");
}

}  // namespace Qrsa
