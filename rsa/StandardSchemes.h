// The standard RSA schemes of PKCS #1 v2.2 (RFC 8017) on a TRSA component's key store, for peers that
// speak them (OpenSSL, Go, Java, Python): RSASSA-PKCS1-v1_5 and RSASSA-PSS signatures, RSAES-OAEP
// encryption. The component's own formats are untouched; these work beside them on the same keys.
//
// Byte strings are the standard big-endian octet strings: a signature or a cipher text is exactly k
// bytes, k the modulus's length in bytes (the component's K = 4 * GetPrecision()). Every other input is
// bytes of any value in a std::string_view. Digests are the hash layer's (hash/Hash.h); SHA-1 serves
// OAEP and MGF1 only, never a signature.
//
// Every routine first makes the component's own entry checks for the key it needs (the key loaded,
// KeyBits assigned, a modulus of exactly K bytes, for the public key a usable exponent), then refuses
// parameters the key cannot serve; each refusal sets Status and fires OnStatusUpdate before the
// exception, as every failure of the component does. On success they change nothing in the component:
// not the key store, the Signature property, Status, nor the generator's seed. Signing and decryption
// use the private key through the Chinese remainder theorem with its check by e (when e, n and d are
// all loaded); salts and OAEP seeds come from the host generator (System::RandBytes).
//
// Refusals:
//   ENoKeyLoaded  "Public key not loaded" / "Private key not loaded"
//   EInvalidKey   the component's key checks, and "Key too small for ..." when the modulus is too short
//                 for the scheme with that digest (RSAES-OAEP needs k >= 2*hLen + 2, RSASSA-PSS
//                 emLen >= hLen + sLen + 2, RSASSA-PKCS1-v1_5 k >= tLen + 11)
//   ERangeError   a digest of the wrong length, a message too long for OAEP, a salt length not valid,
//                 SHA-1 as a signature digest
//   EConvertError "Decryption error" from OaepDecrypt, whatever was wrong with the cipher text
// A signature that does not verify is a false result, never an exception.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hash/Hash.h"
#include "host/core/System.h"
#include "rsa/RSA.h"

namespace Rsa {

// ---- RSASSA-PKCS1-v1_5, with SHA-256, SHA-384 or SHA-512 ----
// The signature is the encoded DigestInfo (00 01 FF..FF 00 DigestInfo) raised to d: k bytes.
// Verification re-encodes the block it expects and compares the whole recovered block with it in
// constant time; it never parses the DigestInfo, so no other encoding of the same digest passes. A
// signature that is not exactly k bytes, or not below n, does not verify.
std::string Pkcs1v15Sign(TRSA& Key, Hash::THashKind Digest, std::string_view Message);
bool Pkcs1v15Verify(TRSA& Key, Hash::THashKind Digest, std::string_view Message, std::string_view Signature);
// The same over a digest computed by the caller (Hash::DigestSize(Digest) bytes), e.g. of a stream.
std::string Pkcs1v15SignDigest(TRSA& Key, Hash::THashKind Digest, std::string_view MessageDigest);
bool Pkcs1v15VerifyDigest(TRSA& Key, Hash::THashKind Digest, std::string_view MessageDigest,
                          std::string_view Signature);

// ---- RSASSA-PSS (EMSA-PSS with MGF1), with SHA-256, SHA-384 or SHA-512 ----
// Salt lengths: a number of bytes (0 or more), or one of these.
inline constexpr int PssSaltDigestLength = -1;  // the digest's length (the default)
inline constexpr int PssSaltAuto = -2;          // verification only: whatever length the signature has

struct TPssParameters {
  Hash::THashKind Digest = Hash::THashKind::Sha256;
  std::optional<Hash::THashKind> Mgf1Digest;  // empty: the same as Digest; any of the four
  int SaltLength = PssSaltDigestLength;
};

// Signs with a fresh random salt of the given length: k bytes, different on every call.
std::string PssSign(TRSA& Key, const TPssParameters& Parameters, std::string_view Message);
// True when the signature is exactly k bytes, below n, and a valid EMSA-PSS encoding of the message
// with the parameters (with SaltLength given, exactly that salt length).
bool PssVerify(TRSA& Key, const TPssParameters& Parameters, std::string_view Message, std::string_view Signature);
std::string PssSignDigest(TRSA& Key, const TPssParameters& Parameters, std::string_view MessageDigest);
bool PssVerifyDigest(TRSA& Key, const TPssParameters& Parameters, std::string_view MessageDigest,
                     std::string_view Signature);

// ---- RSAES-OAEP (EME-OAEP with MGF1), with SHA-1, SHA-256, SHA-384 or SHA-512 ----
struct TOaepParameters {
  Hash::THashKind Digest = Hash::THashKind::Sha256;
  std::optional<Hash::THashKind> Mgf1Digest;  // empty: the same as Digest
  std::string Label;                          // bytes of any value; empty by default
};

// Largest message OaepEncrypt takes with this key and digest: k - 2*hLen - 2 bytes. Runs the public
// key's checks and refuses a key too small, as OaepEncrypt does.
std::size_t OaepMaxMessage(TRSA& Key, const TOaepParameters& Parameters);
// Encrypts up to OaepMaxMessage bytes with a fresh random seed: k bytes, different on every call.
std::string OaepEncrypt(TRSA& Key, const TOaepParameters& Parameters, std::string_view Message);
// Decrypts a k-byte cipher text into storage that is wiped when freed (reserved beyond the string's
// own small buffer, so the bytes never live inside the string object). Constant time in the
// decrypted block: every check runs, one mask decides, and any fault (a length other than k, a value
// not below n, a wrong first byte, label digest, padding or separator) raises the one EConvertError
// "Decryption error", so the failure tells nothing about which check failed. Only the message's length
// is made public, on success.
System::TWipedString OaepDecrypt(TRSA& Key, const TOaepParameters& Parameters, std::string_view CipherText);

}  // namespace Rsa
