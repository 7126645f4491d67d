// Session-key wrapping: round trips, the block layout against GMP, generator draws, failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rsa/RSA.h"
#include "support/FixtureKeys.h"
#include "support/GmpReference.h"
#include "support/ScriptedRandom.h"
#include "support/StatusRecorder.h"

using Rsa::TRSA;
using Rsa::TSymKey;
using System::AnsiString;
using Testing::ExpectReportedFailure;

namespace {

const Rsa::TSymKeyLength AllLengths[] = {Rsa::sk64, Rsa::sk128, Rsa::sk192, Rsa::sk256};

// A session key whose bytes run through 0x00 and 0xFF.
void FillKey(TSymKey& key, unsigned char start) {
  for (int i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(start + 17 * i);
  key[1] = 0x00;
  key[2] = 0xFF;
}

std::string KeyBytes(const TSymKey& key, int count) { return std::string(reinterpret_cast<const char*>(key), count); }

// A script for the generator whose byte values are all different from their neighbours.
std::vector<std::uint32_t> VariedScript() {
  std::vector<std::uint32_t> script;
  for (std::uint32_t i = 0; i < 251; ++i) script.push_back(i * 131 + 1000 * 256 + 17);
  return script;
}

}  // namespace

TEST(SessionKey, RoundTripAtEveryKeySizeAndSessionKeyLength) {
  for (int bits : Testing::FixtureKeySizes) {
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, bits);
    const int K = bits / 8;
    for (Rsa::TSymKeyLength length : AllLengths) {
      SCOPED_TRACE(testing::Message() << bits << " bits, symmetric length " << int(length));
      rsa.SetSymKeyLength(length);
      const int L = rsa.GetSymKeyBytes();
      TSymKey key;
      FillKey(key, static_cast<unsigned char>(bits + L));
      rsa.SetStatus("before");
      Testing::StatusRecorder recorder(rsa);
      Testing::ScriptedRandom random(VariedScript());

      const AnsiString text = rsa.EncryptKey(key);
      EXPECT_EQ(text.Length(), (8 * K + 5) / 6);  // 86, 171, 342, 512 or 683 characters

      TSymKey out;
      std::memset(out, 0xAA, sizeof out);
      rsa.DecryptKey(text, out);
      EXPECT_EQ(KeyBytes(out, L), KeyBytes(key, L));
      EXPECT_EQ(KeyBytes(out, 32).substr(L), std::string(32 - L, '\0'));

      // Success reports nothing and does not reseed.
      EXPECT_EQ(rsa.Status(), "before");
      EXPECT_TRUE(recorder.Seen.empty());
      EXPECT_EQ(random.RandomizeCalls, 0);
    }
  }
}

// The wrapped text equals the radix-64 text of (key bytes, random bytes, zero byte)^e mod n, computed
// independently with GMP, and the generator is drawn K-1 times whatever the session-key length.
TEST(SessionKey, WrappedBlockLayoutMatchesGmp) {
  const struct {
    int Bits;
    Rsa::TSymKeyLength Length;
  } cases[] = {{512, Rsa::sk256}, {512, Rsa::sk64}, {1024, Rsa::sk128}, {1024, Rsa::sk192}, {2048, Rsa::sk64},
               {2048, Rsa::sk256}, {3072, Rsa::sk128}, {4096, Rsa::sk64},   {4096, Rsa::sk256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Bits << " bits, symmetric length " << int(c.Length));
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, c.Bits);
    rsa.SetSymKeyLength(c.Length);
    const int K = c.Bits / 8, L = rsa.GetSymKeyBytes();
    TSymKey key;
    FillKey(key, 0x30);

    const std::vector<std::uint32_t> script = VariedScript();
    std::string block(std::size_t(K), '\0');
    for (int i = 0; i < K - 1; ++i) block[i] = static_cast<char>(script[i % script.size()] % 256);
    block.replace(0, L, KeyBytes(key, L));
    const Testing::FixtureKey& fixture = Testing::GetFixtureKey(c.Bits);
    const std::string expected = Testing::ReferenceRadix64(Testing::GmpModPowLE(block, fixture.E, fixture.N, K));

    Testing::ScriptedRandom random(script);
    const AnsiString text = rsa.EncryptKey(key);
    EXPECT_EQ(text.str(), expected);
    EXPECT_EQ(random.Draws, K - 1);
    EXPECT_EQ(random.ByteDraws, K - 1);
  }
}

TEST(SessionKey, TwoWrapsOfOneKeyDifferButBothUnwrap) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  rsa.SetSymKeyLength(Rsa::sk128);
  TSymKey key;
  FillKey(key, 9);
  const AnsiString first = rsa.EncryptKey(key);
  const AnsiString second = rsa.EncryptKey(key);
  EXPECT_NE(first, second);
  for (const AnsiString& text : {first, second}) {
    TSymKey out{};
    rsa.DecryptKey(text, out);
    EXPECT_EQ(KeyBytes(out, 16), KeyBytes(key, 16));
  }
}

// Unwrapping with a longer session-key length than was wrapped returns bytes of the random fill.
TEST(SessionKey, LongerLengthOnUnwrapReturnsTheRandomFill) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  rsa.SetSymKeyLength(Rsa::sk64);
  TSymKey key;
  FillKey(key, 1);
  const std::vector<std::uint32_t> script = VariedScript();
  AnsiString text;
  {
    Testing::ScriptedRandom random(script);
    text = rsa.EncryptKey(key);
  }
  rsa.SetSymKeyLength(Rsa::sk256);
  TSymKey out{};
  rsa.DecryptKey(text, out);
  EXPECT_EQ(KeyBytes(out, 8), KeyBytes(key, 8));
  for (int i = 8; i < 32; ++i) EXPECT_EQ(out[i], script[i] % 256) << "byte " << i;
}

