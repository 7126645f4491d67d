// Key-pair generation: start values, primes, n, e and d checked with GMP; status events; what the key
// store, flags and texts hold afterwards (or keep when a status handler throws); texts that load back;
// and interoperation with OpenSSL's raw RSA.
#include <gmp.h>
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/GmpReference.h"
#include "support/KeyStoreProbe.h"
#include "support/ScriptedRandom.h"

using Rsa::BigNum;
using Rsa::TRSA;
using System::AnsiString;

namespace {

using Testing::Mpz;

Mpz ToMpz(const BigNum& x) { return Testing::MpzOf(x); }
BigNum ToBigNum(const Mpz& v) { return Testing::BigNumOf(v); }

bool Same(const BigNum& a, const BigNum& b) { return std::memcmp(a.Digits, b.Digits, sizeof a.Digits) == 0; }

Rsa::TKeyBits KeyBitsFor(int bits) {
  for (const Rsa::TKeySize& size : Rsa::KeySizes)
    if (size.Bits == bits) return size.KeyBits;
  ADD_FAILURE() << "no key size of " << bits << " bits";
  return Rsa::kb0512;
}

const std::vector<std::string> StatusTexts = {"Finding first random prime", "Finding second random prime",
                                              "Calculating keys", "Idle"};

// A fixed script of well-mixed words, long enough that no value repeats within one generation.
std::vector<std::uint32_t> MixedWords(unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint32_t> words(20000);
  for (auto& w : words) w = gen();
  return words;
}

// A seed with every digit set, so a test sees that only the low h digits are used.
BigNum FullSeed(std::uint32_t salt) {
  BigNum s{};
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i) s[i] = 0x9E3779B9u * (i + 1) ^ salt;
  return s;
}

// The start value key generation builds from `h` generator words beginning at `first` and a seed.
Mpz StartValue(const std::vector<std::uint32_t>& words, int first, const BigNum& seed, int h) {
  BigNum s{};
  for (int i = 0; i < h; ++i) s[i] = words[std::size_t(first + i) % words.size()] ^ seed[i];
  s[h - 1] |= 0x80000000u;
  s[0] |= 1u;
  return ToMpz(s);
}

Mpz FirstPrimeFrom(const Mpz& start) {
  Mpz before, p;
  mpz_sub_ui(before.get(), start.get(), 1);
  mpz_nextprime(p.get(), before.get());
  return p;
}

// The least odd e from 50001 upward that is prime to both p - 1 and q - 1.
Mpz LeastExponent(const Mpz& pMinus1, const Mpz& qMinus1) {
  Mpz e(50001ul), g1, g2;
  for (;; mpz_add_ui(e.get(), e.get(), 2)) {
    mpz_gcd(g1.get(), e.get(), pMinus1.get());
    mpz_gcd(g2.get(), e.get(), qMinus1.get());
    if (mpz_cmp_ui(g1.get(), 1) == 0 && mpz_cmp_ui(g2.get(), 1) == 0) return e;
  }
}

// m^(e*d) = m (mod n) for a few m: the numbers form a working RSA key.
void ExpectRoundTrip(const BigNum& e, const BigNum& n, const BigNum& d) {
  const Mpz me = ToMpz(e), mn = ToMpz(n), md = ToMpz(d);
  gmp_randstate_t state;
  gmp_randinit_mt(state);
  gmp_randseed_ui(state, 7);
  for (int i = 0; i < 4; ++i) {
    Mpz m, c, back;
    mpz_urandomm(m.get(), state, mn.get());
    mpz_powm(c.get(), m.get(), me.get(), mn.get());
    mpz_powm(back.get(), c.get(), md.get(), mn.get());
    EXPECT_EQ(back.Hex(), m.Hex());
  }
  gmp_randclear(state);
}

// Records the status text and the number of generator words drawn so far at each OnStatusUpdate.
struct Event {
  std::string Status;
  int WordsDrawn;
};

