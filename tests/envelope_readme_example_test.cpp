// The envelope example of README.md, compiled and run on fixture keys, and checked to be the very code
// the README shows.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

// ---- The README example, verbatim from its first comment line to the closing brace of main ----
// Seals a note for two key owners, armoured, and opens it as one of them.
#include <cstdio>
#include <string>

#include "envelope/Envelope.h"
#include "keys/KeyReader.h"

namespace EnvelopeReadmeExample {  // (in the README, main is the program's own)

int main() {
  // One call each loads a key file, in any format the tool reads, into a TRSA it owns.
  auto alice = Qarvex::Keys::ReadKeyFile("alice.dfm");
  auto bob = Qarvex::Keys::ReadKeyFile("bob-public.txt");

  std::string sealed;
  Qarvex::Envelope::SealOptions options;
  options.Armor = true;
  Qarvex::Envelope::EnvelopeWriter writer(
      {&alice->Rsa(), &bob->Rsa()},
      [&](const void* data, std::size_t size) { sealed.append(static_cast<const char*>(data), size); }, options);
  writer.Write("meet at noon, ");
  writer.Write("bring the keys");
  writer.Finish();

  // Alice opens it with her private key; Read gives only data that authenticated, 0 at the end.
  std::size_t at = 0;
  Qarvex::Envelope::EnvelopeReader reader(alice->Rsa(), [&](void* data, std::size_t size) {
    const std::size_t n = sealed.copy(static_cast<char*>(data), size, at);
    at += n;
    return n;
  });
  std::string note;
  char buffer[4096];
  for (std::size_t n; (n = reader.Read(buffer, sizeof buffer)) != 0;) note.append(buffer, n);
  std::printf("%s (one of %zu recipients)\n", note.c_str(), reader.GetHeader().Recipients.size());
  return note == "meet at noon, bring the keys" ? 0 : 1;
}

}  // namespace EnvelopeReadmeExample
// ---- end of the README example ----

#include "support/FixtureKeys.h"
#include "support/ProgramRunner.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The part of `text` from `from` up to and including the first `to` after it.
std::string Section(const std::string& text, const std::string& from, const std::string& to) {
  const auto start = text.find(from);
  if (start == std::string::npos) return "";
  const auto end = text.find(to, start);
  return end == std::string::npos ? "" : text.substr(start, end + to.size() - start);
}

std::string WithoutNamespaceLines(std::string code) {
  for (const std::string line : {"namespace EnvelopeReadmeExample {  // (in the README, main is the program's own)\n\n",
                                 "\n}  // namespace EnvelopeReadmeExample"}) {
    if (const auto at = code.find(line); at != std::string::npos) code.erase(at, line.size());
  }
  return code;
}

// The example reads alice.dfm (both keys) and bob-public.txt (a public key text) from the working
// directory: fixture keys, written to a scratch directory it runs in.
TEST(EnvelopeReadmeExample, RunsAndSucceeds) {
  Testing::ScratchDirectory dir;
  dir.Write("alice.dfm", "object KeyForm: TForm\n  object RSA1: TRSA\n    KeyBits = kb1024\n    PublicKey = '" +
                             Testing::FixturePublicKeyText(1024, 0).str() + "'\n    PrivateKey = '" +
                             Testing::FixturePrivateKeyText(1024, 0).str() + "'\n  end\nend\n");
  dir.Write("bob-public.txt", Testing::FixturePublicKeyText(2048, 1).str() + "\n");
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  int status = -1;
  try {
    status = EnvelopeReadmeExample::main();
  } catch (const std::exception& error) {
    ADD_FAILURE() << error.what();
  }
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(status, 0);
}

TEST(EnvelopeReadmeExample, IsTheCodeTheReadmeShows) {
  const std::string root = QARVEX_SOURCE_DIR;
  const std::string readme = Slurp(root + "/README.md");
  ASSERT_FALSE(readme.empty());
  const std::string first = "// Seals a note for two key owners, armoured, and opens it as one of them.\n";
  const std::string shown = Section(readme, first, "\n}\n");
  const std::string compiled = WithoutNamespaceLines(
      Section(Slurp(root + "/tests/envelope_readme_example_test.cpp"), first, "}  // namespace EnvelopeReadmeExample\n"));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown, compiled.substr(0, compiled.size() - 1));
}

}  // namespace
