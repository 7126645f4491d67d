#include "cli/ComponentUnwrap.h"

#include <openssl/bn.h>

#include <memory>

#include "cli/Failure.h"
#include "cli/Secret.h"

namespace Qrsa {

namespace {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

// A BigNum as an OpenSSL number: its digits least significant first, each digit's bytes likewise.
Bn ToBn(const Rsa::BigNum& x) {
  unsigned char image[4 * Rsa::BigNumDigits];
  for (std::size_t i = 0; i < Rsa::BigNumDigits; ++i)
    for (std::size_t b = 0; b < 4; ++b) image[4 * i + b] = static_cast<unsigned char>(x.Digits[i] >> (8 * b));
  Bn bn(BN_lebin2bn(image, int(sizeof image), nullptr));
  Wipe(image, sizeof image);
  if (!bn) throw Failure("out of memory");
  return bn;
}

// All ones when the block of c (K bytes, little-endian) has a zero top byte, else zero.
unsigned TopByteZeroMask(Rsa::TRSA& rsa, const std::string& cipher) {
  const int K = 4 * rsa.GetPrecision();
  Rsa::BigNum n{}, d{};
  rsa.GetPrivateKey(n, d);
  const Bn modulus = ToBn(n), exponent = ToBn(d);
  Wipe(&d, sizeof d);
  BN_set_flags(exponent.get(), BN_FLG_CONSTTIME);
  const Bn c(BN_lebin2bn(reinterpret_cast<const unsigned char*>(cipher.data()), int(cipher.size()), nullptr));
  const Bn m(BN_new());
  const std::unique_ptr<BN_CTX, BnCtxFree> ctx(BN_CTX_secure_new());
  if (!c || !m || !ctx) throw Failure("out of memory");
  // The component reduces c modulo n before it exponentiates; so does OpenSSL.
  if (BN_mod_exp_mont_consttime(m.get(), c.get(), exponent.get(), modulus.get(), ctx.get(), nullptr) != 1)
    throw Failure("the check of the unwrapped block failed in OpenSSL");
  std::string block(std::size_t(K), '\0');
  SecretText guard(std::move(block));
  if (BN_bn2lebinpad(m.get(), reinterpret_cast<unsigned char*>(guard.Text().data()), K) != K)
    throw Failure("the check of the unwrapped block failed in OpenSSL");
  const unsigned top = static_cast<unsigned char>(guard.Text()[std::size_t(K - 1)]);
  return 0u - ((top - 1u) >> 31);  // top - 1 wraps to the sign bit only when top is 0
}

}  // namespace

void ComponentUnwrap(Rsa::TRSA& rsa, const std::string& text, Rsa::TSymKey& key) {
  rsa.DecryptKey(text, key);  // the component's refusals of the text come first
  const System::AnsiString cipher = rsa.DecodeString(text);
  const unsigned ok = TopByteZeroMask(rsa, cipher.str());
  // The key bytes survive only under the mask; the verdict itself is what the caller reports.
  for (unsigned char& byte : key) byte = static_cast<unsigned char>(byte & ok);
  if (ok == 0) throw Failure("the wrapped key was not made for this key, or it is damaged");
}

}  // namespace Qrsa
