// Secret values must decide neither a branch nor a memory address. Run under valgrind memcheck
// (scripts/ct-check runs the tests labelled constant-time that way), each test marks its secrets with
// the harness in support/ConstantTimeMarks.h: memcheck then reports every conditional jump and every
// address computed from them, and the check fails on any report. What is public by design is marked
// public again: results handed to the caller, here, and inside the component the outcomes it acts on
// openly (its Declassify points). Outside valgrind the marks do nothing and these are functional tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bignum/Montgomery.h"
#include "hash/Hash.h"
#include "rsa/RSA.h"
#include "rsa/SchemeEncoding.h"
#include "rsa/StandardSchemes.h"
#include "rsa/TextFormats.h"
#include "support/ConstantTimeMarks.h"
#include "support/DigitsGmp.h"
#include "support/FixtureKeys.h"
#include "support/KeyStoreProbe.h"

namespace {

using Rsa::TRSA;
using namespace Testing::ConstantTime;

Rsa::BigNum& PrivExp(TRSA& rsa) { return const_cast<Rsa::BigNum&>(Testing::PrivExpOf(rsa)); }

// Every digit of d below its top digit becomes secret. The top digit's position sets the running time
// of the exponentiation by design (it is the key size), so it stays public.
void MarkSecret(TRSA& rsa) { Poison(PrivExp(rsa).Digits, sizeof(Rsa::Digit) * std::size_t(rsa.GetPrecision() - 1)); }

void DeclassifyString(const System::AnsiString& s) { Declassify(s.data(), std::size_t(s.Length())); }

// Everything the component holds, made public again so that the test may look at it.
void DeclassifyKeys(TRSA& rsa) {
  Declassify(&PrivExp(rsa), sizeof(Rsa::BigNum));
  Declassify(&Testing::PubExpOf(rsa), sizeof(Rsa::BigNum));
  Declassify(&Testing::ModulusOf(rsa), sizeof(Rsa::BigNum));
  DeclassifyString(rsa.PublicKey());
  DeclassifyString(rsa.PrivateKey());
}

class ConstantTime : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { Testing::LoadFixtureKey(rsa, GetParam()); }
  void TearDown() override { DeclassifyKeys(rsa); }
  DeclassifyPoints points;
  TRSA rsa{nullptr};
};

TEST_P(ConstantTime, DecryptKeyLooksAtNoSecretDigit) {
  rsa.SetSymKeyLength(Rsa::sk256);
  unsigned char key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(i * 7 + 3);
  const System::AnsiString wrapped = rsa.EncryptKey(key);

  MarkSecret(rsa);
  unsigned char back[32] = {};
  rsa.DecryptKey(wrapped, back);
  Declassify(back, sizeof back);
  EXPECT_EQ(std::memcmp(back, key, sizeof key), 0);
}

TEST_P(ConstantTime, SignLooksAtNoSecretDigit) {
  unsigned char data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xF0 - i);

  MarkSecret(rsa);
  rsa.Sign(data, 15, 16);
  // The signature is public once made.
  Declassify(Testing::SigValueOf(rsa).Digits, sizeof(Rsa::BigNum));
  DeclassifyString(rsa.Signature());
  DeclassifyKeys(rsa);
  EXPECT_TRUE(rsa.Verify(data, 15, 16));
}

// The plaintext, pad bytes included, is secret: the pad is cut without a branch on the pad count. Its
// length is what the caller receives, so the component declassifies that alone.
TEST_P(ConstantTime, DecryptStringLooksAtNoPlaintextByte) {
  for (const std::string& text : {std::string(""), std::string("a secret \0 with \xff bytes", 24)}) {
    System::AnsiString plain(text.data(), int(text.size())), cipher, back;
    rsa.EncryptString(plain, cipher);
    MarkSecret(rsa);
    rsa.DecryptString(cipher, back);
    DeclassifyString(back);
    DeclassifyKeys(rsa);
    EXPECT_TRUE(back == plain);
  }
}

// In pieces, the decrypted bytes are held back and handed out in batches whose sizes follow from the
// text's length alone, and the pad is cut at the end as in one piece: past the hold and one batch.
TEST_P(ConstantTime, StringDecryptorInPiecesLooksAtNoPlaintextByte) {
  std::string text(17000, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 13);
  System::AnsiString cipher;
  rsa.EncryptString(text, cipher);
  MarkSecret(rsa);
  Rsa::TStringDecryptor decryptor(rsa);
  std::string back;
  for (std::size_t at = 0; at < std::size_t(cipher.Length()); at += 1000)
    decryptor.Update(std::string_view(cipher).substr(at, 1000), back);
  decryptor.Finish(back);
  Declassify(back.data(), back.size());
  DeclassifyKeys(rsa);
  EXPECT_TRUE(back == text);
}

