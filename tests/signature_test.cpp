// Signatures: sign and verify at every key size, the block layout against GMP, generator draws,
// the compared range, length limits and failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rsa/RSA.h"
#include "support/FixtureKeys.h"
#include "support/GmpReference.h"
#include "support/ScriptedRandom.h"
#include "support/StatusRecorder.h"

using Rsa::TRSA;
using System::AnsiString;
using Testing::ExpectReportedFailure;

namespace {

using Bytes = std::vector<unsigned char>;

// count bytes running through 0x00 and 0xFF.
Bytes Data(int count, unsigned char start = 0x10) {
  Bytes data(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) data[i] = static_cast<unsigned char>(start + 29 * i);
  if (count > 2) data[1] = 0x00, data[2] = 0xFF;
  return data;
}

void Sign(TRSA& rsa, const Bytes& data, int len) { rsa.Sign(data.data(), int(data.size()) - 1, len); }
bool Verify(TRSA& rsa, const Bytes& data, int len) { return rsa.Verify(data.data(), int(data.size()) - 1, len); }

std::vector<std::uint32_t> VariedScript() {
  std::vector<std::uint32_t> script;
  for (std::uint32_t i = 0; i < 241; ++i) script.push_back(i * 97 + 5 * 256 + 3);
  return script;
}

}  // namespace

TEST(Signature, SignThenVerifyAtEveryKeySize) {
  for (int bits : Testing::FixtureKeySizes) {
    const int K = bits / 8;
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, bits);
    const Bytes data = Data(K - 4);
    for (int len : {0, 1, 17, K - 4}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, Len " << len);
      rsa.SetStatus("before");
      Testing::StatusRecorder recorder(rsa);
      Testing::ScriptedRandom random(VariedScript());
      Sign(rsa, data, len);
      EXPECT_EQ(rsa.Signature().Length(), (8 * K + 5) / 6);  // 86, 171, 342, 512 or 683 characters
      EXPECT_TRUE(Verify(rsa, data, len));
      EXPECT_EQ(random.Draws, K - 4);  // 60, 124, 252, 380 or 508 whatever Len is
      EXPECT_EQ(random.RandomizeCalls, 0);
      EXPECT_EQ(rsa.Status(), "before");
      EXPECT_TRUE(recorder.Seen.empty());
    }
  }
}

// The Signature text equals the radix-64 text of the K-byte image of (data, random fill, zero top
// digit)^d mod n, computed independently with GMP.
TEST(Signature, SignedBlockLayoutMatchesGmp) {
  for (int bits : Testing::FixtureKeySizes) {
    const int K = bits / 8;
    for (int len : {0, 5, K - 4}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, Len " << len);
      TRSA rsa(nullptr);
      Testing::LoadFixtureKey(rsa, bits);
      const Bytes data = Data(len + 3, 0x80);  // bytes beyond Len are not signed
      const std::vector<std::uint32_t> script = VariedScript();
      std::string block(std::size_t(K), '\0');
      for (int i = 0; i < K - 4; ++i) block[i] = static_cast<char>(script[i % script.size()] % 256);
      block.replace(0, len, std::string(data.begin(), data.begin() + len));
      const Testing::FixtureKey& key = Testing::GetFixtureKey(bits);

      Testing::ScriptedRandom random(script);
      Sign(rsa, data, len);
      EXPECT_EQ(rsa.Signature().str(), Testing::ReferenceRadix64(Testing::GmpModPowLE(block, key.D, key.N, K)));
      EXPECT_EQ(random.ByteDraws, K - 4);
    }
  }
}

TEST(Signature, VerifyComparesOnlyTheFirstLenBytes) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  const Bytes data = Data(40);
  Sign(rsa, data, 10);

  const struct {
    int Index;  // byte changed, -1 for none
    int Len;
    bool Expected;
  } cases[] = {
      {-1, 10, true}, {10, 10, true}, {39, 10, true},  // differences at Len or later do not count
      {9, 10, false}, {0, 10, false},  {0, 9, false},  // any difference within Len does
      {5, 0, true},   {5, -3, true},   {-1, 4, true},  // Len of 0 or less compares nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "changed byte " << c.Index << ", Len " << c.Len);
    Bytes other = data;
    if (c.Index >= 0) other[c.Index] ^= 0x01;
    EXPECT_EQ(Verify(rsa, other, c.Len), c.Expected);
  }
}

TEST(Signature, TwoSignaturesDifferAndBothVerify) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 1024);
  const Bytes data = Data(50);
  Sign(rsa, data, 50);
  const AnsiString first = rsa.Signature();
  Sign(rsa, data, 50);
  const AnsiString second = rsa.Signature();
  EXPECT_NE(first, second);
  EXPECT_TRUE(Verify(rsa, data, 50));
  rsa.PutSignature(first);
  EXPECT_TRUE(Verify(rsa, data, 50));
}

// The Signature text travels: a component holding only the public key verifies it.
TEST(Signature, SignatureTextVerifiesOnAnotherComponent) {
  for (int bits : {512, 2048}) {
    SCOPED_TRACE(bits);
    TRSA signer(nullptr), checker(nullptr);
    Testing::LoadFixtureKey(signer, bits);
    checker.SetKeyBits(Testing::KeyBitsFor(bits));
    Testing::LoadFixturePublicKey(checker, bits);
    const Bytes data = Data(33);
    Sign(signer, data, 33);
    checker.PutSignature(signer.Signature());
    EXPECT_TRUE(Verify(checker, data, 33));
    Bytes changed = data;
    changed[32] ^= 0x80;
    EXPECT_FALSE(Verify(checker, changed, 33));
  }
}

