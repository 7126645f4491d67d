#include "keys/Pem.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "keys/KeyError.h"
#include "keys/KeyFormats.h"
#include "keys/DerScan.h"
#include "keys/PemShape.h"

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

// Refuses prompting for a pass phrase: encrypted keys are read only with the passphrase given.
int NoPassphrase(char*, size_t, size_t*, const OSSL_PARAM[], void*) { return 0; }

// The key libcrypto decodes from the whole input (PEM or DER), with the passphrase when one is given;
// null when it decodes none. `rest` receives the number of bytes after the key, when asked.
Pkey Decode(const std::string& input, bool pem, const std::string* passphrase, std::size_t* rest) {
  EVP_PKEY* raw = nullptr;
  std::unique_ptr<OSSL_DECODER_CTX, DecoderFree> ctx(
      OSSL_DECODER_CTX_new_for_pkey(&raw, pem ? "PEM" : "DER", nullptr, nullptr, 0, nullptr, nullptr));
  if (!ctx || OSSL_DECODER_CTX_get_num_decoders(ctx.get()) == 0) Fail("OpenSSL cannot read PEM keys");
  if (passphrase)
    OSSL_DECODER_CTX_set_passphrase(ctx.get(), reinterpret_cast<const unsigned char*>(passphrase->data()),
                                    passphrase->size());
  else
    OSSL_DECODER_CTX_set_passphrase_cb(ctx.get(), NoPassphrase, nullptr);
  const auto* data = reinterpret_cast<const unsigned char*>(input.data());
  size_t length = input.size();
  if (OSSL_DECODER_from_data(ctx.get(), &data, &length) != 1 || raw == nullptr) {
    ERR_clear_error();
    return nullptr;
  }
  if (rest) *rest = length;
  return Pkey(raw);
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
  const Internal::PemShape shape = isPem ? Internal::InspectPem(pem, "the input") : Internal::InspectDer(pem);
  if (shape.Encrypted)
    throw KeyError(std::string(isPem ? "the PEM key" : "the DER key") +
                   " is encrypted: decrypt it first (openssl pkey -in KEY -out PLAIN)");
  {
    std::string der = isPem ? Internal::PemBody(pem) : pem;
    const std::string problem = Internal::BadInteger(der);
    OPENSSL_cleanse(der.data(), der.size());
    if (!problem.empty()) throw KeyError("the key holds " + problem + ", which no key has");
  }
  const Pkey key = Decode(pem, isPem, nullptr, nullptr);
  if (!key)
    throw KeyError(isPem ? "the input is not a PEM key that OpenSSL can read"
                         : "the input is neither a PEM nor a DER key that OpenSSL can read");
  if (!EVP_PKEY_is_a(key.get(), "RSA")) {
    const char* type = EVP_PKEY_get0_type_name(key.get());
    throw KeyError(std::string("the PEM key is ") + (type ? type : "of another type") + ", not an RSA key");
  }
  const Bn n = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_N);
  const Bn e = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_E);
  if (!n || !e) throw KeyError("the PEM key does not hold n and e");
  if (BN_is_zero(n.get())) throw KeyError("the key's modulus is zero");
  RsaNumbers numbers;
  numbers.n = FromBn(n.get(), "modulus");
  numbers.e = FromBn(e.get(), "public exponent");
  if (const Bn d = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_D)) {
    if (BN_is_zero(d.get())) throw KeyError("the key is a private key whose private exponent d is 0");
    numbers.d = FromBn(d.get(), "private exponent");
    numbers.HasPrivate = true;
  }
  return numbers;
}

namespace Internal {

PemShape InspectPem(const std::string& text, const std::string& path) {
  PemShape shape;
  std::vector<std::string> labels;
  static const std::string begin = "-----BEGIN ";
  for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
    if (at != 0 && text[at - 1] != '\n') continue;  // only at the start of a line
    const auto end = text.find("-----", at + begin.size());
    if (end == std::string::npos) continue;
    labels.push_back(text.substr(at + begin.size(), end - at - begin.size()));
    // The traditional encryption names itself in the block's header lines, before the first blank line.
    const auto bodyEnd = text.find("-----END", end);
    const auto blank = text.find("\n\n", end);
    const auto headers = text.substr(end, (blank < bodyEnd ? blank : bodyEnd) - end);
    if (labels.back().find("PRIVATE KEY") != std::string::npos &&
        headers.find("\nProc-Type: 4,ENCRYPTED") != std::string::npos)
      shape.Encrypted = true;
  }
  if (labels.size() > 1) {
    std::string held;
    for (const std::string& label : labels) held += (held.empty() ? "" : ", ") + label;
    throw KeyError(path + " holds " + std::to_string(labels.size()) + " PEM blocks (" + held +
                   "); a key file holds one key");
  }
  if (labels.empty()) throw KeyError(path + " is not a PEM key: it has no BEGIN line");
  shape.Label = labels[0];
  if (shape.Label == "ENCRYPTED PRIVATE KEY") shape.Encrypted = true;
  return shape;
}