// The second field of a private key text is the private exponent: reading it (radix-64 decoding, the
// key field's bytes) and using it look at none of its characters. Whether the text is accepted is public.
TEST_P(ConstantTime, PutPrivateKeyLooksAtNoCharacterOfTheExponent) {
  const System::AnsiString text = Rsa::KeyFieldText(Testing::ModulusOf(rsa)) + ":" +
                                  Rsa::KeyFieldText(PrivExp(rsa), rsa.GetPrecision());
  TRSA loaded(nullptr);
  loaded.SetKeyBits(rsa.KeyBits());
  loaded.SetSymKeyLength(Rsa::sk128);
  const std::string s = text.str();
  const std::size_t colon = s.find(':');
  ASSERT_NE(colon, std::string::npos);
  // Every character of the exponent's field, up to those of its top digit (the last four bytes), whose
  // position sets the running time by design.
  System::AnsiString secretText = text;
  const std::size_t topDigitCharacter = 8 * (4 * std::size_t(rsa.GetPrecision()) - 4) / 6;
  Poison(secretText.data() + colon + 1, topDigitCharacter);
  loaded.PutPrivateKey(secretText);
  DeclassifyString(loaded.PrivateKey());

  unsigned char key[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  rsa.SetSymKeyLength(Rsa::sk128);
  const System::AnsiString wrapped = rsa.EncryptKey(key);
  unsigned char back[32] = {};
  loaded.DecryptKey(wrapped, back);
  Declassify(back, sizeof back);
  DeclassifyKeys(loaded);
  EXPECT_EQ(std::memcmp(back, key, 16), 0);
  EXPECT_EQ(Rsa::BNCmp(PrivExp(loaded), PrivExp(rsa), Rsa::BigNumDigits), 0);
}

// OAEP decryption: the decrypted block is secret (it follows from d), and so is everything the decoding
// finds in it. Only whether it was valid and, when it was, the message's length are declassified (by
// the component, where it hands them out); a failing block takes the same path to the one exception.
TEST_P(ConstantTime, OaepDecryptLooksAtNoByteOfTheDecryptedBlock) {
  const Rsa::TOaepParameters p{GetParam() == 512 ? Hash::THashKind::Sha1 : Hash::THashKind::Sha256, {}, "label"};
  const std::string message("a \0 secret key 16", 16);
  const std::string cipher = Rsa::OaepEncrypt(rsa, p, message);
  std::string wrong = cipher;
  wrong[wrong.size() / 2] ^= 0x10;
  MarkSecret(rsa);
  const System::TWipedString back = Rsa::OaepDecrypt(rsa, p, cipher);
  Declassify(back.data(), back.size());
  EXPECT_EQ(std::string(back.begin(), back.end()), message);
  EXPECT_THROW(Rsa::OaepDecrypt(rsa, p, wrong), Sysutils::EConvertError);
  DeclassifyKeys(rsa);
}

INSTANTIATE_TEST_SUITE_P(KeySizes, ConstantTime, ::testing::Values(512, 1024, 2048),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });

