// Checks of the standard schemes' parameters shared by the signature and encryption routines
// (internal to rsa/). Each refusal is reported through the key, status first.
#pragma once

#include <string>

#include "hash/Hash.h"
#include "rsa/SchemeKey.h"

namespace Rsa::Schemes {

// The digest's name as standards write it: "SHA-1", "SHA-256", "SHA-384", "SHA-512".
std::string DigestTitle(Hash::THashKind Digest);
// Refuses a value that is none of the four digests.
void RequireDigestKind(TSchemeKey& Key, Hash::THashKind Digest);
// Refuses SHA-1 (and anything not a digest) as a signature's digest.
void RequireSignatureDigest(TSchemeKey& Key, Hash::THashKind Digest);
// Refuses a precomputed digest of the wrong length.
void RequireDigestLength(TSchemeKey& Key, Hash::THashKind Digest, std::size_t Size);

}  // namespace Rsa::Schemes