void RecordEvents(TRSA& rsa, std::vector<Event>& events, const Testing::ScriptedRandom* random) {
  rsa.SetOnStatusUpdate([&rsa, &events, random](System::TObject* sender) {
    EXPECT_EQ(sender, &rsa);
    events.push_back({rsa.Status().str(), random ? random->WordDraws : 0});
  });
}

std::vector<std::string> Texts(const std::vector<Event>& events) {
  std::vector<std::string> texts;
  for (const Event& e : events) texts.push_back(e.Status);
  return texts;
}

// A component at `bits` with a signature loaded from text.
void LoadSignature(TRSA& rsa, int precision) {
  BigNum s{};
  for (int i = 0; i < precision; ++i) s[i] = 0x51C30000u + unsigned(i);
  rsa.PutSignature(Rsa::SignatureText(s, precision));
}

class ScriptedGeneration : public ::testing::TestWithParam<int> {};

// Everything a generation derives is predicted from the scripted generator words: the start values
// come from the first h words and from the h words after those the first search used.
TEST_P(ScriptedGeneration, MakeKeyPairBuildsTheKeyFromSeededStartValues) {
  const int bits = GetParam();
  const int precision = bits / 32, h = precision / 2;
  const std::vector<std::uint32_t> words = MixedWords(unsigned(bits));
  const BigNum seed1 = FullSeed(0x1234567u), seed2 = FullSeed(0xABCDEF0u);

  TRSA rsa(nullptr);
  rsa.SetKeyBits(KeyBitsFor(bits));
  LoadSignature(rsa, precision);
  const AnsiString signatureText = rsa.Signature();
  const BigNum signatureValue = Testing::SigValueOf(rsa);

  Testing::ScriptedRandom random(words);
  std::vector<Event> events;
  RecordEvents(rsa, events, &random);
  rsa.MakeKeyPair(seed1, seed2);

  EXPECT_EQ(random.RandomizeCalls, 1);
  ASSERT_EQ(Texts(events), StatusTexts);
  EXPECT_EQ(events[0].WordsDrawn, 0);
  EXPECT_EQ(rsa.Status(), "Idle");

  // Start values of exactly 32h bits, odd; the primes are the first primes at or above them.
  const Mpz s1 = StartValue(words, 0, seed1, h);
  const Mpz s2 = StartValue(words, events[1].WordsDrawn, seed2, h);
  EXPECT_EQ(s1.Bits(), std::size_t(32 * h));
  EXPECT_EQ(s2.Bits(), std::size_t(32 * h));
  EXPECT_TRUE(mpz_odd_p(s1.get()) && mpz_odd_p(s2.get()));
  // The first search's Miller-Rabin calls draw 1320 words each (one call unless a Fermat
  // pseudoprime came first).
  EXPECT_EQ((events[1].WordsDrawn - h) % 1320, 0);
  EXPECT_GE(events[1].WordsDrawn, h + 1320);

  Mpz p = FirstPrimeFrom(s1), q = FirstPrimeFrom(s2);
  EXPECT_EQ(p.Bits(), std::size_t(32 * h));
  EXPECT_EQ(q.Bits(), std::size_t(32 * h));
  if (mpz_cmp(p.get(), q.get()) < 0) mpz_swap(p.get(), q.get());

  BigNum e, n, d;
  rsa.GetPublicKey(e, n);
  BigNum n2;
  rsa.GetPrivateKey(n2, d);
  EXPECT_TRUE(Same(n, n2));

  Mpz pq, pMinus1, qMinus1, phi, ed;
  mpz_mul(pq.get(), p.get(), q.get());
  EXPECT_EQ(ToMpz(n).Hex(), pq.Hex());
  EXPECT_TRUE(pq.Bits() == std::size_t(64 * h) || pq.Bits() == std::size_t(64 * h - 1));

  mpz_sub_ui(pMinus1.get(), p.get(), 1);
  mpz_sub_ui(qMinus1.get(), q.get(), 1);
  EXPECT_EQ(ToMpz(e).Hex(), LeastExponent(pMinus1, qMinus1).Hex());
  mpz_mul(phi.get(), pMinus1.get(), qMinus1.get());
  mpz_mul(ed.get(), ToMpz(e).get(), ToMpz(d).get());
  mpz_mod(ed.get(), ed.get(), phi.get());
  EXPECT_EQ(mpz_cmp_ui(ed.get(), 1), 0) << "e*d is not 1 mod phi";
  EXPECT_LT(mpz_cmp(ToMpz(d).get(), phi.get()), 0);

  // The texts as the writer builds them: the n field in full, the second fields over P digits.
  EXPECT_EQ(rsa.PublicKey(), Rsa::KeyFieldText(e) + ":" + Rsa::KeyFieldText(n, precision));
  EXPECT_EQ(rsa.PrivateKey(), Rsa::KeyFieldText(n) + ":" + Rsa::KeyFieldText(d, precision));
  const std::string pub = rsa.PublicKey().str(), priv = rsa.PrivateKey().str();
  EXPECT_EQ(pub.substr(pub.find(':') + 1), priv.substr(0, priv.find(':')));

  // The signature is left alone.
  EXPECT_EQ(rsa.Signature(), signatureText);
  EXPECT_TRUE(Testing::SignatureLoaded(rsa));
  EXPECT_TRUE(Same(Testing::SigValueOf(rsa), signatureValue));

  // The texts load back to the same numbers.
  TRSA reader(nullptr);
  reader.SetKeyBits(KeyBitsFor(bits));
  reader.PutPublicKey(rsa.PublicKey());
  reader.PutPrivateKey(rsa.PrivateKey());
  BigNum e3, n3, d3;
  reader.GetPublicKey(e3, n3);
  EXPECT_TRUE(Same(e3, e) && Same(n3, n));
  reader.GetPrivateKey(n3, d3);
  EXPECT_TRUE(Same(n3, n) && Same(d3, d));
}