PemShape InspectDer(const std::string& der) {
  PemShape shape;
  // EncryptedPrivateKeyInfo: SEQUENCE { AlgorithmIdentifier, OCTET STRING }, the whole input.
  const auto* data = reinterpret_cast<const unsigned char*>(der.data());
  X509_SIG* sig = d2i_X509_SIG(nullptr, &data, long(der.size()));
  if (sig) {
    shape.Encrypted = data == reinterpret_cast<const unsigned char*>(der.data()) + der.size();
    X509_SIG_free(sig);
  }
  ERR_clear_error();
  return shape;
}

// The bytes of a key's number, big-endian; refused when negative.
bool ParamBytes(const EVP_PKEY* key, const char* name, const std::string& what, const char* field, std::string& out) {
  const Bn bn = KeyParam(key, name);
  if (!bn) return false;
  if (BN_is_negative(bn.get())) throw KeyError(what + ": its " + field + " is negative");
  out.assign(std::size_t(BN_num_bytes(bn.get())), '\0');
  BN_bn2bin(bn.get(), reinterpret_cast<unsigned char*>(out.data()));
  return true;
}

void ReadPemOrDer(const std::string& data, bool pem, const std::string& path, const ReadOptions& options,
                  KeyParts& parts) {
  const PemShape shape = pem ? InspectPem(data, path) : InspectDer(data);
  if (pem) {
    static const struct {
      const char* Label;
      const char* Format;
    } known[] = {{"RSA PRIVATE KEY", "a PEM PKCS#1 private key"},
                 {"RSA PUBLIC KEY", "a PEM PKCS#1 public key"},
                 {"PRIVATE KEY", "a PEM PKCS#8 private key"},
                 {"PUBLIC KEY", "a PEM public key"},
                 {"ENCRYPTED PRIVATE KEY", "an encrypted PEM PKCS#8 private key"}};
    for (const auto& k : known)
      if (shape.Label == k.Label) parts.Format = k.Format;
    if (parts.Format.empty()) throw KeyError(path + " is a PEM " + shape.Label + ", not an RSA key");
    if (shape.Encrypted && shape.Label == "RSA PRIVATE KEY") parts.Format = "an encrypted PEM PKCS#1 private key";
  } else {
    parts.Format = shape.Encrypted ? "an encrypted DER PKCS#8 private key" : "a DER key";
  }
  const std::string what = path + " (" + parts.Format + ")";
  if (!shape.Encrypted) {
    SecretText der(pem ? PemBody(data) : data);
    const std::string problem = BadInteger(der.Text());
    if (!problem.empty()) throw KeyError(what + " holds " + problem + ", which no key has");
  }
  SecretText passphrase;
  if (shape.Encrypted) passphrase.Text() = AskPassphrase(options, path);
  std::size_t rest = 0;
  const Pkey key = Decode(data, pem, shape.Encrypted ? &passphrase.Text() : nullptr, &rest);
  if (!key) {
    if (shape.Encrypted) WrongPassphrase(path);
    throw KeyError(pem ? what + " is damaged or truncated: OpenSSL cannot read it"
                       : path + " is neither a key file, a PEM, DER, OpenSSH key nor a JWK that can be read");
  }
  if (!pem && rest != 0) throw KeyError(what + ": bytes follow the key; a key file holds one key");
  if (!EVP_PKEY_is_a(key.get(), "RSA")) {
    const char* type = EVP_PKEY_get0_type_name(key.get());
    throw KeyError(what + " is " + (type ? std::string("an ") + type + " key" : "a key of another type") +
                   ", not an RSA key");
  }
  if (const Bn third = KeyParam(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR3))
    throw KeyError(what + " has more than two prime factors, which is not supported");
  parts.HasN = ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_N, what, "modulus n", parts.N);
  parts.HasE = ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_E, what, "public exponent e", parts.E);
  parts.HasD = ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_D, what, "private exponent d", parts.D);
  if (!parts.HasD) return;
  parts.HasFactors = ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, what, "prime p", parts.P) &
                     ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, what, "prime q", parts.Q);
  parts.HasCrt = parts.HasFactors & ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, what, "CRT exponent dp", parts.Dp) &
                 ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, what, "CRT exponent dq", parts.Dq) &
                 ParamBytes(key.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, what, "CRT coefficient qi", parts.Qi);
}

}  // namespace Internal

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
