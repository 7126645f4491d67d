// String encryption: round trips, padding boundaries and the ciphertext against GMP, determinism,
// aliasing of input and output, wrong keys and every failure; the same in pieces through the streaming
// encryptor and decryptor.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/GmpReference.h"
#include "support/ScriptedRandom.h"
#include "support/StatusRecorder.h"

using Rsa::TRSA;
using System::AnsiString;
using Testing::ExpectReportedFailure;

namespace {

// count bytes running through every value, zero and 0xFF included.
std::string Text(int count, unsigned char start = 0) {
  std::string s(std::size_t(count), '\0');
  for (int i = 0; i < count; ++i) s[i] = static_cast<char>(start + 7 * i);
  return s;
}

// The padded text, written out from the two layouts: up to 2048 bits p bytes of value p (1 to B);
// above, p - 2 zero bytes and then p in two bytes, high byte first (2 to B + 1).
std::string Padded(const std::string& plain, int bits) {
  const int B = bits / 8 - 1;
  int p = B - int(plain.size()) % B;
  if (bits <= 2048) return plain + std::string(std::size_t(p), static_cast<char>(p));
  if (p < 2) p += B;
  return plain + std::string(std::size_t(p - 2), '\0') + static_cast<char>(p >> 8) + static_cast<char>(p & 0xFF);
}

// The cipher text computed independently: pad, cut into B-byte blocks, raise each little-endian block
// to e mod n with GMP, concatenate the K-byte images, encode.
std::string ExpectedCipher(const std::string& plain, int bits, int which = 0) {
  const Testing::FixtureKey& key = Testing::GetFixtureKey(bits, which);
  const int K = bits / 8, B = K - 1;
  const std::string padded = Padded(plain, bits);
  std::string raw;
  for (std::size_t at = 0; at < padded.size(); at += B)
    raw += Testing::GmpModPowLE(padded.substr(at, B), key.E, key.N, K);
  return Testing::ReferenceRadix64(raw);
}

std::string Encrypt(TRSA& rsa, const std::string& plain) {
  AnsiString cipher;
  rsa.EncryptString(plain, cipher);
  return cipher.str();
}

std::string Decrypt(TRSA& rsa, const std::string& cipher) {
  AnsiString plain;
  rsa.DecryptString(cipher, plain);
  return plain.str();
}

// The text through a streaming encryptor in pieces of `piece` bytes.
std::string EncryptInPieces(Rsa::TStringEncryptor& encryptor, const std::string& plain, std::size_t piece) {
  std::string text;
  for (std::size_t at = 0; at < plain.size(); at += piece)
    encryptor.Update(plain.data() + at, std::min(piece, plain.size() - at), text);
  encryptor.Finish(text);
  return text;
}

std::string DecryptInPieces(Rsa::TStringDecryptor& decryptor, const std::string& cipher, std::size_t piece) {
  std::string plain;
  for (std::size_t at = 0; at < cipher.size(); at += piece)
    decryptor.Update(std::string_view(cipher).substr(at, piece), plain);
  decryptor.Finish(plain);
  return plain;
}

// What an operation gave: its result, or its exception's message and the status it left.
std::string Outcome(TRSA& rsa, const std::function<std::string()>& op) {
  rsa.SetStatus("before");
  try {
    return "result " + op();
  } catch (const Sysutils::Exception& x) {
    return "failure " + x.Message().str() + " / status " + rsa.Status().str();
  }
}

}  // namespace

