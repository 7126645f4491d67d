// Digests for signatures of data of any length: the DER DigestInfo that PKCS#1 v1.5 signs.
#pragma once

#include <string>

namespace Qrsa {

enum class DigestKind { Sha256, Sha384, Sha512 };

// "sha256", "sha384" or "sha512" (either case); a Failure naming the choices otherwise.
DigestKind ParseDigest(const std::string& name);

// The DER DigestInfo (algorithm identifier, then the digest) of the whole input: the file at path, or
// standard input when path is empty or "-". Read in pieces, so any size fits. 51, 67 or 83 bytes.
std::string DigestInfo(DigestKind kind, const std::string& path);

}  // namespace Qrsa
