// RSAES-OAEP (RFC 8017, 7.1) on the component's key store.
#include <cstring>

#include "bignum/Declassify.h"
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

struct OaepSetup {
  THashKind digest, mgf1;
  std::size_t hLen, maxMessage;
  unsigned char labelDigest[Hash::MaxDigestSize];
};

OaepSetup RequireOaepKey(TSchemeKey& key, const TOaepParameters& p) {
  RequireDigestKind(key, p.Digest);
  OaepSetup s{p.Digest, p.Mgf1Digest.value_or(p.Digest), Hash::DigestSize(p.Digest), 0, {}};
  RequireDigestKind(key, s.mgf1);
  if (key.Bytes() < 2 * s.hLen + 2) key.Fail<EInvalidKey>("Key too small for RSAES-OAEP with " + DigestTitle(p.Digest));
  s.maxMessage = key.Bytes() - 2 * s.hLen - 2;
  Hash::Digest(p.Digest, p.Label.data(), p.Label.size(), s.labelDigest);
  return s;
}

}  // namespace

std::size_t OaepMaxMessage(TRSA& Key, const TOaepParameters& Parameters) {
  TSchemeKey key(Key, TSchemeKey::TUse::Public);
  return RequireOaepKey(key, Parameters).maxMessage;
}

std::string OaepEncrypt(TRSA& Key, const TOaepParameters& Parameters, std::string_view Message) {
  TSchemeKey key(Key, TSchemeKey::TUse::Public);
  const OaepSetup s = RequireOaepKey(key, Parameters);
  if (Message.size() > s.maxMessage)
    key.Fail<Sysutils::ERangeError>("Message too long for RSAES-OAEP with this key (at most " +
                                    std::to_string(s.maxMessage) + " bytes)");
  unsigned char seed[Hash::MaxDigestSize], em[MaxEncodedBytes];
  System::RandBytes(seed, s.hLen);
  EncodeOaep(s.digest, s.mgf1, s.labelDigest, Bytes(Message), Message.size(), seed, em, key.Bytes());
  std::string cipher(key.Bytes(), '\0');
  key.Public(em, reinterpret_cast<unsigned char*>(cipher.data()));
  System::WipeBytes(seed, sizeof seed);
  System::WipeBytes(em, sizeof em);
  return cipher;
}

System::TWipedString OaepDecrypt(TRSA& Key, const TOaepParameters& Parameters, std::string_view CipherText) {
  static constexpr const char* Failure = "Decryption error";
  TSchemeKey key(Key, TSchemeKey::TUse::Private);
  const OaepSetup s = RequireOaepKey(key, Parameters);
  // Length and range are properties of the public cipher text; they fail the same way as the rest.
  if (CipherText.size() != key.Bytes() || !key.BelowModulusVarTime(Bytes(CipherText)))
    key.Fail<Sysutils::EConvertError>(Failure);

  unsigned char em[MaxEncodedBytes], message[MaxEncodedBytes];
  std::size_t size = 0;
  key.Private(Bytes(CipherText), em);
  const bool valid = ConstantTime::Declassify(DecodeOaep(s.digest, s.mgf1, s.labelDigest, em, key.Bytes(), message, size)) != 0;
  System::WipeBytes(em, sizeof em);
  if (!valid) {
    System::WipeBytes(message, sizeof message);
    key.Fail<Sysutils::EConvertError>(Failure);
  }
  // The length is what the caller receives; the bytes go straight into wiped storage on the heap.
  size = ConstantTime::Declassify(size);
  System::TWipedString plain;
  plain.reserve(key.Bytes());
  plain.assign(reinterpret_cast<const char*>(message), size);
  System::WipeBytes(message, sizeof message);
  return plain;
}

}  // namespace Rsa