// Byte for byte against GMP at the padding boundaries, with zero and 0xFF bytes; then each decrypts
// back. At 2048 bits the pad bytes of an empty or 255-byte text are 255. From 3072 bits the two-byte
// count needs room: B - 2 bytes still fit one block, B - 1 bytes take a second one (pad of B + 1 = K
// bytes, whose count's low byte is zero at 4096 bits), and 2B - 1 a third.
TEST(StringCipher, CipherTextMatchesGmpAndRoundTripsAtPaddingBoundaries) {
  for (int bits : Testing::FixtureKeySizes) {
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, bits);
    const int B = bits / 8 - 1;
    const bool twoByteCount = bits > 2048;
    // {length, blocks}
    std::vector<std::pair<int, int>> lengths = {{0, 1}, {1, 1}, {B - 1, twoByteCount ? 2 : 1}, {B, 2}, {B + 1, 2}};
    if (bits == 512) lengths.push_back({3 * B + 10, 4});
    if (twoByteCount) lengths.insert(lengths.end(), {{B - 2, 1}, {2 * B - 2, 2}, {2 * B - 1, 3}});
    for (auto [length, blocks] : lengths) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << length << " bytes");
      const std::string plain = Text(length, static_cast<unsigned char>(length));
      rsa.SetStatus("before");
      Testing::StatusRecorder recorder(rsa);
      Testing::ScriptedRandom random;

      const std::string cipher = Encrypt(rsa, plain);
      EXPECT_EQ(cipher, ExpectedCipher(plain, bits));
      EXPECT_EQ(rsa.DecodeString(cipher).Length(), blocks * (B + 1));
      EXPECT_EQ(Decrypt(rsa, cipher), plain);

      EXPECT_EQ(random.Draws, 0);  // no random bytes are involved
      EXPECT_EQ(rsa.Status(), "before");
      EXPECT_TRUE(recorder.Seen.empty());
    }
  }
}

TEST(StringCipher, EqualPlainTextsGiveEqualCipherTexts) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 1024);
  const std::string plain = "attack at dawn";
  EXPECT_EQ(Encrypt(rsa, plain), Encrypt(rsa, plain));
}

TEST(StringCipher, OneVariableAsInputAndOutput) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  const std::string plain = Text(100, 0xF0);
  AnsiString s = plain;
  rsa.EncryptString(s, s);
  EXPECT_EQ(s.str(), Encrypt(rsa, plain));
  rsa.DecryptString(s, s);
  EXPECT_EQ(s.str(), plain);
}

// Another private key decrypts to wrong bytes without an error: exactly what its c^d mod n gives,
// cut by whatever its last byte says (nothing left when that count exceeds the length).
TEST(StringCipher, WrongPrivateKeyGivesWrongBytesWithoutError) {
  TRSA sender(nullptr), receiver(nullptr);
  Testing::LoadFixtureKey(sender, 512, 0);
  Testing::LoadFixtureKey(receiver, 512, 1);
  const Testing::FixtureKey& other = Testing::GetFixtureKey(512, 1);
  bool sawEmpty = false, sawBytes = false;
  for (int length : {0, 5, 62, 63, 64, 130, 200}) {
    SCOPED_TRACE(length);
    const std::string plain = Text(length, 0x41);
    const std::string cipher = Encrypt(sender, plain);
    std::string result;
    EXPECT_NO_THROW(result = Decrypt(receiver, cipher));
    if (!plain.empty()) {
      EXPECT_NE(result, plain);
    }

    const std::string raw = sender.DecodeString(cipher).str();
    std::string expected;
    for (std::size_t at = 0; at < raw.size(); at += 64)
      expected += Testing::GmpModPowLE(raw.substr(at, 64), other.D, other.N, 64).substr(0, 63);
    const std::size_t p = static_cast<unsigned char>(expected.back());
    expected.resize(p < expected.size() ? expected.size() - p : 0);
    EXPECT_EQ(result, expected);
    (result.empty() ? sawEmpty : sawBytes) = true;
  }
  EXPECT_TRUE(sawEmpty) << "no case where the wrong pad count exceeded the length";
  EXPECT_TRUE(sawBytes);
}

// From 3072 bits the last two decrypted bytes are the count, high byte first; as with the one-byte
// count, nothing checks it, and a count beyond the length leaves nothing. Blocks made with GMP.
TEST(StringCipher, TwoByteCountDecidesTheCut) {
  const int bits = 3072, K = bits / 8, B = K - 1;
  const Testing::FixtureKey& key = Testing::GetFixtureKey(bits);
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, bits);
  const struct {
    int blocks, count, kept;
  } cases[] = {{1, 0, B},       {1, 1, B - 1},     {1, 2, B - 2}, {1, 0x0101, B - 257}, {1, B - 1, 1},
               {1, B, 0},       {1, 0xFFFF, 0},    {2, K, B - 1}, {2, 2 * B - 1, 1},    {2, 2 * B, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.blocks << " blocks, count " << c.count);
    std::string padded = Text(c.blocks * B, 0x5A);
    padded[padded.size() - 2] = static_cast<char>(c.count >> 8);
    padded[padded.size() - 1] = static_cast<char>(c.count & 0xFF);
    std::string raw;
    for (int j = 0; j < c.blocks; ++j) raw += Testing::GmpModPowLE(padded.substr(j * B, B), key.E, key.N, K);
    EXPECT_EQ(Decrypt(rsa, Testing::ReferenceRadix64(raw)), padded.substr(0, std::size_t(c.kept)));
  }
}