INSTANTIATE_TEST_SUITE_P(KeyGeneration, ScriptedGeneration, ::testing::Values(512, 1024),
                         [](const auto& info) { return std::to_string(info.param) + "bit"; });

// ---- The larger key sizes, without the cost of real prime searches ----

// A generator that hands out queued words first and a fixed pseudo-random stream otherwise. Queuing a
// start value's words as its status text appears makes the search begin exactly where the test wants.
class QueuedRandom : public System::TRandomSource {
 public:
  QueuedRandom() : FPrevious(System::SetRandomSource(this)) {}
  ~QueuedRandom() override { System::SetRandomSource(FPrevious); }
  QueuedRandom(const QueuedRandom&) = delete;
  QueuedRandom& operator=(const QueuedRandom&) = delete;

  // Queues the words that, XORed with the seed, give `start` as the search's start value.
  void QueueStart(const BigNum& start, const BigNum& seed, int h) {
    for (int i = 0; i < h; ++i) FQueue.push_back(start[i] ^ seed[i]);
  }
  bool QueueEmpty() const { return FQueue.empty(); }

  std::uint32_t RandInt(std::int32_t range) override {
    std::uint32_t value = FStream();
    if (!FQueue.empty()) {
      value = FQueue.front();
      FQueue.erase(FQueue.begin());
    }
    return range > 0 ? value % std::uint32_t(range) : value;
  }
  void Randomize() override {}

 private:
  std::vector<std::uint32_t> FQueue;
  std::mt19937 FStream{0x5EED};
  System::TRandomSource* FPrevious;
};

// A random prime of exactly `bits` bits, found by GMP.
Mpz RandomPrime(int bits, unsigned long seed) {
  gmp_randstate_t state;
  gmp_randinit_mt(state);
  gmp_randseed_ui(state, seed);
  Mpz start, p;
  mpz_urandomb(start.get(), state, mp_bitcnt_t(bits));
  mpz_setbit(start.get(), mp_bitcnt_t(bits - 1));
  mpz_nextprime(p.get(), start.get());
  gmp_randclear(state);
  return p;
}

