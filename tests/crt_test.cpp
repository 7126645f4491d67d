// Private-key operations by the Chinese remainder theorem: byte-identical to the plain exponentiation
// and to GMP at every key size, the fault check and its fallback, recovery of the prime factors from e,
// d and n (also for keys whose d is reduced modulo lcm(p-1, q-1), as OpenSSL makes them), and the
// per-key values forgotten on every key change.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <random>
#include <string>

#include "rsa/ByteImage.h"
#include "rsa/KeyCache.h"
#include "rsa/RSA.h"
#include "support/DigitsGmp.h"
#include "support/FixtureKeys.h"
#include "support/GmpReference.h"

using Rsa::BigNum;
using Rsa::TRSA;
using System::AnsiString;

namespace Testing {
// The factor slots of the key store, read by the same member-pointer technique as KeyStoreProbe.h
// (which this file does not include).
template <class Tag, typename Tag::Type Member>
struct PrimeProbe {
  friend typename Tag::Type MemberOf(Tag) { return Member; }
};
struct Prime1Slot { using Type = BigNum TRSA::*; friend Type MemberOf(Prime1Slot); };
struct Prime2Slot { using Type = BigNum TRSA::*; friend Type MemberOf(Prime2Slot); };
struct PrimesKnownFlag { using Type = bool TRSA::*; friend Type MemberOf(PrimesKnownFlag); };
template struct PrimeProbe<Prime1Slot, &TRSA::FPrime1>;
template struct PrimeProbe<Prime2Slot, &TRSA::FPrime2>;
template struct PrimeProbe<PrimesKnownFlag, &TRSA::FPrimesKnown>;
}  // namespace Testing

namespace {

const BigNum& Prime1(const TRSA& rsa) { return rsa.*MemberOf(Testing::Prime1Slot{}); }
const BigNum& Prime2(const TRSA& rsa) { return rsa.*MemberOf(Testing::Prime2Slot{}); }
bool PrimesKnown(const TRSA& rsa) { return rsa.*MemberOf(Testing::PrimesKnownFlag{}); }

Testing::Mpz ToMpz(const BigNum& x) { return Testing::Mpz(x.Digits, Rsa::BigNumDigits); }

// Raw blocks of K bytes: random ones (some above n), and 0, 1, n-1 and n itself.
std::string RawBlocks(const Testing::FixtureKey& key, int K, unsigned seed) {
  std::mt19937 engine(seed);
  std::string raw;
  for (int b = 0; b < 6; ++b)
    for (int i = 0; i < K; ++i) raw += static_cast<char>(engine());
  const BigNum n = Testing::HexToBigNum(key.N);
  const BigNum zero{}, one{1};
  BigNum nMinus1 = n;
  nMinus1.Digits[0] -= 1;  // n is odd
  for (const BigNum* x : {&zero, &one, static_cast<const BigNum*>(&nMinus1), &n}) {
    std::string block(std::size_t(K), '\0');
    Rsa::ImageToBytes(*x, reinterpret_cast<unsigned char*>(block.data()), K);
    raw += block;
  }
  return raw;
}

// What DecryptString makes of raw blocks, computed with GMP: each block to the power d mod n, byte K-1
// dropped, then the pad count cut.
std::string ExpectedPlain(const std::string& raw, const Testing::FixtureKey& key, int K) {
  std::string plain;
  for (std::size_t at = 0; at < raw.size(); at += std::size_t(K))
    plain += Testing::GmpModPowLE(raw.substr(at, std::size_t(K)), key.D, key.N, K).substr(0, std::size_t(K - 1));
  const int p = static_cast<unsigned char>(plain.back());
  plain.resize(p < int(plain.size()) ? plain.size() - std::size_t(p) : 0);
  return plain;
}

std::string Radix64(TRSA& rsa, const std::string& bytes) { return rsa.EncodeString(bytes).str(); }

std::string DecryptRaw(TRSA& rsa, const std::string& raw) {
  AnsiString plain;
  rsa.DecryptString(Radix64(rsa, raw), plain);
  return plain.str();
}

class Crt : public ::testing::TestWithParam<int> {};

// The same blocks through the CRT path (both halves loaded), the plain path (private key alone) and
// GMP; then DecryptKey and Sign agree between the paths too. No CRT result may fail its check.
TEST_P(Crt, MatchesThePlainPathAndGmpAtEveryKeySize) {
  const int bits = GetParam(), K = bits / 8;
  for (int which : {0, 1}) {
    const Testing::FixtureKey& key = Testing::GetFixtureKey(bits, which);
    TRSA crt(nullptr), plain(nullptr);
    Testing::LoadFixtureKey(crt, bits, which);
    plain.SetKeyBits(Testing::KeyBitsFor(bits));
    Testing::LoadFixturePrivateKey(plain, bits, which);

    const unsigned long fallbacks = Rsa::CrtTesting::FallbackCount();
    const std::string raw = RawBlocks(key, K, unsigned(bits + which));
    const std::string want = ExpectedPlain(raw, key, K);
    EXPECT_EQ(DecryptRaw(crt, raw), want) << bits << " bits, key " << which;
    EXPECT_EQ(DecryptRaw(plain, raw), want) << bits << " bits, key " << which;
    ASSERT_TRUE(PrimesKnown(crt));
    EXPECT_FALSE(PrimesKnown(plain));

    crt.SetSymKeyLength(Rsa::sk256);
    plain.SetSymKeyLength(Rsa::sk256);
    Rsa::TSymKey key32{}, fromCrt{}, fromPlain{};
    for (int i = 0; i < 32; ++i) key32[i] = static_cast<unsigned char>(i * 29 + which);
    const AnsiString wrapped = crt.EncryptKey(key32);
    crt.DecryptKey(wrapped, fromCrt);
    plain.DecryptKey(wrapped, fromPlain);
    EXPECT_EQ(std::string(fromCrt, fromCrt + 32), std::string(key32, key32 + 32));
    EXPECT_EQ(std::string(fromPlain, fromPlain + 32), std::string(key32, key32 + 32));

    const unsigned char data[] = "signed by both paths";
    crt.Sign(data, sizeof data - 1, sizeof data);
    plain.PutSignature(crt.Signature());
    EXPECT_TRUE(crt.Verify(data, sizeof data - 1, sizeof data));
    EXPECT_EQ(Rsa::CrtTesting::FallbackCount(), fallbacks) << "a CRT result failed its check";
  }
}

// A spoiled half must be caught by the check: every result still equals the plain path's, and each
// block counts one fallback.
TEST_P(Crt, AFaultyHalfIsCaughtAndThePlainResultReturned) {
  const int bits = GetParam(), K = bits / 8;
  const Testing::FixtureKey& key = Testing::GetFixtureKey(bits);
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, bits);
  const std::string raw = RawBlocks(key, K, 99);
  const unsigned long before = Rsa::CrtTesting::FallbackCount();
  Rsa::CrtTesting::InjectFaults(true);
  const std::string got = DecryptRaw(rsa, raw);
  const unsigned char data[] = "fault";
  rsa.Sign(data, 4, 5);
  Rsa::CrtTesting::InjectFaults(false);
  EXPECT_EQ(got, ExpectedPlain(raw, key, K));
  EXPECT_TRUE(rsa.Verify(data, 4, 5));
  EXPECT_EQ(Rsa::CrtTesting::FallbackCount() - before, raw.size() / std::size_t(K) + 1);
}