TEST(StringCipher, MissingKeysAreReportedAndLeaveTheOutputAlone) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  AnsiString cipher = "untouched", plain = "untouched";
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.EncryptString("abc", cipher); }, "Public key not loaded");
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.DecryptString("", plain); }, "Private key not loaded");
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { Rsa::TStringEncryptor encryptor(rsa); }, "Public key not loaded");
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { Rsa::TStringDecryptor decryptor(rsa); }, "Private key not loaded");
  EXPECT_EQ(cipher, "untouched");
  EXPECT_EQ(plain, "untouched");
}

// Every fault of the cipher text: an undecodable text leaves Plain untouched; a text that is not a
// whole number of K-byte blocks (short, truncated or padded) empties it. The status is always
// "String not valid"; the exception names the problem.
TEST(StringCipher, FaultyCipherTextsAreRejected) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  const std::string good = Encrypt(rsa, Text(70));  // two blocks, 128 bytes
  const std::string raw = rsa.DecodeString(good).str();

  const struct {
    const char* Name;
    std::string Cipher;
    const char* Message;
    bool PlainEmptied;
  } cases[] = {
      {"character outside the alphabet", good.substr(0, 50) + "*" + good.substr(51), "String not valid", false},
      {"trailing space", good + " ", "String not valid", false},
      {"equals sign", "=" + good, "String not valid", false},
      {"empty text", "", "String has incorrect length", true},
      {"K-1 bytes", Testing::ReferenceRadix64(raw.substr(0, 63)), "String has incorrect length", true},
      {"K+1 bytes", Testing::ReferenceRadix64(raw.substr(0, 65)), "String has incorrect length", true},
      {"truncated last block", Testing::ReferenceRadix64(raw.substr(0, 127)), "String has incorrect length", true},
      {"extra byte after the blocks", Testing::ReferenceRadix64(raw + "x"), "String has incorrect length", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    AnsiString plain = "untouched";
    ExpectReportedFailure<Sysutils::EConvertError>(rsa, [&] { rsa.DecryptString(c.Cipher, plain); }, c.Message,
                                                   "String not valid");
    EXPECT_EQ(plain.str(), c.PlainEmptied ? "" : "untouched");
  }
}

// EncryptString refuses a plain text whose cipher text a string cannot hold; the boundary lies where
// the cipher text reaches INT_MAX characters, and no length wraps on the way (a plain text past 2^31
// bytes, which once read as a negative length, is far beyond it).
TEST(StringCipher, CipherTextSizeIsExactUpToTheLimit) {
  struct Case {
    int KeyBytes;
    std::uint64_t LongestPlain, ItsText;
  };
  const Case cases[] = {{64, 1585446848, 2147483563},  {128, 1598029696, 2147483478}, {256, 1604321024, 2147483307},
                        {384, 1606418047, 2147483136}, {512, 1607466495, 2147482966}};
  for (const Case& c : cases) {
    EXPECT_EQ(Rsa::CipherTextLength(0, c.KeyBytes), Rsa::Radix64TextLength(std::uint64_t(c.KeyBytes)));
    EXPECT_EQ(Rsa::CipherTextLength(c.LongestPlain, c.KeyBytes), c.ItsText) << c.KeyBytes;
    EXPECT_GT(Rsa::CipherTextLength(c.LongestPlain + 1, c.KeyBytes), AnsiString::MaxLength) << c.KeyBytes;
    EXPECT_GT(Rsa::CipherTextLength(INT_MAX, c.KeyBytes), AnsiString::MaxLength) << c.KeyBytes;
    EXPECT_EQ(Rsa::CipherTextLength(UINT64_MAX, c.KeyBytes), UINT64_MAX) << c.KeyBytes;
  }
}

