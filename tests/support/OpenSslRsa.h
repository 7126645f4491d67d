// An OpenSSL RSA key beside the component's, for interoperability tests, fuzz targets and benchmarks:
// the fixture keys with their CRT factors (so OpenSSL's private operations take its fast path), the
// standard schemes through EVP_PKEY, and raw RSA (no padding) to sign or encrypt any block.
#pragma once

#include <openssl/evp.h>

#include <optional>
#include <string>
#include <string_view>

#include "hash/Hash.h"
#include "rsa/RSA.h"

namespace Testing {

// OpenSSL's digest for one of ours.
const EVP_MD* OpenSslDigest(Hash::THashKind kind);

class OpenSslRsa {
 public:
  // Fixture key `which` of the given size (tests/support/FixtureKeys.h), with p, q and the CRT values.
  explicit OpenSslRsa(int bits, int which = 0);
  // A fresh key of the given size (at most 1024 bits in tests), any number of bits.
  static OpenSslRsa Generate(int bits);
  OpenSslRsa(OpenSslRsa&& other) noexcept : FKey(other.FKey) { other.FKey = nullptr; }
  OpenSslRsa(const OpenSslRsa&) = delete;
  OpenSslRsa& operator=(const OpenSslRsa&) = delete;
  ~OpenSslRsa();

  EVP_PKEY* Key() const { return FKey; }
  // k, the modulus's length in bytes, and n as a big-endian string of k bytes.
  std::size_t Bytes() const;
  std::string Modulus() const;
  // Loads e, n and d into the component, with KeyBits for k.
  void LoadInto(Rsa::TRSA& rsa) const;

  // Signatures over a digest: RSA_PKCS1_PADDING or RSA_PKCS1_PSS_PADDING (salt length in bytes, or
  // RSA_PSS_SALTLEN_DIGEST / RSA_PSS_SALTLEN_AUTO; mgf1 null: the same digest).
  std::string Sign(Hash::THashKind digest, int padding, std::string_view messageDigest, int saltLength = -1,
                   std::optional<Hash::THashKind> mgf1 = {}) const;
  bool Verify(Hash::THashKind digest, int padding, std::string_view messageDigest, std::string_view signature,
              int saltLength = -1, std::optional<Hash::THashKind> mgf1 = {}) const;
  // RSAES-OAEP; Decrypt gives nothing when OpenSSL refuses the cipher text.
  std::string OaepEncrypt(Hash::THashKind digest, Hash::THashKind mgf1, std::string_view label,
                          std::string_view message) const;
  std::optional<std::string> OaepDecrypt(Hash::THashKind digest, Hash::THashKind mgf1, std::string_view label,
                                         std::string_view cipher) const;
  // Raw RSA on k-byte blocks below n: block^d and block^e mod n.
  std::string RawPrivate(std::string_view block) const;
  std::string RawPublic(std::string_view block) const;

 private:
  explicit OpenSslRsa(EVP_PKEY* key) : FKey(key) {}
  EVP_PKEY* FKey;
};

// The digest of a message, as a string.
std::string DigestOf(Hash::THashKind kind, std::string_view message);

}  // namespace Testing