INSTANTIATE_TEST_SUITE_P(KeySizes, Crt, ::testing::Values(512, 1024, 2048, 3072, 4096),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });

// The factors of every fixture key, and of an OpenSSL key (d modulo lcm(p-1, q-1)); e and d of another
// key, and an even e*d - 1 that is no key, give false and zero factors.
TEST(RecoverPrimeFactors, SplitsEveryKeyAndRefusesNonKeys) {
  for (int bits : {512, 1024, 2048}) {
    for (int which : {0, 1}) {
      const Testing::FixtureKey& key = Testing::GetFixtureKey(bits, which);
      const BigNum e = Testing::HexToBigNum(key.E), n = Testing::HexToBigNum(key.N), d = Testing::HexToBigNum(key.D);
      BigNum p, q;
      ASSERT_TRUE(Rsa::RecoverPrimeFactors(e, d, n, p, q)) << bits << " bits, key " << which;
      Testing::Mpz product;
      mpz_mul(product, ToMpz(p), ToMpz(q));
      EXPECT_EQ(product, ToMpz(n));
      EXPECT_GT(mpz_cmp(ToMpz(p), ToMpz(q)), 0);
      EXPECT_NE(mpz_probab_prime_p(ToMpz(q), 20), 0);
    }
  }

  EVP_PKEY* pkey = EVP_RSA_gen(1024);
  ASSERT_NE(pkey, nullptr);
  auto get = [pkey](const char* name) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(pkey, name, &bn);
    BigNum x{};
    BN_bn2lebinpad(bn, reinterpret_cast<unsigned char*>(x.Digits), sizeof x.Digits);
    BN_free(bn);
    for (Rsa::Digit& digit : x.Digits) digit = Rsa::Digit(reinterpret_cast<unsigned char*>(&digit)[0]) |
                                               Rsa::Digit(reinterpret_cast<unsigned char*>(&digit)[1]) << 8 |
                                               Rsa::Digit(reinterpret_cast<unsigned char*>(&digit)[2]) << 16 |
                                               Rsa::Digit(reinterpret_cast<unsigned char*>(&digit)[3]) << 24;
    return x;
  };
  const BigNum e = get(OSSL_PKEY_PARAM_RSA_E), n = get(OSSL_PKEY_PARAM_RSA_N), d = get(OSSL_PKEY_PARAM_RSA_D);
  const BigNum p1 = get(OSSL_PKEY_PARAM_RSA_FACTOR1), q1 = get(OSSL_PKEY_PARAM_RSA_FACTOR2);
  EVP_PKEY_free(pkey);
  BigNum p, q;
  ASSERT_TRUE(Rsa::RecoverPrimeFactors(e, d, n, p, q));
  const bool firstIsLarger = mpz_cmp(ToMpz(p1), ToMpz(q1)) > 0;
  EXPECT_EQ(ToMpz(p), ToMpz(firstIsLarger ? p1 : q1));
  EXPECT_EQ(ToMpz(q), ToMpz(firstIsLarger ? q1 : p1));

  const Testing::FixtureKey& a = Testing::GetFixtureKey(1024, 0);
  const Testing::FixtureKey& b = Testing::GetFixtureKey(1024, 1);
  BigNum two{};
  two.Digits[0] = 3;  // e*d - 1 = 3*1 - 1 = 2: even, but no multiple of the group order
  BigNum oneD{};
  oneD.Digits[0] = 1;
  const struct {
    const char* name;
    BigNum e, d, n;
  } refused[] = {
      {"e and d of another key", Testing::HexToBigNum(a.E), Testing::HexToBigNum(b.D), Testing::HexToBigNum(a.N)},
      {"e*d - 1 = 2", two, oneD, Testing::HexToBigNum(a.N)},
      {"d zero", Testing::HexToBigNum(a.E), BigNum{}, Testing::HexToBigNum(a.N)},
  };
  for (const auto& k : refused) {
    BigNum p2, q2;
    p2.Digits[0] = q2.Digits[0] = 7;
    EXPECT_FALSE(Rsa::RecoverPrimeFactors(k.e, k.d, k.n, p2, q2)) << k.name;
    EXPECT_EQ(ToMpz(p2).Sign() + ToMpz(q2).Sign(), 0) << k.name;
  }
}

