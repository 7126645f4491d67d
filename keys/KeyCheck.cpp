// The checks every key passes when it is read, whatever its format. Public key: n odd, without a small
// prime factor, of a size the component has; e odd with 3 <= e < n. Private key: also 0 < d < n; the
// factors (given, or recovered from e and d) are distinct primes with p*q = n; e*d = 1 modulo
// lambda(n) = lcm(p-1, q-1); given CRT values equal d mod (p-1), d mod (q-1) and q^-1 mod p. Every key
// that passes satisfies x^(e*d) = x (mod n) for all x.
//
// Not constant time: the checks run once per read on the key's own numbers through libcrypto's
// arithmetic, with the secret numbers flagged for its constant-time paths where it has them; what they
// decide is whether the key is refused.
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstring>

#include "keys/KeyError.h"
#include "keys/KeyParts.h"

namespace Qarvex::Keys::Internal {

namespace {

struct BnFree {
  void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
struct BnCtxFree {
  void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn NewBn() {
  Bn bn(BN_secure_new());
  if (!bn) throw KeyError("out of memory");
  return bn;
}

Bn FromBytes(const std::string& bytes, bool secret) {
  Bn bn(BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()), BN_secure_new()));
  if (!bn) throw KeyError("out of memory");
  if (secret) BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
  return bn;
}

// The big-endian bytes of a number as the component's store holds it, and back.
std::string BigNumBytes(const Rsa::BigNum& x) {
  std::string bytes(4 * Rsa::BigNumDigits, '\0');
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i)
    for (unsigned b = 0; b < 4; ++b)
      bytes[bytes.size() - 1 - (4 * i + b)] = static_cast<char>(x.Digits[i] >> (8 * b));
  return bytes;
}

// x from big-endian bytes; false when it does not fit the store.
bool ToBigNum(const std::string& bytes, Rsa::BigNum& x) {
  x = Rsa::BigNum{};
  std::size_t start = 0;
  while (start < bytes.size() && bytes[start] == 0) ++start;
  const std::size_t length = bytes.size() - start;
  if (length > 4 * Rsa::BigNumDigits) return false;
  for (std::size_t j = 0; j < length; ++j) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - 1 - j]);
    x.Digits[j / 4] |= Rsa::Digit(byte) << (8 * (j % 4));
  }
  return true;
}

// The first primes, for the small-factor test of n.
bool HasSmallFactor(const BIGNUM* n) {
  for (BN_ULONG p = 3; p < 2000; p += 2) {
    bool prime = true;
    for (BN_ULONG f = 3; f * f <= p; f += 2)
      if (p % f == 0) {
        prime = false;
        break;
      }
    if (prime && BN_mod_word(n, p) == 0 && !BN_is_word(n, p)) return true;
  }
  return false;
}

class Checker {
 public:
  Checker(const KeyParts& parts, const std::string& path)
      : FWhat(path + (parts.Format.empty() ? "" : " (" + parts.Format + ")")), FCtx(BN_CTX_secure_new()) {
    if (!FCtx) throw KeyError("out of memory");
  }

  [[noreturn]] void Refuse(const std::string& why) const { throw KeyError(FWhat + ": " + why); }

  // n odd, no small factor, a size the component has; returns that size.
  Rsa::TKeyBits CheckModulus(const BIGNUM* n) const {
    if (BN_is_zero(n)) Refuse("the modulus n is zero");
    const int bits = BN_num_bits(n);
    const std::optional<Rsa::TKeyBits> size = KeyBitsForModulus(unsigned(bits));
    if (!size)
      Refuse("the RSA modulus has " + std::to_string(bits) + " bits; keys of " + KeySizeList() +
             " bits are supported");
    if (!BN_is_odd(n)) Refuse("the modulus n is even, so it is not an RSA modulus");
    if (HasSmallFactor(n)) Refuse("the modulus n has a small prime factor, so it is not an RSA modulus");
    return *size;
  }

