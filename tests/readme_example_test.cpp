// The C++ example of README.md, compiled and run, and checked to be the very code the README shows.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/FixtureKeys.h"

// ---- The README example, verbatim from "#include <cstdio>" to the closing brace of main ----
#include <cstdio>
#include <cstring>

#include "rsa/RSA.h"

namespace ReadmeExample {  // (in the README, main is the program's own)

int main() {
  Classes::TComponent form(nullptr);  // the owner destroys its components
  auto* receiver = new Rsa::TRSA(&form);
  auto* sender = new Rsa::TRSA(&form);
  receiver->SetOnStatusUpdate([receiver](System::TObject*) { std::printf("%s\n", receiver->Status().c_str()); });

  // The receiver generates a key pair. Always assign KeyBits first: it sets the key size.
  receiver->SetKeyBits(Rsa::kb0512);
  Rsa::BigNum seed1{}, seed2{};  // the seeds are mixed with the random generator
  seed1.Digits[0] = 0x5eed0001;
  seed2.Digits[0] = 0x5eed0002;
  receiver->MakeKeyPair(seed1, seed2);

  // Its public key crosses to the sender as text.
  sender->SetKeyBits(Rsa::kb0512);
  sender->PutPublicKey(receiver->PublicKey());

  // A 128-bit session key, wrapped by the sender and unwrapped by the receiver.
  Rsa::TSymKey key = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                      0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  sender->SetSymKeyLength(Rsa::sk128);
  receiver->SetSymKeyLength(Rsa::sk128);
  System::AnsiString wrapped = sender->EncryptKey(key);
  Rsa::TSymKey received{};
  receiver->DecryptKey(wrapped, received);

  // A string of any bytes, encrypted for the receiver.
  const char bytes[] = "bytes \0 and \xff too";
  System::AnsiString plain(bytes, sizeof bytes - 1), cipher, decrypted;
  sender->EncryptString(plain, cipher);
  receiver->DecryptString(cipher, decrypted);

  // The receiver signs (at most K-4 = 60 bytes here); the sender checks with the public key.
  const unsigned char message[] = "meet at noon";
  const int length = sizeof message - 1;
  receiver->Sign(message, length - 1, length);  // data, its highest index, bytes to sign
  sender->PutSignature(receiver->Signature());
  bool valid = sender->Verify(message, length - 1, length);

  bool ok = valid && decrypted == plain && std::memcmp(key, received, 16) == 0;
  std::printf("%s\n", ok ? "all good" : "something went wrong");
  return ok ? 0 : 1;
}

}  // namespace ReadmeExample
// ---- end of the README example ----

// ---- The README's standard schemes example, verbatim from its #include to the closing brace ----
#include "rsa/StandardSchemes.h"

// A key pair in rsa (1024 bits or more here) serves the standard schemes as it is.
bool StandardSchemesExample(Rsa::TRSA& rsa) {
  const std::string document = "a contract any peer can check";
  // RSASSA-PSS, SHA-256 with MGF1-SHA-256 and a 32-byte salt: `openssl dgst -sha256 -sigopt
  // rsa_padding_mode:pss -verify` accepts it.
  const std::string signature = Rsa::PssSign(rsa, {}, document);
  const bool valid = Rsa::PssVerify(rsa, {Hash::THashKind::Sha256, {}, Rsa::PssSaltAuto}, document, signature);

  // RSAES-OAEP, SHA-256 and a label: a 32-byte file key for the key's owner.
  const Rsa::TOaepParameters oaep{Hash::THashKind::Sha256, {}, "my-format/1"};
  const std::string fileKey(32, '\x42');
  const std::string wrapped = Rsa::OaepEncrypt(rsa, oaep, fileKey);
  const System::TWipedString unwrapped = Rsa::OaepDecrypt(rsa, oaep, wrapped);  // wiped when freed
  return valid && std::string_view(unwrapped.data(), unwrapped.size()) == fileKey;
}
// ---- end of the standard schemes example ----

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The part of `text` from the line starting with `from` up to and including the line `to`.
std::string Section(const std::string& text, const std::string& from, const std::string& to) {
  const auto start = text.find(from);
  if (start == std::string::npos) return "";
  const auto end = text.find(to, start);
  return end == std::string::npos ? "" : text.substr(start, end + to.size() - start);
}

// The example without the lines that differ by design between the README and this file.
std::string WithoutNamespaceLines(std::string code) {
  for (const std::string line : {"namespace ReadmeExample {  // (in the README, main is the program's own)\n\n",
                                 "\n}  // namespace ReadmeExample"}) {
    if (const auto at = code.find(line); at != std::string::npos) code.erase(at, line.size());
  }
  return code;
}

TEST(ReadmeExample, RunsAndSucceeds) { EXPECT_EQ(ReadmeExample::main(), 0); }

TEST(ReadmeExample, StandardSchemesExampleRunsAndSucceeds) {
  Rsa::TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 1024);
  EXPECT_TRUE(StandardSchemesExample(rsa));
}

TEST(ReadmeExample, StandardSchemesExampleIsTheCodeTheReadmeShows) {
  const std::string root = QARVEX_SOURCE_DIR;
  const std::string from = "#include \"rsa/StandardSchemes.h\"\n";
  const std::string shown = Section(Slurp(root + "/README.md"), from, "\n}\n");
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown, Section(Slurp(root + "/tests/readme_example_test.cpp"), from, "\n}\n"));
}

TEST(ReadmeExample, IsTheCodeTheReadmeShows) {
  // The source tree comes from the build, not from __FILE__, which a compiler cache may make relative.
  const std::string root = QARVEX_SOURCE_DIR;
  const std::string source = root + "/tests/readme_example_test.cpp";
  const std::string readme = Slurp(root + "/README.md");
  ASSERT_FALSE(readme.empty()) << "README.md not found beside " << source;
  const std::string shown = Section(readme, "#include <cstdio>\n", "\n}\n");
  const std::string compiled =
      WithoutNamespaceLines(Section(Slurp(source), "#include <cstdio>\n", "}  // namespace ReadmeExample\n"));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown, compiled.substr(0, compiled.size() - 1));
}

}  // namespace
