// Digests for the signatures of data of any length: the input's digest, read in pieces, and the DER
// DigestInfo that PKCS#1 v1.5 and the component scheme's --digest sign. The digests are the hash
// library's own.
#pragma once

#include <string>

#include "hash/Hash.h"

namespace Qrsa {

// "sha256", "sha384" or "sha512" (either case), and "sha1" too when `withSha1` is set (OAEP and MGF1
// only, never a signature); a Failure naming the choices otherwise.
Hash::THashKind ParseDigest(const std::string& name, bool withSha1 = false);

// The digest of the whole input: the file at path, or standard input when path is empty or "-". Read
// in pieces, so any size fits.
std::string InputDigest(Hash::THashKind kind, const std::string& path);

// The DER DigestInfo (algorithm identifier, then the digest) of a SHA-256, SHA-384 or SHA-512 digest:
// 51, 67 or 83 bytes.
std::string DigestInfo(Hash::THashKind kind, const std::string& digest);

}  // namespace Qrsa