  void CheckPublicExponent(const BIGNUM* e, const BIGNUM* n) const {
    if (BN_is_negative(e) || BN_cmp(e, BN_value_one()) <= 0 || BN_is_word(e, 2))
      Refuse("the public exponent e must be at least 3");
    if (!BN_is_odd(e)) Refuse("the public exponent e is even");
    if (BN_cmp(e, n) >= 0) Refuse("the public exponent e is not below n");
  }

  void CheckPrivate(const BIGNUM* n, const BIGNUM* e, const BIGNUM* d, const KeyParts& parts) {
    if (BN_is_zero(d)) Refuse("the private exponent d is 0, so this is no private key");
    if (BN_cmp(d, n) >= 0) Refuse("the private exponent d is not below n");
    if (!e) {
      if (BN_is_one(d)) Refuse("the private exponent d is 1");
      return;  // a bare private key text: n and d alone, nothing more to check them with
    }
    Bn p, q;
    if (parts.HasFactors) {
      p = FromBytes(parts.P, true);
      q = FromBytes(parts.Q, true);
    } else {
      Rsa::BigNum e1{}, d1{}, n1{}, p1{}, q1{};
      ToBigNum(parts.E, e1);
      ToBigNum(parts.D, d1);
      ToBigNum(parts.N, n1);
      const bool split = Rsa::RecoverPrimeFactors(e1, d1, n1, p1, q1);
      OPENSSL_cleanse(&d1, sizeof d1);
      std::string pBytes = BigNumBytes(p1), qBytes = BigNumBytes(q1);
      OPENSSL_cleanse(&p1, sizeof p1);
      OPENSSL_cleanse(&q1, sizeof q1);
      if (!split) {
        Wipe(pBytes);
        Wipe(qBytes);
        Refuse("the private exponent d does not belong to the modulus n and the public exponent e");
      }
      p = FromBytes(pBytes, true);
      q = FromBytes(qBytes, true);
      Wipe(pBytes);
      Wipe(qBytes);
    }
    Bn product = NewBn(), pMinus1 = NewBn(), qMinus1 = NewBn(), gcd = NewBn(), lambda = NewBn(), rest = NewBn(),
       ed = NewBn(), value = NewBn();
    BN_set_flags(lambda.get(), BN_FLG_CONSTTIME);
    if (!BN_mul(product.get(), p.get(), q.get(), FCtx.get())) throw KeyError("out of memory");
    if (BN_cmp(product.get(), n) != 0) Refuse("the prime factors p and q do not multiply to n");
    if (BN_cmp(p.get(), q.get()) == 0) Refuse("the prime factors p and q are equal");
    for (const BIGNUM* f : {p.get(), q.get()})
      if (BN_check_prime(f, FCtx.get(), nullptr) != 1) Refuse("a factor of n is not a prime");
    if (!BN_sub(pMinus1.get(), p.get(), BN_value_one()) || !BN_sub(qMinus1.get(), q.get(), BN_value_one()) ||
        !BN_gcd(gcd.get(), pMinus1.get(), qMinus1.get(), FCtx.get()) ||
        !BN_mul(value.get(), pMinus1.get(), qMinus1.get(), FCtx.get()) ||
        !BN_div(lambda.get(), rest.get(), value.get(), gcd.get(), FCtx.get()) ||
        !BN_mod_mul(ed.get(), e, d, lambda.get(), FCtx.get()))
      throw KeyError("out of memory");
    if (!BN_is_one(ed.get()))
      Refuse("the private exponent d does not belong to the modulus n and the public exponent e (e*d is not 1 modulo lambda(n))");
    if (parts.HasCrt || parts.HasQi) {
      bool dpOk = true, dqOk = true;
      if (parts.HasCrt) {
        const Bn dp = FromBytes(parts.Dp, true), dq = FromBytes(parts.Dq, true);
        if (!BN_mod(value.get(), d, pMinus1.get(), FCtx.get())) throw KeyError("out of memory");
        dpOk = BN_cmp(value.get(), dp.get()) == 0;
        if (!BN_mod(value.get(), d, qMinus1.get(), FCtx.get())) throw KeyError("out of memory");
        dqOk = BN_cmp(value.get(), dq.get()) == 0;
      }
      const Bn qi = FromBytes(parts.Qi, true);
      if (!BN_mod_mul(value.get(), qi.get(), q.get(), p.get(), FCtx.get())) throw KeyError("out of memory");
      const bool qiOk = BN_is_one(value.get()) && BN_cmp(qi.get(), p.get()) < 0;
      if (!dpOk || !dqOk || !qiOk) Refuse("the key's CRT values do not match its private exponent and factors");
    }
  }

 private:
  std::string FWhat;
  std::unique_ptr<BN_CTX, BnCtxFree> FCtx;
};

}  // namespace

std::unique_ptr<KeyHolder> LoadCheckedKey(KeyParts& parts, const std::string& path) {
  Checker check(parts, path);
  if (!parts.HasN) check.Refuse("the key has no modulus n");
  if (parts.HasD && !parts.HasE) check.Refuse("the private key has no public exponent e");
  const Bn n = FromBytes(parts.N, false);
  const Rsa::TKeyBits size = check.CheckModulus(n.get());
  const Bn e = FromBytes(parts.E, false);
  check.CheckPublicExponent(e.get(), n.get());
  if (parts.HasD) {
    const Bn d = FromBytes(parts.D, true);
    check.CheckPrivate(n.get(), e.get(), d.get(), parts);
  }

  Rsa::BigNum bn{}, be{}, bd{};
  ToBigNum(parts.N, bn);
  ToBigNum(parts.E, be);
  auto holder = std::make_unique<KeyHolder>();
  Rsa::TRSA& rsa = holder->Rsa();
  rsa.SetKeyBits(size);
  const int precision = rsa.GetPrecision();
  rsa.PutPublicKey(KeyFieldText(rsa, be, 0) + ":" + KeyFieldText(rsa, bn, precision));
  if (parts.HasD) {
    ToBigNum(parts.D, bd);
    System::AnsiString text = KeyFieldText(rsa, bn, 0) + ":" + KeyFieldText(rsa, bd, precision);
    OPENSSL_cleanse(&bd, sizeof bd);
    rsa.PutPrivateKey(text);
    rsa.BurnString(text);
  }
  return holder;
}

void CheckLoadedKey(KeyHolder& holder, const std::string& path) {
  Rsa::TRSA& rsa = holder.Rsa();
  KeyParts parts;
  parts.Format = "a key file";
  Rsa::BigNum e{}, n{}, d{};
  if (holder.HasPublicKey()) {
    rsa.GetPublicKey(e, n);
    parts.E = BigNumBytes(e);
    parts.HasE = true;
  }
  if (holder.HasPrivateKey()) {
    rsa.GetPrivateKey(n, d);
    parts.D = BigNumBytes(d);
    parts.HasD = true;
    OPENSSL_cleanse(&d, sizeof d);
  }
  if (!parts.HasE && !parts.HasD) return;  // nothing loaded: the commands say what is missing
  parts.N = BigNumBytes(n);
  Checker check(parts, path);
  const Bn bnN = FromBytes(parts.N, false);
  check.CheckModulus(bnN.get());
  Bn bnE;
  if (parts.HasE) {
    bnE = FromBytes(parts.E, false);
    check.CheckPublicExponent(bnE.get(), bnN.get());
  }
  if (parts.HasD) {
    const Bn bnD = FromBytes(parts.D, true);
    check.CheckPrivate(bnN.get(), bnE.get(), bnD.get(), parts);
  }
}

}  // namespace Qarvex::Keys::Internal