// The OAEP decoding alone, with every byte of the encoded block secret: valid blocks of several message
// lengths (the separator's position is secret until the length is handed out) and blocks with each
// kind of fault.
TEST(ConstantTimeOaep, DecodingLooksAtNoByteOfTheBlock) {
  using Hash::THashKind;
  constexpr std::size_t k = 128, hLen = 32;
  unsigned char lHash[32], seed[32], em[k], message[k];
  Hash::Digest(THashKind::Sha256, "", 0, lHash);
  for (std::size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<unsigned char>(i * 29 + 5);
  const std::string text(k - 2 * hLen - 2, 'm');
  for (std::size_t length : {std::size_t(0), std::size_t(1), std::size_t(16), text.size()}) {
    for (int fault = 0; fault < 3; ++fault) {
      Rsa::Schemes::EncodeOaep(THashKind::Sha256, THashKind::Sha256, lHash,
                               reinterpret_cast<const unsigned char*>(text.data()), length, seed, em, k);
      if (fault == 1) em[0] = 1;             // the first byte
      if (fault == 2) em[k - length - 1] ^= 0x40;  // within the masked data block
      Poison(em, sizeof em);
      std::size_t size = 0;
      std::uint32_t good = Rsa::Schemes::DecodeOaep(THashKind::Sha256, THashKind::Sha256, lHash, em, k, message, size);
      DeclassifyValue(good);
      DeclassifyValue(size);
      Declassify(message, sizeof message);
      Declassify(em, sizeof em);
      EXPECT_EQ(good != 0, fault == 0) << length << " bytes, fault " << fault;
      EXPECT_EQ(size, fault == 0 ? length : 0) << length << " bytes, fault " << fault;
    }
  }
}

// Key generation with every random word secret: the prime search (sieve, residues, Fermat and
// Miller-Rabin), the exponent search, the inverse and the private key text look at no secret. The
// component declassifies the outcome of each check on a candidate, e, and n.
class ConstantTimeKeyGeneration : public ::testing::TestWithParam<int> {};

TEST_P(ConstantTimeKeyGeneration, MakeKeyPairLooksAtNoRandomWord) {
  DeclassifyPoints points;
  TRSA rsa(nullptr);
  rsa.SetKeyBits(GetParam() == 512 ? Rsa::kb0512 : Rsa::kb1024);
  Rsa::BigNum seed1{}, seed2{};
  {
    SecretRandom random(0x5EC12E7 + GetParam());
    rsa.MakeKeyPair(seed1, seed2);
  }
  DeclassifyKeys(rsa);

  // The pair works, and both texts load back.
  System::AnsiString plain("generated in constant time"), cipher, back;
  rsa.EncryptString(plain, cipher);
  rsa.DecryptString(cipher, back);
  DeclassifyString(back);
  EXPECT_TRUE(back == plain);
  TRSA again(nullptr);
  again.SetKeyBits(rsa.KeyBits());
  again.PutPublicKey(rsa.PublicKey());
  again.PutPrivateKey(rsa.PrivateKey());
  DeclassifyKeys(again);
  EXPECT_EQ(Rsa::BNCmp(PrivExp(again), PrivExp(rsa), Rsa::BigNumDigits), 0);
}

INSTANTIATE_TEST_SUITE_P(KeySizes, ConstantTimeKeyGeneration, ::testing::Values(512, 1024),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });

// The Montgomery exponentiation with its base and exponent secret (all but the exponent's top digit,
// whose position sets the running time by design), moduli of several lengths.
TEST(ConstantTimeExponentiation, LooksAtNoDigitOfTheBaseOrTheExponent) {
  using Testing::Digits;
  Testing::OperandSource src(0xC7);
  for (unsigned significant : {1u, 3u, 16u, 24u}) {
    // One unused top digit in the modulus array, so that the base reaches beyond the modulus.
    const unsigned dDigits = significant + 1;
    Digits d = src.Make(dDigits, Testing::Shape::Random);
    d[significant] = 0;
    d[significant - 1] |= 1u << 31;
    d[0] |= 1;
    Digits b = src.Make(dDigits, Testing::Shape::Random);
    Digits c = src.Make(significant, Testing::Shape::Random);
    c.back() |= 1;
    Testing::Mpz want;
    mpz_powm(want, Testing::Mpz(b), Testing::Mpz(c), Testing::Mpz(d));
    Digits a(dDigits, 0);
    Poison(b.data(), b.size() * sizeof(Rsa::Digit));
    Poison(c.data(), (c.size() - 1) * sizeof(Rsa::Digit));
    Rsa::BNModExp(a.data(), b.data(), c.data(), significant, d.data(), dDigits);
    Declassify(a.data(), a.size() * sizeof(Rsa::Digit));
    Declassify(b.data(), b.size() * sizeof(Rsa::Digit));
    Declassify(c.data(), c.size() * sizeof(Rsa::Digit));
    EXPECT_EQ(a, want.ToDigits(dDigits)) << significant << " significant digits";
  }
}

// Shows that the marks take effect: with QARVEX_CT_CANARY set, a branch on a secret digit must be
// reported (scripts/ct-check expects that run to be reported).
TEST(ConstantTimeCanary, BranchOnSecretDigitIsReported) {
  if (std::getenv("QARVEX_CT_CANARY") == nullptr) GTEST_SKIP() << "runs only when asked for";
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  MarkSecret(rsa);
  [[maybe_unused]] volatile int taken = 0;
  if (PrivExp(rsa).Digits[0] & 1) taken = 1;
  Declassify(PrivExp(rsa).Digits, sizeof(Rsa::BigNum));
}

}  // namespace
