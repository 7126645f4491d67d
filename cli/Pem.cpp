#include "cli/Pem.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "cli/Failure.h"

namespace Qrsa {

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
  throw Failure(reason ? message + " (" + reason + ")" : message);
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
  if (BN_is_negative(bn)) throw Failure(std::string("the key's ") + what + " is negative");
  if (BN_num_bytes(bn) > ImageBytes) throw Failure(std::string("the key's ") + what + " is too large");
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

// Finds a prime factor of n from e and d: e*d - 1 = 2^t * r with r odd is a multiple of the group
// order, so for most bases g some square root of 1 in the chain g^r, g^2r, ... is non-trivial, and
// its gcd with n splits n. Each base succeeds with probability at least one half.
Bn FactorModulus(const BIGNUM* n, const BIGNUM* e, const BIGNUM* d, BN_CTX* ctx) {
  Bn k = NewBn(), r = NewBn(), y = NewBn(), x = NewBn(), nMinus1 = NewBn(), g = NewBn(), factor = NewBn();
  if (!BN_mul(k.get(), e, d, ctx) || !BN_sub_word(k.get(), 1) || !BN_copy(nMinus1.get(), n) ||
      !BN_sub_word(nMinus1.get(), 1))
    Fail("cannot compute with the key");
  if (BN_is_zero(k.get()) || BN_is_odd(k.get())) throw Failure("the private key is not valid: e*d - 1 is not even");
  int t = 0;
  BN_copy(r.get(), k.get());
  while (!BN_is_odd(r.get())) {
    BN_rshift1(r.get(), r.get());
    ++t;
  }
  static const unsigned long bases[] = {2,  3,  5,  7,  11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59,
                                        61, 67, 71, 73, 79, 83, 89, 97, 101, 103, 107, 109, 113, 127, 131};
  for (const unsigned long base : bases) {
    if (!BN_set_word(g.get(), base) || !BN_mod_exp(y.get(), g.get(), r.get(), n, ctx)) Fail("cannot compute with the key");
    if (BN_is_one(y.get()) || BN_cmp(y.get(), nMinus1.get()) == 0) continue;
    for (int i = 0; i < t; ++i) {
      if (!BN_mod_sqr(x.get(), y.get(), n, ctx)) Fail("cannot compute with the key");
      if (BN_is_one(x.get())) {
        // y is a square root of 1 other than 1 and n-1: gcd(y-1, n) is a proper factor.
        if (!BN_sub_word(y.get(), 1) || !BN_gcd(factor.get(), y.get(), n, ctx)) Fail("cannot compute with the key");
        if (!BN_is_one(factor.get()) && BN_cmp(factor.get(), n) != 0) return factor;
        break;
      }
      if (BN_cmp(x.get(), nMinus1.get()) == 0) break;
      std::swap(x, y);
    }
  }
  throw Failure("the private key is not valid: n cannot be factored with e and d");
}

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
    throw Failure("the PEM key is encrypted: decrypt it first (openssl pkey -in KEY -out PLAIN)");
  EVP_PKEY* raw = nullptr;
  std::unique_ptr<OSSL_DECODER_CTX, DecoderFree> ctx(
      OSSL_DECODER_CTX_new_for_pkey(&raw, isPem ? "PEM" : "DER", nullptr, nullptr, 0, nullptr, nullptr));
  if (!ctx || OSSL_DECODER_CTX_get_num_decoders(ctx.get()) == 0) Fail("OpenSSL cannot read PEM keys");
  OSSL_DECODER_CTX_set_passphrase_cb(ctx.get(), NoPassphrase, nullptr);
  const auto* data = reinterpret_cast<const unsigned char*>(pem.data());
  size_t length = pem.size();
  if (OSSL_DECODER_from_data(ctx.get(), &data, &length) != 1 || raw == nullptr) {
    ERR_clear_error();
    throw Failure(isPem ? "the input is not a PEM key that OpenSSL can read"
                        : "the input is neither a PEM nor a DER key that OpenSSL can read");
  }
  const Pkey key(raw);
  if (!EVP_PKEY_is_a(key.get(), "RSA")) {
    const char* type = EVP_PKEY_get0_type_name(key.get());
    throw Failure(std::string("the PEM key is ") + (type ? type : "of another type") + ", not an RSA key");
  }
  const Bn n = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_N);
  const Bn e = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_E);
  if (!n || !e) throw Failure("the PEM key does not hold n and e");
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
  Bn p = FactorModulus(bnN.get(), bnE.get(), bnD.get(), ctx.get());
  Bn q = NewBn(), rem = NewBn(), pMinus1 = NewBn(), qMinus1 = NewBn(), dp = NewBn(), dq = NewBn(), qInv = NewBn();
  if (!BN_div(q.get(), rem.get(), bnN.get(), p.get(), ctx.get()) || !BN_is_zero(rem.get()))
    throw Failure("the private key is not valid: the recovered factor does not divide n");
  if (BN_cmp(p.get(), q.get()) < 0) std::swap(p, q);  // p > q, as PKCS#1 lists them
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

}  // namespace Qrsa
