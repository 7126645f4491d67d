// Frozen vectors: the exact texts the component writes for fixed inputs, kept in tests/vectors/. Every
// case recomputes its text (the fixture keys of tests/support, a scripted random source where the
// operation draws) and compares it byte for byte with the stored file, then reads the stored text back
// the way a peer or a stored form would. A change of any text the component writes fails here, on
// every machine the suite runs on (word size, byte order).
//
// The files were made by this test: QARVEX_WRITE_VECTORS=1 tests/frozen_vectors_test writes each
// case's text into tests/vectors/ instead of comparing. Do that only for a deliberate change of a text
// format, and say so in the commit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/forms/FormFile.h"
#include "rsa/RSA.h"
#include "support/FixtureKeys.h"
#include "support/ScriptedRandom.h"

using Rsa::BigNum;
using Rsa::TRSA;
using System::AnsiString;

namespace {

const std::filesystem::path VectorDir = std::filesystem::path(QARVEX_SOURCE_DIR) / "tests" / "vectors";

bool WriteMode() { return std::getenv("QARVEX_WRITE_VECTORS") != nullptr; }

// The generator's script: a fixed stream of well-mixed words (mt19937's output is fixed by the
// standard), different for each size.
std::vector<std::uint32_t> Script(int bits) {
  std::mt19937 engine(std::uint32_t(bits) * 2654435761u);
  std::vector<std::uint32_t> words(20000);
  for (auto& w : words) w = engine();
  return words;
}

// Bytes that run through every value: the session key, the signed block and the plain text.
std::string Pattern(std::size_t length, unsigned char start) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = char(start + 37 * i);
  return bytes;
}

BigNum Seed(std::uint32_t salt) {
  BigNum s{};
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i) s[i] = 0x9E3779B9u * (i + 1) ^ salt;
  return s;
}

bool Same(const BigNum& a, const BigNum& b) { return std::memcmp(a.Digits, b.Digits, sizeof a.Digits) == 0; }

// The component with fixture key A of this size loaded by its texts.
std::unique_ptr<TRSA> FixtureComponent(int bits, Classes::TComponent* owner = nullptr) {
  auto rsa = std::make_unique<TRSA>(owner);
  rsa->SetKeyBits(Testing::KeyBitsFor(bits));
  rsa->PutPublicKey(Testing::FixturePublicKeyText(bits));
  rsa->PutPrivateKey(Testing::FixturePrivateKeyText(bits));
  return rsa;
}

// The signed block of the signature case: 20 bytes, all of them signed.
constexpr int SignedBytes = 20;

std::string SignatureText(int bits) {
  auto rsa = FixtureComponent(bits);
  const std::string data = Pattern(SignedBytes, 0x5A);
  Testing::ScriptedRandom random(Script(bits));
  rsa->Sign(reinterpret_cast<const unsigned char*>(data.data()), SignedBytes - 1, SignedBytes);
  return rsa->Signature().str();
}

// The session key of the wrapped-key case, at the longest session-key length.
std::string WrappedKeyText(int bits) {
  auto rsa = FixtureComponent(bits);
  rsa->SetSymKeyLength(Rsa::sk256);
  const std::string key = Pattern(32, 0xC3);
  Testing::ScriptedRandom random(Script(bits));
  return rsa->EncryptKey(reinterpret_cast<const unsigned char*>(key.data())).str();
}

// The plain text of the cipher case: more than one block at every size, every byte value.
const std::string PlainText = Pattern(300, 0x00);

std::string CipherText(int bits) {
  auto rsa = FixtureComponent(bits);
  AnsiString cipher;
  rsa->EncryptString(PlainText, cipher);
  return cipher.str();
}