// At 3072 and 4096 bits each search starts at a prime GMP chose, so the component's search takes the
// start itself: its tests pass at 1536 and 2048 bits and the modulus is exactly the product of the two
// primes, which the test knows. Everything else follows as at any size: e, d and texts of K bytes.
TEST(KeyGeneration, LargerKeySizesBuildTheKeyFromTheirPrimes) {
  for (int bits : {3072, 4096}) {
    SCOPED_TRACE(bits);
    const int precision = bits / 32, h = precision / 2;
    Mpz p = RandomPrime(32 * h, unsigned(bits)), q = RandomPrime(32 * h, unsigned(bits) + 1);
    ASSERT_EQ(p.Bits(), std::size_t(32 * h));
    ASSERT_EQ(q.Bits(), std::size_t(32 * h));
    const BigNum seed1 = FullSeed(0x3072u), seed2 = FullSeed(0x4096u);

    TRSA rsa(nullptr);
    rsa.SetKeyBits(KeyBitsFor(bits));
    QueuedRandom random;
    std::vector<std::string> seen;
    rsa.SetOnStatusUpdate([&](System::TObject*) {
      seen.push_back(rsa.Status().str());
      if (rsa.Status() == "Finding first random prime") random.QueueStart(ToBigNum(p), seed1, h);
      if (rsa.Status() == "Finding second random prime") random.QueueStart(ToBigNum(q), seed2, h);
    });
    rsa.MakeKeyPair(seed1, seed2);
    EXPECT_EQ(seen, StatusTexts);
    EXPECT_TRUE(random.QueueEmpty());

    BigNum e, n, d;
    rsa.GetPublicKey(e, n);
    rsa.GetPrivateKey(n, d);
    Mpz pq, pMinus1, qMinus1, phi, ed;
    mpz_mul(pq.get(), p.get(), q.get());
    EXPECT_EQ(ToMpz(n).Hex(), pq.Hex()) << "n is not the product of the two primes";
    mpz_sub_ui(pMinus1.get(), p.get(), 1);
    mpz_sub_ui(qMinus1.get(), q.get(), 1);
    EXPECT_EQ(ToMpz(e).Hex(), LeastExponent(pMinus1, qMinus1).Hex());
    mpz_mul(phi.get(), pMinus1.get(), qMinus1.get());
    mpz_mul(ed.get(), ToMpz(e).get(), ToMpz(d).get());
    mpz_mod(ed.get(), ed.get(), phi.get());
    EXPECT_EQ(mpz_cmp_ui(ed.get(), 1), 0) << "e*d is not 1 mod phi";
    ExpectRoundTrip(e, n, d);

    // Texts with second fields of K bytes (512 or 683 characters) that load back.
    EXPECT_EQ(rsa.PublicKey(), Rsa::KeyFieldText(e) + ":" + Rsa::KeyFieldText(n, precision));
    EXPECT_EQ(rsa.PrivateKey(), Rsa::KeyFieldText(n) + ":" + Rsa::KeyFieldText(d, precision));
    const std::string priv = rsa.PrivateKey().str();
    EXPECT_EQ(priv.size() - priv.find(':') - 1, std::size_t((32 * precision + 5) / 6));
    TRSA reader(nullptr);
    reader.SetKeyBits(KeyBitsFor(bits));
    reader.PutPublicKey(rsa.PublicKey());
    reader.PutPrivateKey(rsa.PrivateKey());
    BigNum e2, n2, d2;
    reader.GetPublicKey(e2, n2);
    reader.GetPrivateKey(n2, d2);
    EXPECT_TRUE(Same(e2, e) && Same(n2, n) && Same(d2, d));
  }
}