// Every change of the key store forgets the factors and the per-key values: a new key, a KeyBits
// assignment, a key text, Burn. Operations afterwards use the new key; a public key that does not match
// the private one leaves the plain path, with its own results.
TEST(Crt, KeyChangesForgetTheFactors) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 1024, 0);
  const Testing::FixtureKey& k1 = Testing::GetFixtureKey(1024, 1);
  const std::string raw = RawBlocks(k1, 128, 5);
  DecryptRaw(rsa, raw);
  ASSERT_TRUE(PrimesKnown(rsa));

  const struct {
    const char* name;
    void (*change)(TRSA&);
  } changes[] = {
      {"SetPublicKey", [](TRSA& r) { Testing::LoadFixturePublicKey(r, 1024, 1); }},
      {"SetPrivateKey", [](TRSA& r) { Testing::LoadFixturePrivateKey(r, 1024, 1); }},
      {"KeyBits", [](TRSA& r) { r.SetKeyBits(Rsa::kb1024); }},
      {"PrivateKey text", [](TRSA& r) { r.PutPrivateKey(Testing::FixturePrivateKeyText(1024, 1)); }},
      {"PublicKey text", [](TRSA& r) { r.PutPublicKey(Testing::FixturePublicKeyText(1024, 1)); }},
  };
  for (const auto& c : changes) {
    Testing::LoadFixtureKey(rsa, 1024, 0);
    DecryptRaw(rsa, raw);
    ASSERT_TRUE(PrimesKnown(rsa)) << c.name;
    c.change(rsa);
    EXPECT_FALSE(PrimesKnown(rsa)) << c.name;
    EXPECT_EQ(ToMpz(Prime1(rsa)).Sign() + ToMpz(Prime2(rsa)).Sign(), 0) << c.name;
  }

  // Now both halves are key 1's: the factors come back and results are key 1's.
  Testing::LoadFixtureKey(rsa, 1024, 1);
  EXPECT_EQ(DecryptRaw(rsa, raw), ExpectedPlain(raw, k1, 128));
  EXPECT_TRUE(PrimesKnown(rsa));

  // A public exponent that does not match d: the factors stay unknown and the plain path gives c^d mod n.
  const BigNum otherE{50001};
  rsa.SetPublicKey(otherE, Testing::HexToBigNum(k1.N));
  Testing::LoadFixturePrivateKey(rsa, 1024, 1);
  EXPECT_EQ(DecryptRaw(rsa, raw), ExpectedPlain(raw, k1, 128));
  EXPECT_FALSE(PrimesKnown(rsa));

  rsa.Burn();
  EXPECT_FALSE(PrimesKnown(rsa));
  EXPECT_EQ(ToMpz(Prime1(rsa)).Sign() + ToMpz(Prime2(rsa)).Sign(), 0);
}

}  // namespace