// Key generation from fixed seeds under the scripted generator: both key texts, one per line.
std::string GeneratedKeyTexts(int bits) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Testing::KeyBitsFor(bits));
  Testing::ScriptedRandom random(Script(bits));
  rsa.MakeKeyPair(Seed(0x1234567u), Seed(0xABCDEF0u));
  return rsa.PublicKey().str() + "\n" + rsa.PrivateKey().str() + "\n";
}

// A form holding fixture key A of 1024 bits, a signature and the settings.
std::string FormText() {
  Classes::TForm form(nullptr);
  form.SetName("Form1");
  TRSA* rsa = FixtureComponent(1024, &form).release();  // owned by the form
  rsa->SetName("RSA1");
  rsa->PutSignature(SignatureText(1024));
  rsa->SetSymKeyLength(Rsa::sk128);
  rsa->SetStatus("Idle");
  return Classes::WriteComponentRes(form);
}

// ---- Reading the stored texts back ----

void ExpectFixtureNumbers(TRSA& rsa, int bits, bool withPrivate) {
  const Testing::FixtureKey& key = Testing::GetFixtureKey(bits);
  BigNum e, n, d;
  rsa.GetPublicKey(e, n);
  EXPECT_TRUE(Same(e, Testing::HexToBigNum(key.E)));
  EXPECT_TRUE(Same(n, Testing::HexToBigNum(key.N)));
  if (withPrivate) {
    rsa.GetPrivateKey(n, d);
    EXPECT_TRUE(Same(d, Testing::HexToBigNum(key.D)));
  }
}

void ReadPublicKey(int bits, const std::string& text) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Testing::KeyBitsFor(bits));
  rsa.PutPublicKey(text);
  ExpectFixtureNumbers(rsa, bits, false);
}

void ReadPrivateKey(int bits, const std::string& text) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Testing::KeyBitsFor(bits));
  rsa.PutPublicKey(Testing::FixturePublicKeyText(bits));
  rsa.PutPrivateKey(text);
  ExpectFixtureNumbers(rsa, bits, true);
}

void ReadSignature(int bits, const std::string& text) {
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Testing::KeyBitsFor(bits));
  rsa.PutPublicKey(Testing::FixturePublicKeyText(bits));
  rsa.PutSignature(text);
  const std::string data = Pattern(SignedBytes, 0x5A);
  EXPECT_TRUE(rsa.Verify(reinterpret_cast<const unsigned char*>(data.data()), SignedBytes - 1, SignedBytes));
}

void ReadWrappedKey(int bits, const std::string& text) {
  auto rsa = FixtureComponent(bits);
  rsa->SetSymKeyLength(Rsa::sk256);
  unsigned char key[32] = {};
  rsa->DecryptKey(text, key);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(key), 32), Pattern(32, 0xC3));
}

void ReadCipherText(int bits, const std::string& text) {
  auto rsa = FixtureComponent(bits);
  AnsiString plain;
  rsa->DecryptString(text, plain);
  EXPECT_EQ(plain.str(), PlainText);
}

void ReadGeneratedKeys(int bits, const std::string& text) {
  const std::size_t cut = text.find('\n');
  ASSERT_NE(cut, std::string::npos);
  TRSA rsa(nullptr);
  rsa.SetKeyBits(Testing::KeyBitsFor(bits));
  rsa.PutPublicKey(text.substr(0, cut));
  rsa.PutPrivateKey(text.substr(cut + 1, text.size() - cut - 2));
  // The pair works: a wrapped key comes back.
  const std::string key = Pattern(32, 0x11);
  unsigned char back[32] = {};
  rsa.DecryptKey(rsa.EncryptKey(reinterpret_cast<const unsigned char*>(key.data())), back);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back), std::size_t(rsa.GetSymKeyBytes())),
            key.substr(0, std::size_t(rsa.GetSymKeyBytes())));
}