TEST(KeyGeneration, RSAMakeKeyPairFillsOnlyItsOutputsAndStatus) {
  const std::vector<std::uint32_t> words = MixedWords(99);
  const BigNum seed1 = FullSeed(1), seed2 = FullSeed(2);

  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  std::vector<Event> events;
  BigNum e, n, d;
  {
    Testing::ScriptedRandom random(words);
    RecordEvents(rsa, events, &random);
    rsa.RSAMakeKeyPair(seed1, seed2, e, n, d);
    EXPECT_EQ(random.RandomizeCalls, 0);
  }
  EXPECT_EQ(Texts(events), StatusTexts);
  EXPECT_EQ(rsa.Status(), "Idle");
  EXPECT_FALSE(Testing::PublicLoaded(rsa));
  EXPECT_FALSE(Testing::PrivateLoaded(rsa));
  EXPECT_TRUE(rsa.PublicKey().IsEmpty() && rsa.PrivateKey().IsEmpty());
  EXPECT_EQ(ToMpz(Testing::ModulusOf(rsa)).Bits(), 0u);
  EXPECT_EQ((ToMpz(n).Bits() + 31) / 32, 16u);
  ExpectRoundTrip(e, n, d);

  // MakeKeyPair draws the same words after its reseed, so it loads exactly this key.
  Testing::ScriptedRandom random(words);
  RecordEvents(rsa, events, &random);  // the handler must not read the source that went out of scope
  rsa.MakeKeyPair(seed1, seed2);
  BigNum e2, n2, d2;
  rsa.GetPublicKey(e2, n2);
  rsa.GetPrivateKey(n2, d2);
  EXPECT_TRUE(Same(e2, e) && Same(n2, n) && Same(d2, d));
}

TEST(KeyGeneration, ZeroSeedsAndDifferentKeysAtDifferentTimes) {
  const BigNum zero{};
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  std::vector<Event> events;
  RecordEvents(rsa, events, nullptr);

  rsa.MakeKeyPair(zero, zero);
  BigNum e1, n1, d1;
  rsa.GetPublicKey(e1, n1);
  rsa.GetPrivateKey(n1, d1);
  const AnsiString public1 = rsa.PublicKey(), private1 = rsa.PrivateKey();

  rsa.MakeKeyPair(zero, zero);
  BigNum e2, n2, d2;
  rsa.GetPublicKey(e2, n2);
  rsa.GetPrivateKey(n2, d2);

  EXPECT_EQ(events.size(), 8u);
  EXPECT_FALSE(Same(n1, n2));
  EXPECT_NE(rsa.PublicKey(), public1);
  EXPECT_NE(rsa.PrivateKey(), private1);
  for (const BigNum* key : {&n1, &n2}) {
    const std::size_t b = ToMpz(*key).Bits();
    EXPECT_TRUE(b == 511 || b == 512) << b;
  }
  ExpectRoundTrip(e1, n1, d1);
  ExpectRoundTrip(e2, n2, d2);
}

// A private exponent below 2^(32(P-1)) is rare in generated keys; build such a key with GMP and show
// that the text written over P digits loads, where the significant-digit form is refused.
TEST(KeyGeneration, ShortPrivateExponentTextLoadsBack) {
  const int precision = 16;
  Mpz p = FirstPrimeFrom(Mpz("c3a5c85c97cb3127b2d8c1a1f1c0f0e1d2c3b4a5968778695a4b3c2d1e0f1235"));
  Mpz q = FirstPrimeFrom(Mpz("f0e1d2c3b4a5968778695a4b3c2d1e0f1a2b3c4d5e6f708192a3b4c5d6e7f801"));
  Mpz phi, pm, qm, n, d, e, g;
  mpz_sub_ui(pm.get(), p.get(), 1);
  mpz_sub_ui(qm.get(), q.get(), 1);
  mpz_mul(phi.get(), pm.get(), qm.get());
  mpz_mul(n.get(), p.get(), q.get());
  mpz_setbit(d.get(), 400);  // 13 significant digits
  for (;; mpz_add_ui(d.get(), d.get(), 1)) {
    mpz_gcd(g.get(), d.get(), phi.get());
    if (mpz_cmp_ui(g.get(), 1) == 0) break;
  }
  ASSERT_NE(mpz_invert(e.get(), d.get(), phi.get()), 0);
  const BigNum be = ToBigNum(e), bn = ToBigNum(n), bd = ToBigNum(d);
  ASSERT_LT(Rsa::KeyFieldText(bd).Length(), Rsa::KeyFieldText(bd, precision).Length());

  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  rsa.PutPublicKey(Rsa::KeyFieldText(be) + ":" + Rsa::KeyFieldText(bn, precision));
  rsa.PutPrivateKey(Rsa::KeyFieldText(bn) + ":" + Rsa::KeyFieldText(bd, precision));
  BigNum e2, n2, d2;
  rsa.GetPublicKey(e2, n2);
  EXPECT_TRUE(Same(e2, be) && Same(n2, bn));
  rsa.GetPrivateKey(n2, d2);
  EXPECT_TRUE(Same(n2, bn) && Same(d2, bd));
  ExpectRoundTrip(e2, n2, d2);

  try {
    rsa.PutPrivateKey(Rsa::KeyFieldText(bn) + ":" + Rsa::KeyFieldText(bd));
    ADD_FAILURE() << "a short second field was accepted";
  } catch (const Rsa::EInvalidKey& x) {
    EXPECT_EQ(x.Message(), "Private key has incorrect length");
  }
}

