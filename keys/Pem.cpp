#include "keys/Pem.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "keys/KeyError.h"

namespace Qarvex::Keys {

namespace {

// Owning handles for libcrypto objects.
struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct DecoderFree {
  void operator()(OSSL_DECODER_CTX* ctx) const { OSSL_DECODER_CTX_free(ctx); }
};
struct EncoderFree {
  void operator()(OSSL_ENCODER_CTX* ctx) const { OSSL_ENCODER_CTX_free(ctx); }
};
struct ParamBuildFree {
  void operator()(OSSL_PARAM_BLD* bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct ParamFree {
  void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// A failure carrying OpenSSL's first queued reason, when it gave one.
[[noreturn]] void Fail(const std::string& message) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* reason = code ? ERR_reason_error_string(code) : nullptr;
  throw KeyError(reason ? message + " (" + reason + ")" : message);
}

Bn NewBn() {
  Bn bn(BN_secure_new());
  if (!bn) Fail("out of memory");
  return bn;
}

constexpr int ImageBytes = int(4 * Rsa::BigNumDigits);

// The little-endian bytes of a key store number, and back.
void ImageToBytes(const Rsa::BigNum& x, unsigned char* image) {
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i)
    for (unsigned b = 0; b < 4; ++b) image[4 * i + b] = static_cast<unsigned char>(x.Digits[i] >> (8 * b));
}

void BytesToImage(Rsa::BigNum& x, const unsigned char* image) {
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i) {
    x.Digits[i] = 0;
    for (unsigned b = 0; b < 4; ++b) x.Digits[i] |= Rsa::Digit(image[4 * i + b]) << (8 * b);
  }
}

Bn ToBn(const Rsa::BigNum& x) {
  unsigned char image[ImageBytes];
  ImageToBytes(x, image);
  Bn bn(BN_lebin2bn(image, ImageBytes, nullptr));
  OPENSSL_cleanse(image, sizeof image);
  if (!bn) Fail("out of memory");
  return bn;
}

Rsa::BigNum FromBn(const BIGNUM* bn, const char* what) {
  if (BN_is_negative(bn)) throw KeyError(std::string("the key's ") + what + " is negative");
  if (BN_num_bytes(bn) > ImageBytes) throw KeyError(std::string("the key's ") + what + " is too large");
  unsigned char image[ImageBytes];
  BN_bn2lebinpad(bn, image, ImageBytes);
  Rsa::BigNum x{};
  BytesToImage(x, image);
  OPENSSL_cleanse(image, sizeof image);
  return x;
}

// An optional number of the key: null when the key does not hold it.
Bn KeyParam(const EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return Bn(bn);
}

// Refuses prompting for a pass phrase: encrypted keys are not read.
int NoPassphrase(char*, size_t, size_t*, const OSSL_PARAM[], void*) { return 0; }

std::string Encode(const EVP_PKEY* key, int selection, const char* structure) {
  std::unique_ptr<OSSL_ENCODER_CTX, EncoderFree> ctx(
      OSSL_ENCODER_CTX_new_for_pkey(key, selection, "PEM", structure, nullptr));
  if (!ctx || OSSL_ENCODER_CTX_get_num_encoders(ctx.get()) == 0) Fail("OpenSSL cannot write this key");
  unsigned char* data = nullptr;
  size_t length = 0;
  if (OSSL_ENCODER_to_data(ctx.get(), &data, &length) != 1) Fail("OpenSSL cannot write this key");
  std::string pem(reinterpret_cast<char*>(data), length);
  OPENSSL_clear_free(data, length);
  return pem;
}

Pkey FromData(OSSL_PARAM_BLD* bld, int selection) {
  std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld));
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
    Fail("OpenSSL does not accept the key");
  return Pkey(key);
}

}  // namespace

unsigned BitLength(const Rsa::BigNum& x) {
  for (unsigned i = Rsa::BigNumDigits; i-- > 0;) {
    if (x.Digits[i] == 0) continue;
    unsigned bits = 32 * i;
    for (Rsa::Digit top = x.Digits[i]; top != 0; top >>= 1) ++bits;
    return bits;
  }
  return 0;
}

