// The encodings of the standard schemes (RFC 8017) on byte strings, apart from any key (internal to
// rsa/; the fuzz targets and the timing check use them directly): MGF1, EMSA-PKCS1-v1_5, EMSA-PSS and
// EME-OAEP. Lengths are the caller's to check against the limits given; every length is at most
// MaxEncodedBytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/Hash.h"

namespace Rsa::Schemes {

// The longest encoded block: k of a 4096-bit key, with room to spare (the image of a BigNum).
inline constexpr std::size_t MaxEncodedBytes = 528;

// MGF1 with the digest: XORs the first Size bytes of MGF1(Seed) into Out. Out must not overlap Seed.
// Constant time: the time depends on SeedSize and Size only.
void Mgf1Xor(Hash::THashKind Digest, const unsigned char* Seed, std::size_t SeedSize, unsigned char* Out,
             std::size_t Size);

// All ones when the Size bytes at a and b are equal, else zero. Constant time.
std::uint32_t EqualMask(const unsigned char* a, const unsigned char* b, std::size_t Size);

// ---- EMSA-PKCS1-v1_5 ----
// The DigestInfo's DER prefix for the digest (the algorithm identifier with its NULL parameters and the
// OCTET STRING header), and its length.
const unsigned char* DigestInfoPrefix(Hash::THashKind Digest, std::size_t& Size);
// tLen + 11: the shortest block that holds the digest's DigestInfo.
std::size_t Pkcs1v15MinimumBytes(Hash::THashKind Digest);
// Em (EmBytes >= Pkcs1v15MinimumBytes) := 00 01 FF..FF 00 DigestInfo(MessageDigest).
void EncodePkcs1v15(Hash::THashKind Digest, const unsigned char* MessageDigest, unsigned char* Em,
                    std::size_t EmBytes);

// ---- EMSA-PSS with MGF1 ----
// EmBits = modulus bits - 1, EmBytes = (EmBits + 7) / 8 >= hLen + SaltSize + 2.
void EncodePss(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* MessageDigest,
               const unsigned char* Salt, std::size_t SaltSize, unsigned char* Em, std::size_t EmBytes,
               std::size_t EmBits);
// Whether Em is a valid encoding of the digest: with SaltSize bytes of salt, or with any salt length
// when SaltSize is negative. EmBytes >= hLen + 2 (and >= hLen + SaltSize + 2 when given). Variable time:
// for public values only.
bool VerifyPssVarTime(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* MessageDigest,
                      const unsigned char* Em, std::size_t EmBytes, std::size_t EmBits, long SaltSize);

// ---- EME-OAEP with MGF1 ----
// The longest message for k bytes: k - 2*hLen - 2 (k >= 2*hLen + 2).
// Em (k bytes) := 00 || maskedSeed || maskedDB for the message, LabelDigest (hLen bytes, the digest of
// the label) and Seed (hLen bytes). Size <= k - 2*hLen - 2. Constant time in the message and the seed.
void EncodeOaep(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* LabelDigest,
                const unsigned char* Message, std::size_t Size, const unsigned char* Seed, unsigned char* Em,
                std::size_t EmBytes);
// Decodes Em (k bytes, k >= 2*hLen + 2). Returns all ones when Em is a valid encoding for the label's
// digest, zero otherwise; then Message (room for k - 2*hLen - 2 bytes) holds the message in its first
// Size bytes. Whatever the outcome, Message is written over all k - 2*hLen - 2 bytes and Size set (to
// zero on failure). Constant time in Em: every check runs whatever the others found, no branch or
// address depends on Em's bytes, and the result, Size and Message are all secret until the caller
// declassifies the outcome.
std::uint32_t DecodeOaep(Hash::THashKind Digest, Hash::THashKind Mgf1Digest, const unsigned char* LabelDigest,
                         const unsigned char* Em, std::size_t EmBytes, unsigned char* Message, std::size_t& Size);

}  // namespace Rsa::Schemes