// A status handler that throws ends the generation; the component keeps its previous keys, flags and
// texts.
TEST(KeyGeneration, ThrowingStatusHandlerLeavesThePreviousKeys) {
  struct Case {
    const char* throwAt;
    bool keysLoaded;
  };
  const Case cases[] = {{"Finding first random prime", true},
                        {"Finding second random prime", true},
                        {"Calculating keys", false},
                        {"Idle", true}};
  struct HandlerStop {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.throwAt);
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    BigNum e{}, n{}, d{};
    if (c.keysLoaded) {
      e[0] = 65537;
      for (int i = 0; i < 16; ++i) n[i] = d[i] = 0xC0FFEE00u + unsigned(i);
      rsa.PutPublicKey(Rsa::KeyFieldText(e) + ":" + Rsa::KeyFieldText(n, 16));
      rsa.PutPrivateKey(Rsa::KeyFieldText(n) + ":" + Rsa::KeyFieldText(d, 16));
    }
    const AnsiString publicText = rsa.PublicKey(), privateText = rsa.PrivateKey();

    const std::string stopAt = c.throwAt;
    rsa.SetOnStatusUpdate([&rsa, stopAt](System::TObject*) {
      if (rsa.Status().str() == stopAt) throw HandlerStop{};
    });
    EXPECT_THROW(rsa.MakeKeyPair(BigNum{}, BigNum{}), HandlerStop);

    EXPECT_EQ(rsa.Status().str(), stopAt);
    EXPECT_EQ(rsa.PublicKey(), publicText);
    EXPECT_EQ(rsa.PrivateKey(), privateText);
    EXPECT_EQ(Testing::PublicLoaded(rsa), c.keysLoaded);
    EXPECT_EQ(Testing::PrivateLoaded(rsa), c.keysLoaded);
    EXPECT_TRUE(Same(Testing::PubExpOf(rsa), e));
    EXPECT_TRUE(Same(Testing::ModulusOf(rsa), n));
    EXPECT_TRUE(Same(Testing::PrivExpOf(rsa), d));
  }
}

TEST(KeyGeneration, RefusedUntilKeyBitsIsAssigned) {
  TRSA rsa(nullptr);
  std::vector<std::string> seen;
  rsa.SetOnStatusUpdate([&](System::TObject*) { seen.push_back(rsa.Status().str()); });
  BigNum e, n, d;
  for (int call = 0; call < 2; ++call) {
    SCOPED_TRACE(call == 0 ? "MakeKeyPair" : "RSAMakeKeyPair");
    seen.clear();
    try {
      if (call == 0)
        rsa.MakeKeyPair(BigNum{}, BigNum{});
      else
        rsa.RSAMakeKeyPair(BigNum{}, BigNum{}, e, n, d);
      ADD_FAILURE() << "generation ran without a key size";
    } catch (const Rsa::EInvalidKey& x) {
      EXPECT_EQ(x.Message(), "Key size not set: assign KeyBits first");
    }
    EXPECT_EQ(seen, std::vector<std::string>{"Key size not set: assign KeyBits first"});
    EXPECT_FALSE(Testing::PublicLoaded(rsa) || Testing::PrivateLoaded(rsa));
    EXPECT_TRUE(rsa.PublicKey().IsEmpty() && rsa.PrivateKey().IsEmpty());
  }
}