// A text wrapped under another key unwraps to wrong bytes without an error: exactly the bytes that
// the other key's c^d mod n gives.
TEST(SessionKey, WrongPrivateKeyGivesWrongBytesWithoutError) {
  TRSA sender(nullptr), receiver(nullptr);
  Testing::LoadFixtureKey(sender, 512, 0);
  Testing::LoadFixtureKey(receiver, 512, 1);
  sender.SetSymKeyLength(Rsa::sk256);
  receiver.SetSymKeyLength(Rsa::sk256);
  TSymKey key;
  FillKey(key, 77);
  const std::vector<std::uint32_t> script = VariedScript();
  AnsiString text;
  {
    Testing::ScriptedRandom random(script);
    text = sender.EncryptKey(key);
  }
  TSymKey out;
  std::memset(out, 0xAA, sizeof out);
  EXPECT_NO_THROW(receiver.DecryptKey(text, out));
  EXPECT_NE(KeyBytes(out, 32), KeyBytes(key, 32));

  std::string block(64, '\0');
  for (int i = 0; i < 63; ++i) block[i] = static_cast<char>(script[i] % 256);
  block.replace(0, 32, KeyBytes(key, 32));
  const Testing::FixtureKey& mine = Testing::GetFixtureKey(512, 0);
  const Testing::FixtureKey& other = Testing::GetFixtureKey(512, 1);
  const std::string c = Testing::GmpModPowLE(block, mine.E, mine.N, 64);
  EXPECT_EQ(KeyBytes(out, 32), Testing::GmpModPowLE(c, other.D, other.N, 64).substr(0, 32));
}

TEST(SessionKey, MissingKeysAreReportedAndLeaveTheKeyAlone) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  TSymKey key, out;
  FillKey(key, 5);
  std::memset(out, 0x5C, sizeof out);
  Testing::ScriptedRandom random;
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.EncryptKey(key); }, "Public key not loaded");
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.DecryptKey("", out); }, "Private key not loaded");
  EXPECT_EQ(KeyBytes(out, 32), std::string(32, '\x5C'));
  EXPECT_EQ(random.Draws, 0);

  // Only the private key loaded: unwrapping works, wrapping still needs the public key.
  Testing::LoadFixturePrivateKey(rsa, 512);
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { rsa.EncryptKey(key); }, "Public key not loaded");
}

// Every fault of the wrapped text: the class, the message, the status the handler sees, and the
// caller's key still holding what it held.
TEST(SessionKey, FaultyTextsAreRejectedAndLeaveTheKeyAlone) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  TSymKey key;
  FillKey(key, 3);
  const std::string good = rsa.EncryptKey(key).str();

  TRSA large(nullptr);
  Testing::LoadFixtureKey(large, 1024);
  const std::string wrappedAt1024 = large.EncryptKey(key).str();

  const struct {
    const char* Name;
    std::string Text;
    const char* Message;
  } cases[] = {
      {"character outside the alphabet", good.substr(0, 40) + "!" + good.substr(41), "String not valid"},
      {"space at the end", good + " ", "String not valid"},
      {"line break inside", good.substr(0, 10) + "\n" + good.substr(10), "String not valid"},
      {"empty text", "", "String has incorrect length"},
      {"K-1 bytes", Testing::ReferenceRadix64(std::string(63, 'x')), "String has incorrect length"},
      {"K+1 bytes", Testing::ReferenceRadix64(std::string(65, 'x')), "String has incorrect length"},
      {"wrapped at another key size", wrappedAt1024, "String has incorrect length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TSymKey out;
    std::memset(out, 0x5C, sizeof out);
    ExpectReportedFailure<Sysutils::EConvertError>(rsa, [&] { rsa.DecryptKey(c.Text, out); }, c.Message);
    EXPECT_EQ(KeyBytes(out, 32), std::string(32, '\x5C'));
  }
}

// Without a key size the block sizes are meaningless; a modulus that does not have exactly the key
// size's bytes would lose or reduce blocks. Both are refused before anything is drawn or written.
TEST(SessionKey, UnsetKeySizeAndUnfitModulusAreRefused) {
  TSymKey key, out;
  FillKey(key, 8);
  std::memset(out, 0x5C, sizeof out);
  Testing::ScriptedRandom random;

  TRSA unset(nullptr);
  Testing::LoadFixturePublicKey(unset, 512);
  Testing::LoadFixturePrivateKey(unset, 512);
  ExpectReportedFailure<Rsa::EInvalidKey>(unset, [&] { unset.EncryptKey(key); },
                                          "Key size not set: assign KeyBits first");
  ExpectReportedFailure<Rsa::EInvalidKey>(unset, [&] { unset.DecryptKey("", out); },
                                          "Key size not set: assign KeyBits first");

  for (auto [keyBits, fixtureBits] : {std::pair{Rsa::kb0512, 1024}, std::pair{Rsa::kb1024, 512}}) {
    SCOPED_TRACE(fixtureBits);
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, fixtureBits);
    rsa.SetKeyBits(keyBits);
    ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { rsa.EncryptKey(key); }, "Modulus does not match the key size");
    ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { rsa.DecryptKey("", out); },
                                            "Modulus does not match the key size");
  }
  EXPECT_EQ(KeyBytes(out, 32), std::string(32, '\x5C'));
  EXPECT_EQ(random.Draws, 0);
}
