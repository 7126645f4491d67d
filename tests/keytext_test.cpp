// Key and signature texts: writing key fields and signature texts, and loading PublicKey, PrivateKey
// and Signature with every failure and the state each failure leaves.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/GmpReference.h"
#include "support/KeyStoreProbe.h"
#include "support/ScriptedRandom.h"
#include "support/StatusRecorder.h"

using Rsa::BigNum;
using Rsa::Digit;
using Rsa::KeyFieldText;
using Rsa::Radix64Decode;
using Rsa::Radix64Encode;
using Rsa::SignatureText;
using Rsa::TRSA;
using System::AnsiString;

namespace {

BigNum Number(std::initializer_list<Digit> low) {
  BigNum x{};
  unsigned i = 0;
  for (Digit d : low) x[i++] = d;
  return x;
}

// A number of exactly `digits` significant digits, every digit non-zero and different.
BigNum Filled(int digits, Digit seed) {
  BigNum x{};
  for (int i = 0; i < digits; ++i) x[i] = seed * Digit(2 * i + 1) + Digit(0x01000193) * Digit(i) + 1;
  return x;
}

bool Same(const BigNum& a, const BigNum& b) {
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

const BigNum Zero{};
const BigNum E50001 = Number({50001});

std::string Hex(const AnsiString& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 1; i <= bytes.Length(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// A radix-64 field of `bytes` bytes (non-zero, so its length is unambiguous).
AnsiString FieldOfBytes(int bytes) { return Radix64Encode(AnsiString(std::string(std::size_t(bytes), '\x5A'))); }

const Rsa::TKeyBits AllKeyBits[] = {Rsa::kb0512, Rsa::kb1024, Rsa::kb2048, Rsa::kb3072, Rsa::kb4096};
int Precision(Rsa::TKeyBits bits) {
  const int precision[] = {16, 32, 64, 96, 128};
  return precision[bits];
}

// What the key store held each time the OnStatusUpdate handler ran, beside the status text.
struct KeyStoreView {
  bool PublicLoaded;
  bool PrivateLoaded;
  BigNum Modulus;
};

// Records the status texts and, at the same calls, the key store's state.
struct Recorder {
  std::vector<KeyStoreView> Views;
  Testing::StatusRecorder Status;
  explicit Recorder(TRSA& rsa)
      : Status(rsa, [this, &rsa] {
          Views.push_back({Testing::PublicLoaded(rsa), Testing::PrivateLoaded(rsa), Testing::ModulusOf(rsa)});
        }) {}
};

enum class Key { Public, Private };
enum class Fault { NoColon, FirstUndecodable, FirstLength, SecondUndecodable, SecondLength };

struct Expected {
  const std::type_info& Class;
  const char* Message;
};

void Load(TRSA& rsa, Key key, const AnsiString& text) {
  if (key == Key::Public) {
    rsa.PutPublicKey(text);
  } else {
    rsa.PutPrivateKey(text);
  }
}

// Runs op, which must raise exactly the class `expected` with its message.
template <class Op>
void ExpectFailure(Op op, const Expected& expected) {
  Testing::ExpectFailure(op, expected.Class, expected.Message);
}

// A 512-bit key pair as key generation writes it, d one digit short of the key size.
struct KeyPairTexts {
  BigNum e = E50001;
  BigNum n = Filled(16, 0x9E3779B9);
  BigNum d = Filled(15, 0x7F4A7C15);
  AnsiString PublicText = KeyFieldText(e) + ":" + KeyFieldText(n, 16);
  AnsiString PrivateText = KeyFieldText(n) + ":" + KeyFieldText(d, 16);
};

// A failing text, where it fails, and what each setter raises for it.
struct FailureRow {
  const char* What;
  AnsiString Text;
  Fault Kind;
  Digit FirstField;  // the number the first field holds, where it is read
  Expected AsPublic;
  Expected AsPrivate;
};

// Key texts that fail at P = 16, each in one way.
std::vector<FailureRow> FailureRows() {
  const AnsiString second = KeyFieldText(Filled(16, 0x2545F491), 16);
  AnsiString spaced = second;
  spaced[30] = ' ';
  const std::type_info& invalid = typeid(Rsa::EInvalidKey);
  const std::type_info& convert = typeid(Sysutils::EConvertError);
  // Faults up to the first field are reported as the public key's, by either setter.
  const Expected noColon{invalid, "Public key not valid"}, firstUndecodable{convert, "Public key not valid"},
      firstLength{invalid, "Public key has incorrect length"};
  const Expected publicUndecodable{convert, "Public key not valid"},
      privateUndecodable{convert, "Private key not valid"};
  const Expected publicLength{invalid, "Public key has incorrect length"},
      privateLength{invalid, "Private key has incorrect length"};
  return {
      {"empty text", "", Fault::NoColon, 0, noColon, noColon},
      {"fields without a colon", "++11IE" + second, Fault::NoColon, 0, noColon, noColon},
      {"space in the first field", "++ 11IE:" + second, Fault::FirstUndecodable, 0, firstUndecodable,
       firstUndecodable},
      {"line break closing the first field", "++11IE\r\n:" + second, Fault::FirstUndecodable, 0, firstUndecodable,
       firstUndecodable},
      {"first field of 65 bytes", FieldOfBytes(65) + ":" + second, Fault::FirstLength, 0, firstLength, firstLength},
      {"second colon closing the text", "++11IE:" + second + ":", Fault::SecondUndecodable, 50001,
       publicUndecodable, privateUndecodable},
      {"second colon inside the second field", "++11IE:" + second.SubString(1, 40) + ":" + second.SubString(41, 99),
       Fault::SecondUndecodable, 50001, publicUndecodable, privateUndecodable},
      {"space in the second field", "kp2:" + spaced, Fault::SecondUndecodable, 50001, publicUndecodable,
       privateUndecodable},
      {"line break closing the text", "++11IE:" + second + "\n", Fault::SecondUndecodable, 50001,
       publicUndecodable, privateUndecodable},
      {"colon alone", ":", Fault::SecondLength, 0, publicLength, privateLength},
      {"second field of 63 bytes", "++11IE:" + FieldOfBytes(63), Fault::SecondLength, 50001, publicLength,
       privateLength},
      {"second field of 65 bytes", "++11IE:" + FieldOfBytes(65), Fault::SecondLength, 50001, publicLength,
       privateLength},
      {"second field in significant-digit form", "++11IE:" + KeyFieldText(Filled(15, 3)), Fault::SecondLength,
       50001, publicLength, privateLength},
  };
}

// Loads a key pair (or only the key being tested), then feeds the failing text to one key.
void CheckFailure(Key key, const FailureRow& row, bool otherLoaded) {
  SCOPED_TRACE(std::string(key == Key::Public ? "PublicKey: " : "PrivateKey: ") + row.What +
               (otherLoaded ? ", other key loaded" : ", other key not loaded"));
  const KeyPairTexts pair;
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  const AnsiString previous = key == Key::Public ? pair.PublicText : pair.PrivateText;
  Load(rsa, key, previous);
  if (otherLoaded) Load(rsa, key == Key::Public ? Key::Private : Key::Public, key == Key::Public ? pair.PrivateText : pair.PublicText);
  Recorder recorder(rsa);

  const Expected& expected = key == Key::Public ? row.AsPublic : row.AsPrivate;
  ExpectFailure([&] { Load(rsa, key, row.Text); }, expected);

  EXPECT_EQ(rsa.Status(), expected.Message);
  EXPECT_EQ(recorder.Status.Seen, std::vector<std::string>{expected.Message});
  ASSERT_EQ(recorder.Views.size(), 1u);
  const KeyStoreView& seen = recorder.Views[0];
  EXPECT_FALSE(key == Key::Public ? seen.PublicLoaded : seen.PrivateLoaded);

  // The loading key is unloaded and keeps its previous text; the other key is untouched.
  const bool firstRead = row.Kind == Fault::SecondLength || (key == Key::Private && row.Kind == Fault::SecondUndecodable);
  const BigNum firstField = firstRead ? Number({row.FirstField}) : Zero;
  if (key == Key::Public) {
    EXPECT_FALSE(Testing::PublicLoaded(rsa));
    EXPECT_EQ(Testing::PrivateLoaded(rsa), otherLoaded);
    EXPECT_EQ(rsa.PublicKey(), previous);
    EXPECT_TRUE(Same(Testing::PubExpOf(rsa), firstField));
  } else {
    EXPECT_TRUE(Same(Testing::PrivExpOf(rsa), Zero));
    EXPECT_FALSE(Testing::PrivateLoaded(rsa));
    EXPECT_EQ(Testing::PublicLoaded(rsa), otherLoaded);
    EXPECT_EQ(rsa.PrivateKey(), previous);
  }

  // The shared modulus: the other loaded key's, put back before the handler runs; otherwise whatever
  // the failed load left (zero, or the first field of a private key text).
  const BigNum modulus = otherLoaded ? pair.n : key == Key::Private ? firstField : Zero;
  EXPECT_TRUE(Same(Testing::ModulusOf(rsa), modulus));
  EXPECT_TRUE(Same(seen.Modulus, modulus));
  if (otherLoaded) {
    BigNum a, b;
    if (key == Key::Public) {
      rsa.GetPrivateKey(a, b);
      EXPECT_TRUE(Same(a, pair.n));
      EXPECT_TRUE(Same(b, pair.d));
    } else {
      rsa.GetPublicKey(a, b);
      EXPECT_TRUE(Same(a, pair.e));
      EXPECT_TRUE(Same(b, pair.n));
    }
  }
}

}  // namespace

TEST(KeyText, KeyFieldsRunDigitsUpwardAndBytesDownward) {
  EXPECT_EQ(KeyFieldText(E50001), "++11IE");
  EXPECT_EQ(KeyFieldText(Zero), "");
  const BigNum x = Number({0x01020304, 0x05060708});
  EXPECT_EQ(Hex(Radix64Decode(KeyFieldText(x))), "0102030405060708");
  EXPECT_EQ(Hex(Radix64Decode(KeyFieldText(x, 3))), "010203040506070800000000");
  EXPECT_EQ(KeyFieldText(Zero, 16), std::string(86, '+'));
  // A number wider than the requested width is written whole, never cut.
  EXPECT_EQ(KeyFieldText(x, 1), KeyFieldText(x));
  EXPECT_EQ(KeyFieldText(Filled(16, 5), 16).Length(), 86);
  EXPECT_EQ(KeyFieldText(Filled(32, 5), 32).Length(), 171);
  EXPECT_EQ(KeyFieldText(Filled(64, 5), 64).Length(), 342);
}

TEST(KeyText, KeyFieldBytesFillDigitsFromTheBottom) {
  struct Case {
    AnsiString bytes;
    BigNum value;
  };
  const Case cases[] = {
      {AnsiString(""), Zero},
      {AnsiString("\xC3\x51", 2), E50001},  // a short last digit takes its bytes as low-order bytes
      {AnsiString("\x00\x00\xC3\x51", 4), E50001},
      {AnsiString("\x01\x02\x03\x04\x05", 5), Number({0x01020304, 0x05})},
  };
  for (const Case& c : cases) {
    BigNum x{};
    Rsa::ReadKeyField(x, c.bytes);
    EXPECT_TRUE(Same(x, c.value)) << Hex(c.bytes);
  }
  BigNum x{};
  EXPECT_THROW(Rsa::ReadKeyField(x, AnsiString(std::string(4 * Rsa::BigNumDigits + 1, '\1'))), Sysutils::ERangeError);
  EXPECT_TRUE(Same(x, Zero));
}

TEST(KeyText, EveryFailureReportsItsClassMessageAndState) {
  for (Key key : {Key::Public, Key::Private})
    for (const FailureRow& row : FailureRows()) CheckFailure(key, row, false);
}

// A failed load never disturbs the modulus that the other, still loaded key decrypts or verifies with.
TEST(KeyText, AFailedLoadKeepsTheOtherKeysModulus) {
  for (Key key : {Key::Public, Key::Private})
    for (const FailureRow& row : FailureRows()) CheckFailure(key, row, true);
}

TEST(KeyText, SuccessfulLoadsStoreTheTextAndReport) {
  const KeyPairTexts pair;
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  Recorder recorder(rsa);

  rsa.PutPublicKey(pair.PublicText);
  rsa.PutPrivateKey(pair.PrivateText);
  EXPECT_EQ(rsa.PublicKey(), pair.PublicText);
  EXPECT_EQ(rsa.PrivateKey(), pair.PrivateText);
  EXPECT_EQ(recorder.Status.Seen, (std::vector<std::string>{"Public key loaded OK", "Private key loaded OK"}));
  ASSERT_EQ(recorder.Views.size(), 2u);
  EXPECT_TRUE(recorder.Views[0].PublicLoaded);
  BigNum a, b;
  rsa.GetPublicKey(a, b);
  EXPECT_TRUE(Same(a, pair.e));
  EXPECT_TRUE(Same(b, pair.n));
  rsa.GetPrivateKey(a, b);
  EXPECT_TRUE(Same(a, pair.n));
  EXPECT_TRUE(Same(b, pair.d));

  // A successful load replaces the modulus both keys share.
  const BigNum other = Filled(16, 77);
  rsa.PutPublicKey("++11IE:" + KeyFieldText(other, 16));
  rsa.GetPrivateKey(a, b);
  EXPECT_TRUE(Same(a, other));
  EXPECT_TRUE(Same(b, pair.d));

  // A signature loads silently.
  rsa.PutSignature(SignatureText(E50001, 16));
  EXPECT_EQ(recorder.Status.Seen.size(), 3u);
  EXPECT_EQ(rsa.Status(), "Public key loaded OK");
}

TEST(KeyText, ShortAndPaddedFirstFieldsReadTheSameNumber) {
  const AnsiString modulus = KeyFieldText(Filled(16, 11), 16);
  for (const char* first : {"++11IE", "kp2"}) {
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    rsa.PutPublicKey(first + (":" + modulus));
    rsa.PutPrivateKey(first + (":" + modulus));
    EXPECT_TRUE(Same(Testing::PubExpOf(rsa), E50001)) << first;
    EXPECT_TRUE(Same(Testing::ModulusOf(rsa), E50001)) << first;
  }
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  rsa.PutPublicKey(":" + modulus);  // an empty first field reads as zero
  EXPECT_TRUE(Same(Testing::PubExpOf(rsa), Zero));
  EXPECT_TRUE(Testing::PublicLoaded(rsa));
}

// Texts written the way key generation writes them load back at every key size, also when d has fewer
// significant digits than the key size (its field is still written over the full key size).
TEST(KeyText, WrittenKeyTextsLoadBackAtEveryKeySize) {
  for (Rsa::TKeyBits bits : AllKeyBits) {
    const int p = Precision(bits);
    for (int dDigits : {p, p - 1, 1}) {
      SCOPED_TRACE("precision " + std::to_string(p) + ", d of " + std::to_string(dDigits) + " digits");
      const BigNum e = Number({65537});
      const BigNum n = Filled(p, 0xC2B2AE35);
      const BigNum d = Filled(dDigits, 0x27D4EB2F);
      const AnsiString publicText = KeyFieldText(e) + ":" + KeyFieldText(n, p);
      const AnsiString privateText = KeyFieldText(n) + ":" + KeyFieldText(d, p);
      TRSA rsa(nullptr);
      rsa.SetKeyBits(bits);
      rsa.PutPublicKey(publicText);
      rsa.PutPrivateKey(privateText);
      BigNum a, b;
      rsa.GetPublicKey(a, b);
      EXPECT_TRUE(Same(a, e));
      EXPECT_TRUE(Same(b, n));
      rsa.GetPrivateKey(a, b);
      EXPECT_TRUE(Same(a, n));
      EXPECT_TRUE(Same(b, d));
      // The significant-digit form of a short d is refused: the second field must be the full size.
      if (dDigits < p) {
        ExpectFailure([&] { rsa.PutPrivateKey(KeyFieldText(n) + ":" + KeyFieldText(d)); },
                      {typeid(Rsa::EInvalidKey), "Private key has incorrect length"});
      }
    }
  }
}

TEST(KeyText, TextsWrittenAtOneKeySizeAreRefusedAtAnother) {
  for (Rsa::TKeyBits written : AllKeyBits) {
    for (Rsa::TKeyBits loaded : AllKeyBits) {
      if (written == loaded) continue;
      const int p = Precision(written);
      SCOPED_TRACE("written at precision " + std::to_string(p) + ", loaded at " + std::to_string(Precision(loaded)));
      const BigNum n = Filled(p, 0x165667B1);
      TRSA rsa(nullptr);
      rsa.SetKeyBits(loaded);
      ExpectFailure([&] { rsa.PutPublicKey(KeyFieldText(E50001) + ":" + KeyFieldText(n, p)); },
                    {typeid(Rsa::EInvalidKey), "Public key has incorrect length"});
      // A wider modulus already fails as the first field; a narrower one passes and d's field fails.
      ExpectFailure([&] { rsa.PutPrivateKey(KeyFieldText(n) + ":" + KeyFieldText(Filled(p, 9), p)); },
                    {typeid(Rsa::EInvalidKey),
                     written > loaded ? "Public key has incorrect length" : "Private key has incorrect length"});
      ExpectFailure([&] { rsa.PutSignature(SignatureText(n, p)); },
                    {typeid(Sysutils::EConvertError), "Signature has incorrect length"});
    }
  }
}

// The key texts of real keys at every size, written out independently from the keys' hexadecimal
// digits: each 32-bit digit as eight hex digits, least significant digit first, its bytes most
// significant first, then radix-64. The second field is exactly K bytes: 86 to 683 characters.
TEST(KeyText, FixtureKeyTextsMatchAnIndependentModelAtEveryKeySize) {
  auto field = [](std::string hex, int digits) {
    hex.insert(0, std::size_t(8 * digits) - hex.size(), '0');
    std::string bytes;
    for (int i = digits - 1; i >= 0; --i)
      for (int b = 0; b < 4; ++b) bytes += static_cast<char>(std::stoi(hex.substr(std::size_t(8 * i + 2 * b), 2), nullptr, 16));
    return Testing::ReferenceRadix64(bytes);
  };
  for (int bits : Testing::FixtureKeySizes) {
    SCOPED_TRACE(bits);
    const int p = bits / 32;
    const Testing::FixtureKey& key = Testing::GetFixtureKey(bits, 1);
    const std::string publicText = field(key.E, 1) + ":" + field(key.N, p);
    const std::string privateText = field(key.N, p) + ":" + field(key.D, p);
    EXPECT_EQ(publicText.size() - publicText.find(':') - 1, std::size_t((8 * 4 * p + 5) / 6));
    const BigNum e = Testing::HexToBigNum(key.E), n = Testing::HexToBigNum(key.N), d = Testing::HexToBigNum(key.D);
    EXPECT_EQ(KeyFieldText(e) + ":" + KeyFieldText(n, p), publicText);
    EXPECT_EQ(KeyFieldText(n) + ":" + KeyFieldText(d, p), privateText);

    TRSA rsa(nullptr);
    rsa.SetKeyBits(Testing::KeyBitsFor(bits));
    rsa.PutPublicKey(publicText);
    rsa.PutPrivateKey(privateText);
    BigNum a, b;
    rsa.GetPublicKey(a, b);
    EXPECT_TRUE(Same(a, e) && Same(b, n));
    rsa.GetPrivateKey(a, b);
    EXPECT_TRUE(Same(a, n) && Same(b, d));
  }
}

TEST(KeyText, SignatureTextIsTheLittleEndianImage) {
  EXPECT_EQ(SignatureText(E50001, 16), "IQA" + std::string(83, '+'));
  EXPECT_EQ(Hex(Radix64Decode(SignatureText(Number({0x01020304}), 16))).substr(0, 8), "04030201");
  EXPECT_EQ(SignatureText(Filled(32, 3), 32).Length(), 171);
  EXPECT_EQ(SignatureText(Filled(64, 3), 64).Length(), 342);
  EXPECT_EQ(SignatureText(Filled(96, 3), 96).Length(), 512);
  EXPECT_EQ(SignatureText(Filled(128, 3), 128).Length(), 683);

  // Loading reads exactly the decoded number: digits above the key size are cleared even when an
  // earlier, larger signature filled them.
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb2048);
  const AnsiString wide = SignatureText(Filled(64, 0xDEADBEEF), 64);
  rsa.PutSignature(wide);
  EXPECT_TRUE(Same(Testing::SigValueOf(rsa), Filled(64, 0xDEADBEEF)));
  rsa.SetKeyBits(Rsa::kb0512);
  const AnsiString narrow = "IQA" + std::string(83, '+');
  rsa.PutSignature(narrow);
  EXPECT_TRUE(Same(Testing::SigValueOf(rsa), E50001));
  EXPECT_EQ(rsa.Signature(), narrow);
  EXPECT_TRUE(Testing::SignatureLoaded(rsa));
}

TEST(KeyText, AFailedSignatureChangesNothingButTheStatus) {
  const AnsiString good = SignatureText(Filled(16, 0x85EBCA6B), 16);
  struct Case {
    const char* What;
    AnsiString Text;
    const char* Message;
  };
  const Case cases[] = {
      {"space", good.SubString(1, 40) + " " + good.SubString(41, 99), "Signature not valid"},
      {"line break", good + "\r\n", "Signature not valid"},
      {"colon", good.SubString(1, 43) + ":" + good.SubString(44, 99), "Signature not valid"},
      {"empty", "", "Signature has incorrect length"},
      {"63 bytes", FieldOfBytes(63), "Signature has incorrect length"},
      {"65 bytes", FieldOfBytes(65), "Signature has incorrect length"},
      {"86 characters and one more", good + "+", "Signature has incorrect length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    rsa.PutSignature(good);
    Recorder recorder(rsa);
    ExpectFailure([&] { rsa.PutSignature(c.Text); }, {typeid(Sysutils::EConvertError), c.Message});
    EXPECT_EQ(rsa.Status(), c.Message);
    EXPECT_EQ(recorder.Status.Seen, std::vector<std::string>{c.Message});
    EXPECT_EQ(rsa.Signature(), good);
    EXPECT_TRUE(Testing::SignatureLoaded(rsa));
    EXPECT_TRUE(Same(Testing::SigValueOf(rsa), Filled(16, 0x85EBCA6B)));
  }
}

TEST(KeyText, EveryLoadReseedsOnceAndDrawsNothing) {
  const KeyPairTexts pair;
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  Testing::ScriptedRandom random;
  rsa.PutPublicKey(pair.PublicText);
  EXPECT_THROW(rsa.PutPublicKey("nocolon"), Rsa::EInvalidKey);
  rsa.PutPrivateKey(pair.PrivateText);
  EXPECT_THROW(rsa.PutPrivateKey(":"), Rsa::EInvalidKey);
  rsa.PutSignature(SignatureText(E50001, 16));
  EXPECT_THROW(rsa.PutSignature("!"), Sysutils::EConvertError);
  EXPECT_EQ(random.RandomizeCalls, 6);
  EXPECT_EQ(random.Draws, 0);
}

// Without a key size only empty fields have the right length.
TEST(KeyText, BeforeKeyBitsOnlyEmptyFieldsFit) {
  TRSA rsa(nullptr);
  rsa.PutPublicKey(":");
  rsa.PutPrivateKey(":");
  rsa.PutSignature("");
  EXPECT_TRUE(Testing::PublicLoaded(rsa));
  EXPECT_TRUE(Testing::PrivateLoaded(rsa));
  EXPECT_TRUE(Testing::SignatureLoaded(rsa));
  ExpectFailure([&] { rsa.PutPublicKey("++11IE:"); }, {typeid(Rsa::EInvalidKey), "Public key has incorrect length"});
  ExpectFailure([&] { rsa.PutPrivateKey(":++11IE"); }, {typeid(Rsa::EInvalidKey), "Private key has incorrect length"});
  ExpectFailure([&] { rsa.PutSignature("IQA"); }, {typeid(Sysutils::EConvertError), "Signature has incorrect length"});
}