TEST(Signature, AnotherPublicKeyDoesNotVerify) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512, 0);
  const Bytes data = Data(20);
  Sign(rsa, data, 20);
  Testing::LoadFixturePublicKey(rsa, 512, 1);
  EXPECT_FALSE(Verify(rsa, data, 20));
}

TEST(Signature, MissingKeysAndSignatureAreReportedInOrder) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  const Bytes data = Data(8);
  Testing::ScriptedRandom random;
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { Sign(rsa, data, 8); }, "Private key not loaded");
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { Verify(rsa, data, 8); }, "Public key not loaded");
  Testing::LoadFixturePublicKey(rsa, 512);
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(rsa, [&] { Verify(rsa, data, 8); }, "Signature not loaded");
  EXPECT_EQ(random.Draws, 0);
  EXPECT_TRUE(rsa.Signature().IsEmpty());

  // A signature but no public key: the public key is reported first.
  TRSA signer(nullptr);
  Testing::LoadFixtureKey(signer, 512);
  Sign(signer, data, 8);
  TRSA holder(nullptr);
  holder.SetKeyBits(Rsa::kb0512);
  holder.PutSignature(signer.Signature());
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(holder, [&] { Verify(holder, data, 8); }, "Public key not loaded");

  // A failed Sign leaves the loaded signature as it was.
  Testing::LoadFixturePublicKey(holder, 512);
  ExpectReportedFailure<Rsa::ENoKeyLoaded>(holder, [&] { Sign(holder, data, 8); }, "Private key not loaded");
  EXPECT_EQ(holder.Signature(), signer.Signature());
  EXPECT_TRUE(Verify(holder, data, 8));
}

// Len beyond the data given, or beyond one block's 528 bytes, is refused before anything is read,
// drawn or written; the loaded signature stays.
TEST(Signature, LengthsBeyondTheDataOrTheBlockAreRefused) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  const Bytes signedData = Data(10);
  Sign(rsa, signedData, 10);
  const AnsiString signature = rsa.Signature();

  const Bytes ten = Data(10), large = Data(600);
  const struct {
    const char* Name;
    const unsigned char* Data;
    int DataHigh;
    int Len;
    const char* Message;
  } cases[] = {
      {"one past the data", ten.data(), 9, 11, "Data length exceeds the data given"},
      {"far past the data", ten.data(), 9, 0x7FFFFFFF, "Data length exceeds the data given"},
      {"highest index at the int limit", large.data(), 0x7FFFFFFF, 529, "Data length exceeds the 528-byte block"},
      {"one past the block", large.data(), 599, 529, "Data length exceeds the 528-byte block"},
      {"no data array", nullptr, 99, 5, "No data given"},
      {"empty array", nullptr, -1, 1, "Data length exceeds the data given"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Testing::ScriptedRandom random;
    ExpectReportedFailure<Sysutils::ERangeError>(rsa, [&] { rsa.Sign(c.Data, c.DataHigh, c.Len); }, c.Message);
    ExpectReportedFailure<Sysutils::ERangeError>(rsa, [&] { rsa.Verify(c.Data, c.DataHigh, c.Len); }, c.Message);
    EXPECT_EQ(random.Draws, 0);
    EXPECT_EQ(rsa.Signature(), signature);
  }
  EXPECT_TRUE(Verify(rsa, signedData, 10));
  // An empty array with a Len of 0 or less is fine.
  rsa.Sign(nullptr, -1, 0);
  EXPECT_TRUE(rsa.Verify(nullptr, -1, -5));
}

// A Len between K-4 and 528 within the data signs the block as it stands; a block not below n is
// reduced, so Verify compares against m mod n and fails, while a block below n verifies.
TEST(Signature, LongerBlocksAreSignedAndReducedModuloN) {
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  const Testing::FixtureKey& key = Testing::GetFixtureKey(512);

  Bytes belowN = Data(64);
  belowN[60] = belowN[61] = belowN[62] = belowN[63] = 0;
  Sign(rsa, belowN, 64);
  EXPECT_TRUE(Verify(rsa, belowN, 64));

  const Bytes full(528, 0xFF);
  Testing::ScriptedRandom random;
  Sign(rsa, full, 528);
  EXPECT_EQ(random.Draws, 60);
  const std::string block(528, '\xFF');
  EXPECT_EQ(rsa.Signature().str(), Testing::ReferenceRadix64(Testing::GmpModPowLE(block, key.D, key.N, 64)));
  EXPECT_FALSE(Verify(rsa, full, 528));
  EXPECT_TRUE(Verify(rsa, full, 0));
}

TEST(Signature, UnsetKeySizeAndUnfitModulusAreRefused) {
  const Bytes data = Data(8);
  TRSA unset(nullptr);
  Testing::LoadFixturePublicKey(unset, 512);
  Testing::LoadFixturePrivateKey(unset, 512);
  ExpectReportedFailure<Rsa::EInvalidKey>(unset, [&] { Sign(unset, data, 8); },
                                          "Key size not set: assign KeyBits first");
  unset.PutSignature("");  // the only signature text that loads at precision 0
  ExpectReportedFailure<Rsa::EInvalidKey>(unset, [&] { Verify(unset, data, 8); },
                                          "Key size not set: assign KeyBits first");

  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 1024);
  Sign(rsa, data, 8);
  const AnsiString signature = rsa.Signature();
  rsa.SetKeyBits(Rsa::kb2048);
  ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { Sign(rsa, data, 8); }, "Modulus does not match the key size");
  ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { Verify(rsa, data, 8); }, "Modulus does not match the key size");
  EXPECT_EQ(rsa.Signature(), signature);
}
