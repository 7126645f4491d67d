#include "support/OpenSslRsa.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "support/FixtureKeys.h"

namespace Testing {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("OpenSSL: ") + what);
}

using Bn = std::unique_ptr<BIGNUM, decltype(&BN_clear_free)>;
Bn MakeBn(BIGNUM* b) { return Bn(b, &BN_clear_free); }

Bn FromHex(const std::string& hex) {
  BIGNUM* b = nullptr;
  Check(BN_hex2bn(&b, hex.c_str()) != 0, "BN_hex2bn");
  return MakeBn(b);
}

Bn FromBigNum(const Rsa::BigNum& x) {
  unsigned char bytes[4 * Rsa::BigNumDigits];
  for (unsigned i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(x.Digits[i / 4] >> (8 * (i % 4)));
  return MakeBn(BN_lebin2bn(bytes, sizeof bytes, nullptr));
}

std::string Hex(const BIGNUM* b) {
  char* text = BN_bn2hex(b);
  std::string s(text);
  OPENSSL_free(text);
  return s;
}

struct Ctx {
  EVP_PKEY_CTX* c;
  explicit Ctx(EVP_PKEY* key) : c(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)) { Check(c != nullptr, "ctx"); }
  ~Ctx() { EVP_PKEY_CTX_free(c); }
};

void SetSignatureOptions(EVP_PKEY_CTX* c, Hash::THashKind digest, int padding, int saltLength,
                         std::optional<Hash::THashKind> mgf1) {
  Check(EVP_PKEY_CTX_set_rsa_padding(c, padding) > 0, "padding");
  Check(EVP_PKEY_CTX_set_signature_md(c, OpenSslDigest(digest)) > 0, "signature md");
  if (padding == RSA_PKCS1_PSS_PADDING) {
    Check(EVP_PKEY_CTX_set_rsa_pss_saltlen(c, saltLength) > 0, "salt length");
    Check(EVP_PKEY_CTX_set_rsa_mgf1_md(c, OpenSslDigest(mgf1.value_or(digest))) > 0, "mgf1 md");
  }
}

void SetOaepOptions(EVP_PKEY_CTX* c, Hash::THashKind digest, Hash::THashKind mgf1, std::string_view label) {
  Check(EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_OAEP_PADDING) > 0, "padding");
  Check(EVP_PKEY_CTX_set_rsa_oaep_md(c, OpenSslDigest(digest)) > 0, "oaep md");
  Check(EVP_PKEY_CTX_set_rsa_mgf1_md(c, OpenSslDigest(mgf1)) > 0, "mgf1 md");
  if (!label.empty()) {
    auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(label.data(), label.size()));
    Check(EVP_PKEY_CTX_set0_rsa_oaep_label(c, copy, int(label.size())) > 0, "label");
  }
}

const unsigned char* U(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

const EVP_MD* OpenSslDigest(Hash::THashKind kind) {
  switch (kind) {
    case Hash::THashKind::Sha1: return EVP_sha1();
    case Hash::THashKind::Sha256: return EVP_sha256();
    case Hash::THashKind::Sha384: return EVP_sha384();
    case Hash::THashKind::Sha512: return EVP_sha512();
  }
  throw std::invalid_argument("digest");
}

std::string DigestOf(Hash::THashKind kind, std::string_view message) {
  unsigned char out[Hash::MaxDigestSize];
  Hash::Digest(kind, message.data(), message.size(), out);
  return std::string(reinterpret_cast<char*>(out), Hash::DigestSize(kind));
}

OpenSslRsa::OpenSslRsa(int bits, int which) : FKey(nullptr) {
  const FixtureKey& f = GetFixtureKey(bits, which);
  const Rsa::BigNum e = HexToBigNum(f.E), n = HexToBigNum(f.N), d = HexToBigNum(f.D);
  Rsa::BigNum p, q;
  Check(Rsa::RecoverPrimeFactors(e, d, n, p, q), "factors of the fixture key");
  Bn bn = FromHex(f.N), be = FromHex(f.E), bd = FromHex(f.D), bp = FromBigNum(p), bq = FromBigNum(q);
  BN_CTX* ctx = BN_CTX_new();
  Bn one = MakeBn(BN_new()), pm = MakeBn(BN_new()), qm = MakeBn(BN_new()), dp = MakeBn(BN_new()),
     dq = MakeBn(BN_new()), qinv = MakeBn(BN_new());
  BN_one(one.get());
  BN_sub(pm.get(), bp.get(), one.get());
  BN_sub(qm.get(), bq.get(), one.get());
  BN_mod(dp.get(), bd.get(), pm.get(), ctx);
  BN_mod(dq.get(), bd.get(), qm.get(), ctx);
  Check(BN_mod_inverse(qinv.get(), bq.get(), bp.get(), ctx) != nullptr, "q^-1 mod p");
  BN_CTX_free(ctx);

  OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_D, bd.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_FACTOR1, bp.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_FACTOR2, bq.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get());
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv.get());
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
  EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  const bool ok = c && EVP_PKEY_fromdata_init(c) > 0 && EVP_PKEY_fromdata(c, &FKey, EVP_PKEY_KEYPAIR, params) > 0;
  EVP_PKEY_CTX_free(c);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  Check(ok, "key from the fixture's numbers");
}