// ---- Interoperation with OpenSSL's raw RSA ----

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

// A BIGNUM from the significant little-endian bytes of x.
BIGNUM* ToOpenSsl(const BigNum& x) {
  unsigned char bytes[sizeof x.Digits];
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i)
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<unsigned char>(x[i] >> (8 * b));
  return BN_lebin2bn(bytes, sizeof bytes, nullptr);
}

Pkey OpenSslKey(const BigNum& e, const BigNum& n, const BigNum& d) {
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  BIGNUM *bn = ToOpenSsl(n), *be = ToOpenSsl(e), *bd = ToOpenSsl(d);
  OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, bn);
  OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, be);
  OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_D, bd);
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
  Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  EXPECT_EQ(EVP_PKEY_fromdata_init(ctx.get()), 1);
  EXPECT_EQ(EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params), 1);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  BN_free(bn);
  BN_free(be);
  BN_free(bd);
  return Pkey(key);
}

// Raw RSA (no padding) on a K-byte block given little-endian; the result comes back little-endian.
std::string RawRsa(EVP_PKEY* key, bool encrypt, std::string blockLE) {
  std::reverse(blockLE.begin(), blockLE.end());
  Ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  EXPECT_EQ(encrypt ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get()), 1);
  EXPECT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING), 0);
  std::string out(blockLE.size(), '\0');
  std::size_t outLength = out.size();
  const auto* in = reinterpret_cast<const unsigned char*>(blockLE.data());
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  const int rc = encrypt ? EVP_PKEY_encrypt(ctx.get(), o, &outLength, in, blockLE.size())
                         : EVP_PKEY_decrypt(ctx.get(), o, &outLength, in, blockLE.size());
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(outLength, out.size());
  std::reverse(out.begin(), out.end());
  return out;
}

TEST(KeyGeneration, GeneratedKeyAgreesWithOpenSslRawRsa) {
  const int bits = 1024, k = bits / 8;
  TRSA rsa(nullptr);
  rsa.SetKeyBits(KeyBitsFor(bits));
  rsa.SetSymKeyLength(Rsa::sk256);
  rsa.MakeKeyPair(FullSeed(5), FullSeed(6));
  BigNum e, n, d;
  rsa.GetPublicKey(e, n);
  rsa.GetPrivateKey(n, d);
  Pkey key = OpenSslKey(e, n, d);
  ASSERT_TRUE(key);
  EXPECT_EQ(EVP_PKEY_get_bits(key.get()), int(ToMpz(n).Bits()));

  Rsa::TSymKey session;
  for (int i = 0; i < 32; ++i) session[i] = static_cast<unsigned char>(0xA0 + i);

  // Wrapped by the component, unwrapped by OpenSSL: the block carries the key in its low bytes and a
  // zero top byte, and OpenSSL's encryption of that block gives back the component's exact text.
  const AnsiString wrapped = rsa.EncryptKey(session);
  const std::string cipher = rsa.DecodeString(wrapped).str();
  ASSERT_EQ(int(cipher.size()), k);
  const std::string block = RawRsa(key.get(), false, cipher);
  EXPECT_EQ(block.substr(0, 32), std::string(reinterpret_cast<const char*>(session), 32));
  EXPECT_EQ(block[k - 1], '\0');
  EXPECT_EQ(RawRsa(key.get(), true, block), cipher);

  // Wrapped by OpenSSL, unwrapped by the component.
  std::string mine(k, '\0');
  for (int i = 0; i < k - 1; ++i) mine[i] = static_cast<char>(i * 37 + 11);
  std::memcpy(mine.data(), "\x01\x23\x45\x67\x89\xAB\xCD\xEF", 8);
  rsa.SetSymKeyLength(Rsa::sk64);
  const AnsiString text = rsa.EncodeString(RawRsa(key.get(), true, mine));
  Rsa::TSymKey out;
  std::memset(out, 0xFF, sizeof out);
  rsa.DecryptKey(text, out);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), 8), mine.substr(0, 8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out) + 8, 24), std::string(24, '\0'));
}

}  // namespace