void ReadForm(const std::string& text) {
  std::unique_ptr<Classes::TForm> form(Classes::ReadComponentRes<Classes::TForm>(text, nullptr));
  auto* rsa = dynamic_cast<TRSA*>(form->FindComponent("RSA1"));
  ASSERT_NE(rsa, nullptr);
  ExpectFixtureNumbers(*rsa, 1024, true);
  EXPECT_EQ(rsa->Signature().str(), SignatureText(1024));
  EXPECT_EQ(rsa->SymKeyLength(), Rsa::sk128);
  EXPECT_EQ(Classes::WriteComponentRes(*form), text);
}

// ---- The table ----

struct Vector {
  std::string File;  // in tests/vectors/
  std::function<std::string()> Make;
  std::function<void(const std::string&)> ReadBack;
};

// Names the case in failure messages.
void PrintTo(const Vector& vector, std::ostream* out) { *out << vector.File; }

std::vector<Vector> Vectors() {
  std::vector<Vector> v;
  for (int bits : {512, 1024, 2048}) {
    const std::string size = std::to_string(bits);
    v.push_back({"public-key-" + size + ".txt", [=] { return Testing::FixturePublicKeyText(bits).str() + "\n"; },
                 [=](const std::string& t) { ReadPublicKey(bits, t.substr(0, t.size() - 1)); }});
    v.push_back({"private-key-" + size + ".txt", [=] { return Testing::FixturePrivateKeyText(bits).str() + "\n"; },
                 [=](const std::string& t) { ReadPrivateKey(bits, t.substr(0, t.size() - 1)); }});
    v.push_back({"signature-" + size + ".txt", [=] { return SignatureText(bits) + "\n"; },
                 [=](const std::string& t) { ReadSignature(bits, t.substr(0, t.size() - 1)); }});
    v.push_back({"wrapped-key-" + size + ".txt", [=] { return WrappedKeyText(bits) + "\n"; },
                 [=](const std::string& t) { ReadWrappedKey(bits, t.substr(0, t.size() - 1)); }});
    v.push_back({"cipher-" + size + ".txt", [=] { return CipherText(bits) + "\n"; },
                 [=](const std::string& t) { ReadCipherText(bits, t.substr(0, t.size() - 1)); }});
  }
  for (int bits : {512, 1024}) {
    v.push_back({"generated-keys-" + std::to_string(bits) + ".txt", [=] { return GeneratedKeyTexts(bits); },
                 [=](const std::string& t) { ReadGeneratedKeys(bits, t); }});
  }
  v.push_back({"form-1024.dfm", FormText, ReadForm});
  return v;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FrozenVector : public ::testing::TestWithParam<Vector> {};

TEST_P(FrozenVector, TextIsByteForByteTheStoredOneAndReadsBack) {
  const Vector& vector = GetParam();
  const std::filesystem::path path = VectorDir / vector.File;
  const std::string made = vector.Make();
  if (WriteMode()) {
    std::ofstream(path, std::ios::binary) << made;
    GTEST_SKIP() << "written " << path;
  }
  ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing";
  const std::string stored = ReadFile(path);
  EXPECT_EQ(made, stored) << "the component no longer writes the text stored in " << path;
  vector.ReadBack(stored);
}

INSTANTIATE_TEST_SUITE_P(Vectors, FrozenVector, ::testing::ValuesIn(Vectors()), [](const auto& info) {
  std::string name = info.param.File;
  for (char& c : name)
    if (c == '-' || c == '.') c = '_';
  return name;
});

// Every file in tests/vectors/ is a case of the table, so none is kept without being checked.
TEST(FrozenVectors, EveryStoredFileIsChecked) {
  if (WriteMode()) GTEST_SKIP() << "writing the vectors";
  std::set<std::string> expected;
  for (const Vector& v : Vectors()) expected.insert(v.File);
  std::set<std::string> stored;
  for (const auto& entry : std::filesystem::directory_iterator(VectorDir))
    if (entry.path().filename() != "README") stored.insert(entry.path().filename().string());
  EXPECT_EQ(stored, expected);
}

}  // namespace