OpenSslRsa OpenSslRsa::Generate(int bits) {
  EVP_PKEY* key = EVP_RSA_gen(unsigned(bits));
  Check(key != nullptr, "key generation");
  return OpenSslRsa(key);
}

OpenSslRsa::~OpenSslRsa() { EVP_PKEY_free(FKey); }

std::size_t OpenSslRsa::Bytes() const { return std::size_t(EVP_PKEY_get_size(FKey)); }

std::string OpenSslRsa::Modulus() const {
  BIGNUM* n = nullptr;
  Check(EVP_PKEY_get_bn_param(FKey, OSSL_PKEY_PARAM_RSA_N, &n) > 0, "n");
  std::string out(Bytes(), '\0');
  BN_bn2binpad(n, reinterpret_cast<unsigned char*>(out.data()), int(out.size()));
  BN_free(n);
  return out;
}

void OpenSslRsa::LoadInto(Rsa::TRSA& rsa) const {
  BIGNUM *n = nullptr, *e = nullptr, *d = nullptr;
  Check(EVP_PKEY_get_bn_param(FKey, OSSL_PKEY_PARAM_RSA_N, &n) > 0 &&
            EVP_PKEY_get_bn_param(FKey, OSSL_PKEY_PARAM_RSA_E, &e) > 0 &&
            EVP_PKEY_get_bn_param(FKey, OSSL_PKEY_PARAM_RSA_D, &d) > 0,
        "key numbers");
  rsa.SetKeyBits(KeyBitsFor(int(8 * Bytes())));
  rsa.SetPublicKey(HexToBigNum(Hex(e)), HexToBigNum(Hex(n)));
  rsa.SetPrivateKey(HexToBigNum(Hex(n)), HexToBigNum(Hex(d)));
  BN_free(n);
  BN_free(e);
  BN_clear_free(d);
}

std::string OpenSslRsa::Sign(Hash::THashKind digest, int padding, std::string_view messageDigest, int saltLength,
                             std::optional<Hash::THashKind> mgf1) const {
  Ctx c(FKey);
  Check(EVP_PKEY_sign_init(c.c) > 0, "sign init");
  SetSignatureOptions(c.c, digest, padding, saltLength, mgf1);
  std::size_t size = Bytes();
  std::string out(size, '\0');
  Check(EVP_PKEY_sign(c.c, reinterpret_cast<unsigned char*>(out.data()), &size, U(messageDigest),
                      messageDigest.size()) > 0,
        "sign");
  out.resize(size);
  return out;
}

bool OpenSslRsa::Verify(Hash::THashKind digest, int padding, std::string_view messageDigest,
                        std::string_view signature, int saltLength, std::optional<Hash::THashKind> mgf1) const {
  Ctx c(FKey);
  Check(EVP_PKEY_verify_init(c.c) > 0, "verify init");
  SetSignatureOptions(c.c, digest, padding, saltLength, mgf1);
  return EVP_PKEY_verify(c.c, U(signature), signature.size(), U(messageDigest), messageDigest.size()) == 1;
}

std::string OpenSslRsa::OaepEncrypt(Hash::THashKind digest, Hash::THashKind mgf1, std::string_view label,
                                    std::string_view message) const {
  Ctx c(FKey);
  Check(EVP_PKEY_encrypt_init(c.c) > 0, "encrypt init");
  SetOaepOptions(c.c, digest, mgf1, label);
  std::size_t size = Bytes();
  std::string out(size, '\0');
  Check(EVP_PKEY_encrypt(c.c, reinterpret_cast<unsigned char*>(out.data()), &size, U(message), message.size()) > 0,
        "encrypt");
  out.resize(size);
  return out;
}

std::optional<std::string> OpenSslRsa::OaepDecrypt(Hash::THashKind digest, Hash::THashKind mgf1,
                                                   std::string_view label, std::string_view cipher) const {
  Ctx c(FKey);
  Check(EVP_PKEY_decrypt_init(c.c) > 0, "decrypt init");
  SetOaepOptions(c.c, digest, mgf1, label);
  std::size_t size = Bytes();
  std::string out(size, '\0');
  if (EVP_PKEY_decrypt(c.c, reinterpret_cast<unsigned char*>(out.data()), &size, U(cipher), cipher.size()) <= 0)
    return std::nullopt;
  out.resize(size);
  return out;
}

std::string OpenSslRsa::RawPrivate(std::string_view block) const {
  Ctx c(FKey);
  Check(EVP_PKEY_decrypt_init(c.c) > 0 && EVP_PKEY_CTX_set_rsa_padding(c.c, RSA_NO_PADDING) > 0, "raw init");
  std::size_t size = Bytes();
  std::string out(size, '\0');
  Check(EVP_PKEY_decrypt(c.c, reinterpret_cast<unsigned char*>(out.data()), &size, U(block), block.size()) > 0,
        "raw private");
  return out;
}

std::string OpenSslRsa::RawPublic(std::string_view block) const {
  Ctx c(FKey);
  Check(EVP_PKEY_encrypt_init(c.c) > 0 && EVP_PKEY_CTX_set_rsa_padding(c.c, RSA_NO_PADDING) > 0, "raw init");
  std::size_t size = Bytes();
  std::string out(size, '\0');
  Check(EVP_PKEY_encrypt(c.c, reinterpret_cast<unsigned char*>(out.data()), &size, U(block), block.size()) > 0,
        "raw public");
  return out;
}

}  // namespace Testing