TEST(StringCipher, UnsetKeySizeAndUnfitModulusAreRefused) {
  AnsiString cipher = "untouched", plain = "untouched";
  TRSA unset(nullptr);
  Testing::LoadFixturePublicKey(unset, 512);
  Testing::LoadFixturePrivateKey(unset, 512);
  ExpectReportedFailure<Rsa::EInvalidKey>(unset, [&] { unset.EncryptString("abc", cipher); },
                                          "Key size not set: assign KeyBits first");
  ExpectReportedFailure<Rsa::EInvalidKey>(unset, [&] { unset.DecryptString("", plain); },
                                          "Key size not set: assign KeyBits first");

  // A modulus with a zero top byte would reduce the blocks; one larger than the key size would lose
  // the top bytes of each result. Both would return wrong bytes, so both are refused.
  const Testing::FixtureKey& key = Testing::GetFixtureKey(512);
  Rsa::BigNum small = Testing::HexToBigNum(key.N);
  small.Digits[15] &= 0x00FFFFFF;
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  rsa.SetPublicKey(Testing::HexToBigNum(key.E), small);
  rsa.SetPrivateKey(small, Testing::HexToBigNum(key.D));
  ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { rsa.EncryptString("abc", cipher); },
                                          "Modulus does not match the key size");
  Testing::LoadFixtureKey(rsa, 1024);
  rsa.SetKeyBits(Rsa::kb0512);
  ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { rsa.DecryptString("", plain); },
                                          "Modulus does not match the key size");
  EXPECT_EQ(cipher, "untouched");
  EXPECT_EQ(plain, "untouched");
}

// In pieces, the cipher text is the one computed independently, and decrypts back, whatever the cuts:
// lengths around every block boundary and every run of three blocks (the encoder's unit), at every key
// size, cut into single bytes, odd pieces that straddle blocks and radix-64 groups, and one piece. One
// encryptor and one decryptor serve every string in turn.
// Each key size is an instance of its own, named by its size.
class StringCipherStreamSizes : public testing::TestWithParam<int> {};

TEST_P(StringCipherStreamSizes, PiecesGiveTheWholeStringsTextAtEveryBoundary) {
  const int bits = GetParam();
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, bits);
  const int B = bits / 8 - 1;
  Rsa::TStringEncryptor encryptor(rsa);
  Rsa::TStringDecryptor decryptor(rsa);
  std::vector<int> lengths = {0, 1};
  for (int blocks : {1, 2, 3, 4, 6})
    for (int delta : {-2, -1, 0, 1}) lengths.push_back(blocks * B + delta);
  for (int length : lengths) {
    SCOPED_TRACE(testing::Message() << bits << " bits, " << length << " bytes");
    const std::string plain = Text(length, static_cast<unsigned char>(length + 3));
    const std::string expected = ExpectedCipher(plain, bits);
    for (std::size_t piece : {std::size_t(1), std::size_t(B + 5), std::size_t(3 * B - 1), plain.size() + 1}) {
      EXPECT_EQ(EncryptInPieces(encryptor, plain, piece), expected) << "pieces of " << piece;
      EXPECT_EQ(encryptor.PlainBytes(), 0u);
    }
    for (std::size_t piece : {std::size_t(1), std::size_t(5), std::size_t(B + 7), expected.size()})
      EXPECT_EQ(DecryptInPieces(decryptor, expected, piece), plain) << "pieces of " << piece;
  }
}

// The pieces come out as they are made: the text of three blocks as soon as the third is full, plain
// bytes as soon as the pad count can no longer reach them (up to 255 bytes and a 16 KiB batch held).
TEST(StringCipherStream, OutputLeavesAsSoonAsItIsCertain) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  const int K = 64, B = K - 1;
  Rsa::TStringEncryptor encryptor(rsa);
  const std::string plain = Text(40000);
  std::string text;
  encryptor.Update(plain.data(), 3 * B - 1, text);
  EXPECT_EQ(text.size(), 0u);
  encryptor.Update(plain.data() + 3 * B - 1, 1, text);
  EXPECT_EQ(text.size(), std::size_t(4 * K));  // 3K bytes, 4K characters
  encryptor.Update(plain.data() + 3 * B, plain.size() - 3 * B, text);
  const std::size_t beforeFinish = text.size();
  encryptor.Finish(text);
  EXPECT_EQ(text, Encrypt(rsa, plain));
  EXPECT_LE(text.size() - beforeFinish, std::size_t(4 * K));  // at most three blocks wait for the end

  Rsa::TStringDecryptor decryptor(rsa);
  std::string back;
  for (std::size_t at = 0; at < text.size(); at += 4096) {
    const std::size_t before = back.size();
    decryptor.Update(std::string_view(text).substr(at, 4096), back);
    EXPECT_LE(back.size() - before, 4096u + 17 * 1024);
  }
  EXPECT_GE(back.size(), plain.size() - 255 - 16 * 1024 - B);
  EXPECT_EQ(back, plain.substr(0, back.size()));
  decryptor.Finish(back);
  EXPECT_EQ(back, plain);
}