RsaNumbers ReadKey(const std::string& pem) {
  const bool isPem = pem.find("-----BEGIN") != std::string::npos;
  if (isPem && pem.find("ENCRYPTED") != std::string::npos)
    throw KeyError("the PEM key is encrypted: decrypt it first (openssl pkey -in KEY -out PLAIN)");
  EVP_PKEY* raw = nullptr;
  std::unique_ptr<OSSL_DECODER_CTX, DecoderFree> ctx(
      OSSL_DECODER_CTX_new_for_pkey(&raw, isPem ? "PEM" : "DER", nullptr, nullptr, 0, nullptr, nullptr));
  if (!ctx || OSSL_DECODER_CTX_get_num_decoders(ctx.get()) == 0) Fail("OpenSSL cannot read PEM keys");
  OSSL_DECODER_CTX_set_passphrase_cb(ctx.get(), NoPassphrase, nullptr);
  const auto* data = reinterpret_cast<const unsigned char*>(pem.data());
  size_t length = pem.size();
  if (OSSL_DECODER_from_data(ctx.get(), &data, &length) != 1 || raw == nullptr) {
    ERR_clear_error();
    throw KeyError(isPem ? "the input is not a PEM key that OpenSSL can read"
                        : "the input is neither a PEM nor a DER key that OpenSSL can read");
  }
  const Pkey key(raw);
  if (!EVP_PKEY_is_a(key.get(), "RSA")) {
    const char* type = EVP_PKEY_get0_type_name(key.get());
    throw KeyError(std::string("the PEM key is ") + (type ? type : "of another type") + ", not an RSA key");
  }
  const Bn n = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_N);
  const Bn e = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_E);
  if (!n || !e) throw KeyError("the PEM key does not hold n and e");
  RsaNumbers numbers;
  numbers.n = FromBn(n.get(), "modulus");
  numbers.e = FromBn(e.get(), "public exponent");
  if (const Bn d = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_D); d && !BN_is_zero(d.get())) {
    numbers.d = FromBn(d.get(), "private exponent");
    numbers.HasPrivate = true;
  }
  return numbers;
}

std::string PublicKeyPem(const Rsa::BigNum& e, const Rsa::BigNum& n) {
  const Bn bnE = ToBn(e), bnN = ToBn(n);
  std::unique_ptr<OSSL_PARAM_BLD, ParamBuildFree> bld(OSSL_PARAM_BLD_new());
  if (!bld || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, bnN.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, bnE.get()))
    Fail("out of memory");
  const Pkey key = FromData(bld.get(), EVP_PKEY_PUBLIC_KEY);
  PkeyCtx check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) Fail("OpenSSL refuses the public key");
  return Encode(key.get(), OSSL_KEYMGMT_SELECT_PUBLIC_KEY, "SubjectPublicKeyInfo");
}

std::string PrivateKeyPem(const Rsa::BigNum& e, const Rsa::BigNum& n, const Rsa::BigNum& d) {
  BnCtx ctx(BN_CTX_secure_new());
  if (!ctx) Fail("out of memory");
  const Bn bnE = ToBn(e), bnN = ToBn(n), bnD = ToBn(d);
  // The component recovers the factors (p > q, as PKCS#1 lists them) from e, d and n.
  Rsa::BigNum factor1, factor2;
  const bool split = Rsa::RecoverPrimeFactors(e, d, n, factor1, factor2);
  const Bn p = ToBn(factor1), q = ToBn(factor2);
  OPENSSL_cleanse(factor1.Digits, sizeof factor1.Digits);
  OPENSSL_cleanse(factor2.Digits, sizeof factor2.Digits);
  if (!split) throw KeyError("the private key is not valid: n cannot be factored with e and d");
  Bn pMinus1 = NewBn(), qMinus1 = NewBn(), dp = NewBn(), dq = NewBn(), qInv = NewBn();
  if (!BN_copy(pMinus1.get(), p.get()) || !BN_sub_word(pMinus1.get(), 1) || !BN_copy(qMinus1.get(), q.get()) ||
      !BN_sub_word(qMinus1.get(), 1) || !BN_mod(dp.get(), bnD.get(), pMinus1.get(), ctx.get()) ||
      !BN_mod(dq.get(), bnD.get(), qMinus1.get(), ctx.get()) ||
      !BN_mod_inverse(qInv.get(), q.get(), p.get(), ctx.get()))
    Fail("cannot compute the CRT values of the key");

  std::unique_ptr<OSSL_PARAM_BLD, ParamBuildFree> bld(OSSL_PARAM_BLD_new());
  if (!bld || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, bnN.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, bnE.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_D, bnD.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, p.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, q.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get()) ||
      !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qInv.get()))
    Fail("out of memory");
  const Pkey key = FromData(bld.get(), EVP_PKEY_KEYPAIR);
  PkeyCtx check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!check || EVP_PKEY_check(check.get()) != 1) Fail("OpenSSL refuses the private key");
  return Encode(key.get(), OSSL_KEYMGMT_SELECT_KEYPAIR, "PrivateKeyInfo");
}

}  // namespace Qarvex::Keys
