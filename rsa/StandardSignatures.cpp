// RSASSA-PKCS1-v1_5 and RSASSA-PSS (RFC 8017, 8.1 and 8.2) on the component's key store.
#include <cstdint>
#include <cstring>

#include "host/core/Random.h"
#include "rsa/SchemeEncoding.h"
#include "rsa/SchemeKey.h"
#include "rsa/SchemeParameters.h"
#include "rsa/StandardSchemes.h"

namespace Rsa {

using namespace Schemes;
using Hash::THashKind;

namespace {

const unsigned char* Bytes(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// A signature that verifies at all: exactly k bytes and below n.
bool SignatureInRange(TSchemeKey& key, std::string_view signature) {
  return signature.size() == key.Bytes() && key.BelowModulusVarTime(Bytes(signature));
}

// ---- PKCS #1 v1.5 ----

void RequirePkcs1v15Key(TSchemeKey& key, THashKind digest) {
  RequireSignatureDigest(key, digest);
  if (key.Bytes() < Pkcs1v15MinimumBytes(digest))
    key.Fail<EInvalidKey>("Key too small for RSASSA-PKCS1-v1_5 with " + DigestTitle(digest));
}

std::string Pkcs1v15SignWith(TSchemeKey& key, THashKind digest, const unsigned char* messageDigest) {
  unsigned char em[MaxEncodedBytes];
  EncodePkcs1v15(digest, messageDigest, em, key.Bytes());
  std::string signature(key.Bytes(), '\0');
  key.Private(em, reinterpret_cast<unsigned char*>(signature.data()));
  return signature;
}

bool Pkcs1v15VerifyWith(TSchemeKey& key, THashKind digest, const unsigned char* messageDigest,
                        std::string_view signature) {
  if (!SignatureInRange(key, signature)) return false;
  unsigned char recovered[MaxEncodedBytes], expected[MaxEncodedBytes];
  key.Public(Bytes(signature), recovered);
  EncodePkcs1v15(digest, messageDigest, expected, key.Bytes());
  return EqualMask(recovered, expected, key.Bytes()) != 0;
}

// ---- PSS ----

struct PssSetup {
  THashKind digest, mgf1;
  std::size_t emBits, emBytes;
  long salt;  // bytes, or -1 for any (verification)
};

PssSetup RequirePssKey(TSchemeKey& key, const TPssParameters& p, bool verifying) {
  RequireSignatureDigest(key, p.Digest);
  const THashKind mgf1 = p.Mgf1Digest.value_or(p.Digest);
  RequireDigestKind(key, mgf1);
  const std::size_t hLen = Hash::DigestSize(p.Digest);
  long salt;
  if (p.SaltLength >= 0)
    salt = p.SaltLength;
  else if (p.SaltLength == PssSaltDigestLength)
    salt = long(hLen);
  else if (p.SaltLength == PssSaltAuto && verifying)
    salt = -1;
  else
    key.Fail<Sysutils::ERangeError>(verifying ? "Salt length not valid"
                                              : "Salt length not valid (any length is for verification only)");
  const std::size_t emBits = key.ModulusBits() - 1;
  const std::size_t emBytes = (emBits + 7) / 8;
  const std::uint64_t needed = std::uint64_t(hLen) + std::uint64_t(salt < 0 ? 0 : salt) + 2;
  if (emBytes < needed) {
    std::string message = "Key too small for RSASSA-PSS with " + DigestTitle(p.Digest);
    if (salt >= 0) message += " and a " + std::to_string(salt) + "-byte salt";
    key.Fail<EInvalidKey>(message);
  }
  return {p.Digest, mgf1, emBits, emBytes, salt};
}

std::string PssSignWith(TSchemeKey& key, const PssSetup& s, const unsigned char* messageDigest) {
  const std::size_t k = key.Bytes();
  unsigned char salt[MaxEncodedBytes], block[MaxEncodedBytes];
  System::RandBytes(salt, std::size_t(s.salt));
  // EM fills the block's low emBytes bytes; a modulus of 8(k-1)+1 bits leaves the top byte zero.
  std::memset(block, 0, k - s.emBytes);
  EncodePss(s.digest, s.mgf1, messageDigest, salt, std::size_t(s.salt), block + (k - s.emBytes), s.emBytes, s.emBits);
  std::string signature(k, '\0');
  key.Private(block, reinterpret_cast<unsigned char*>(signature.data()));
  return signature;
}

bool PssVerifyWith(TSchemeKey& key, const PssSetup& s, const unsigned char* messageDigest, std::string_view signature) {
  if (!SignatureInRange(key, signature)) return false;
  const std::size_t k = key.Bytes();
  unsigned char block[MaxEncodedBytes];
  key.Public(Bytes(signature), block);
  if (k > s.emBytes && block[0] != 0) return false;
  return VerifyPssVarTime(s.digest, s.mgf1, messageDigest, block + (k - s.emBytes), s.emBytes, s.emBits, s.salt);
}

struct MessageDigest {
  unsigned char bytes[Hash::MaxDigestSize];
  MessageDigest(THashKind digest, std::string_view message) { Hash::Digest(digest, message.data(), message.size(), bytes); }
};

}  // namespace

std::string Pkcs1v15Sign(TRSA& Key, THashKind Digest, std::string_view Message) {
  TSchemeKey key(Key, TSchemeKey::TUse::Private);
  RequirePkcs1v15Key(key, Digest);
  return Pkcs1v15SignWith(key, Digest, MessageDigest(Digest, Message).bytes);
}

std::string Pkcs1v15SignDigest(TRSA& Key, THashKind Digest, std::string_view Digested) {
  TSchemeKey key(Key, TSchemeKey::TUse::Private);
  RequirePkcs1v15Key(key, Digest);
  RequireDigestLength(key, Digest, Digested.size());
  return Pkcs1v15SignWith(key, Digest, Bytes(Digested));
}

bool Pkcs1v15Verify(TRSA& Key, THashKind Digest, std::string_view Message, std::string_view Signature) {
  TSchemeKey key(Key, TSchemeKey::TUse::Public);
  RequirePkcs1v15Key(key, Digest);
  return Pkcs1v15VerifyWith(key, Digest, MessageDigest(Digest, Message).bytes, Signature);
}

bool Pkcs1v15VerifyDigest(TRSA& Key, THashKind Digest, std::string_view Digested, std::string_view Signature) {
  TSchemeKey key(Key, TSchemeKey::TUse::Public);
  RequirePkcs1v15Key(key, Digest);
  RequireDigestLength(key, Digest, Digested.size());
  return Pkcs1v15VerifyWith(key, Digest, Bytes(Digested), Signature);
}

std::string PssSign(TRSA& Key, const TPssParameters& Parameters, std::string_view Message) {
  TSchemeKey key(Key, TSchemeKey::TUse::Private);
  const PssSetup setup = RequirePssKey(key, Parameters, false);
  return PssSignWith(key, setup, MessageDigest(setup.digest, Message).bytes);
}

std::string PssSignDigest(TRSA& Key, const TPssParameters& Parameters, std::string_view Digested) {
  TSchemeKey key(Key, TSchemeKey::TUse::Private);
  const PssSetup setup = RequirePssKey(key, Parameters, false);
  RequireDigestLength(key, setup.digest, Digested.size());
  return PssSignWith(key, setup, Bytes(Digested));
}

bool PssVerify(TRSA& Key, const TPssParameters& Parameters, std::string_view Message, std::string_view Signature) {
  TSchemeKey key(Key, TSchemeKey::TUse::Public);
  const PssSetup setup = RequirePssKey(key, Parameters, true);
  return PssVerifyWith(key, setup, MessageDigest(setup.digest, Message).bytes, Signature);
}

bool PssVerifyDigest(TRSA& Key, const TPssParameters& Parameters, std::string_view Digested,
                     std::string_view Signature) {
  TSchemeKey key(Key, TSchemeKey::TUse::Public);
  const PssSetup setup = RequirePssKey(key, Parameters, true);
  RequireDigestLength(key, setup.digest, Digested.size());
  return PssVerifyWith(key, setup, Bytes(Digested), Signature);
}

}  // namespace Rsa