// Faulty texts are refused in pieces exactly as whole: the same message and status, an invalid
// character wherever it falls (also in a group the text leaves unfinished), a length that is not a
// whole number of blocks only at the end. A valid lone last character adds no byte and passes, as it
// does whole. After a failure the decryptor starts afresh.
TEST(StringCipherStream, FaultyTextsAreRefusedAsWholeTextsAre) {
  for (int bits : {512, 3072}) {
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, bits);
    const int K = bits / 8;
    const std::string good = Encrypt(rsa, Text(3 * K, 0x11));  // four blocks
    const std::string raw = rsa.DecodeString(good).str();
    const std::string texts[] = {
        "",
        good.substr(0, good.size() - 1),
        Testing::ReferenceRadix64(raw.substr(0, raw.size() - K)),  // one block short: decrypts, wrongly
        Testing::ReferenceRadix64(raw.substr(0, raw.size() - 1)),
        Testing::ReferenceRadix64(raw + "x"),
        good + "A",
        good + "*",
        good.substr(0, 7) + " " + good.substr(8),
        good.substr(0, good.size() - 2) + "=" + good.back(),
        "abcd",
    };
    Rsa::TStringDecryptor decryptor(rsa);
    for (const std::string& text : texts) {
      SCOPED_TRACE(testing::Message() << bits << " bits, text of " << text.size() << " characters");
      const std::string whole = Outcome(rsa, [&] { return Decrypt(rsa, text); });
      for (std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(K + 1), text.size() + 1})
        EXPECT_EQ(Outcome(rsa, [&] { return DecryptInPieces(decryptor, text, piece); }), whole) << "pieces of " << piece;
      EXPECT_EQ(DecryptInPieces(decryptor, good, 10), Text(3 * K, 0x11));
    }
  }
}

// Past the point where held bytes start to leave, the largest counts still reach back as far as they
// say, whole and in pieces: up to 255 bytes with a one-byte count, up to 65535 with two. Texts made
// with GMP, the count written over the last bytes.
// One instance for the one-byte count (512 bits) and one for the two-byte count (3072 bits).
class StringCipherStreamCounts : public testing::TestWithParam<int> {};

TEST_P(StringCipherStreamCounts, LongTextsHoldBackAllThePadCountCanReach) {
  const struct {
    int Bits, Blocks, Count;
  } cases[] = {{512, 300, 255}, {512, 300, 64}, {3072, 230, 0xFFFF}, {3072, 230, 60000}, {3072, 230, 384}};
  for (const auto& c : cases) {
    if (c.Bits != GetParam()) continue;
    SCOPED_TRACE(testing::Message() << c.Bits << " bits, count " << c.Count);
    const Testing::FixtureKey& key = Testing::GetFixtureKey(c.Bits);
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, c.Bits);
    const int K = c.Bits / 8, B = K - 1;
    std::string padded = Text(c.Blocks * B, 0x21);
    if (c.Bits <= 2048) {
      padded.back() = static_cast<char>(c.Count);
    } else {
      padded[padded.size() - 2] = static_cast<char>(c.Count >> 8);
      padded[padded.size() - 1] = static_cast<char>(c.Count & 0xFF);
    }
    std::string raw;
    for (int j = 0; j < c.Blocks; ++j) raw += Testing::GmpModPowLE(padded.substr(std::size_t(j) * B, B), key.E, key.N, K);
    const std::string cipher = Testing::ReferenceRadix64(raw);
    const std::string expected = padded.substr(0, padded.size() - std::size_t(c.Count));
    EXPECT_EQ(Decrypt(rsa, cipher), expected);
    Rsa::TStringDecryptor decryptor(rsa);
    EXPECT_EQ(DecryptInPieces(decryptor, cipher, 1000), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(KeySizes, StringCipherStreamSizes, testing::ValuesIn(Testing::FixtureKeySizes),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(CountWidths, StringCipherStreamCounts, testing::Values(512, 3072),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });
