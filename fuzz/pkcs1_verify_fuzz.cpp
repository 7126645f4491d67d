// RSASSA-PKCS1-v1_5 verification with the 1024-bit fixture key, on the component's key store. The
// first byte picks the digest and what the rest is: the signature itself (any length), or a block that
// the target raises to d with GMP, so that the recovered block is the fuzzer's own (a DigestInfo of
// any encoding). The digest is of the second byte. A signature verifies exactly when it is k bytes,
// below n, and its block is the one DER encoding of the digest; verification raises nothing, and
// changes neither the status nor anything else a caller sees.
#include <gmp.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "rsa/SchemeEncoding.h"
#include "rsa/StandardSchemes.h"
#include "support/FixtureKeys.h"

namespace {

using Hash::THashKind;
constexpr std::size_t K = 128;

struct Key {
  mpz_t N, D;
  Key() {
    const Testing::FixtureKey& k = Testing::GetFixtureKey(1024);
    mpz_init_set_str(N, k.N, 16);
    mpz_init_set_str(D, k.D, 16);
  }
};

// The k-byte big-endian string of block^d mod n (block below 2^(8k); reduced first).
std::string RaiseToD(const std::string& block) {
  static const Key key;
  mpz_t x;
  mpz_init(x);
  mpz_import(x, block.size(), 1, 1, 0, 0, block.data());
  mpz_powm(x, x, key.D, key.N);
  std::string out(K, '\0');
  std::size_t count = (mpz_sizeinbase(x, 2) + 7) / 8;
  if (mpz_sgn(x) != 0) mpz_export(out.data() + (K - count), &count, 1, 1, 0, 0, x);
  mpz_clear(x);
  return out;
}

// Whether the string is below n.
bool BelowN(const std::string& s) {
  static const Key key;
  mpz_t x;
  mpz_init(x);
  mpz_import(x, s.size(), 1, 1, 0, 0, s.data());
  const bool below = mpz_cmp(x, key.N) < 0;
  mpz_clear(x);
  return below;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const THashKind digests[] = {THashKind::Sha256, THashKind::Sha384, THashKind::Sha512, THashKind::Sha256};
  const THashKind digest = digests[data[0] & 3];
  const bool raise = data[0] & 0x04;
  std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);

  static Rsa::TRSA* rsa = [] {
    auto* r = new Rsa::TRSA(nullptr);
    Testing::LoadFixtureKey(*r, 1024);
    return r;
  }();
  rsa->SetStatus("before");

  unsigned char messageDigest[Hash::MaxDigestSize];
  Hash::Digest(digest, &data[1], 1, messageDigest);
  const std::string digested(reinterpret_cast<char*>(messageDigest), Hash::DigestSize(digest));
  unsigned char expected[K];
  Rsa::Schemes::EncodePkcs1v15(digest, messageDigest, expected, K);

  std::string signature;
  bool valid;
  if (raise) {
    rest.resize(K, '\0');
    if (!BelowN(rest)) return 0;
    signature = RaiseToD(rest);
    valid = std::memcmp(rest.data(), expected, K) == 0;
  } else {
    signature = rest;
    if (signature.size() != K || !BelowN(signature)) {
      valid = false;
    } else {
      // The signature's block is its e-th power; compare with the expected block.
      const Testing::FixtureKey& k = Testing::GetFixtureKey(1024);
      mpz_t x, e, n;
      mpz_init(x);
      mpz_init_set_str(e, k.E, 16);
      mpz_init_set_str(n, k.N, 16);
      mpz_import(x, K, 1, 1, 0, 0, signature.data());
      mpz_powm(x, x, e, n);
      std::string block(K, '\0');
      std::size_t count = (mpz_sizeinbase(x, 2) + 7) / 8;
      if (mpz_sgn(x) != 0) mpz_export(block.data() + (K - count), &count, 1, 1, 0, 0, x);
      mpz_clear(x);
      mpz_clear(e);
      mpz_clear(n);
      valid = std::memcmp(block.data(), expected, K) == 0;
    }
  }
  FUZZ_CHECK(Rsa::Pkcs1v15VerifyDigest(*rsa, digest, digested, signature) == valid);
  FUZZ_CHECK(rsa->Status().str() == "before");
  return 0;
}
