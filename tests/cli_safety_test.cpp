// The tool's guards and interface: digest signatures checked outside the tool, checked decryption,
// secret outputs, refusals to replace private keys, clean-up on signals, help, fingerprints, DER keys.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/QrsaTool.h"
#include "support/SmallExponentForgery.h"

namespace Testing {
namespace {

constexpr int kValid = 0, kInvalid = 1, kUsage = 2, kFailure = 3;

class CliSafetyTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  static void ExpectFailure(const ProgramResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.Status, status) << result.Err;
    EXPECT_NE(result.Err.find(message), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Reversed(std::string bytes) { return std::string(bytes.rbegin(), bytes.rend()); }

// The signed block recovered outside the tool: the signature text decoded, raised to e by OpenSSL
// (raw RSA on big-endian numbers), and turned back into the component's little-endian block.
std::string RecoveredBlock(const std::string& signatureText, const std::string& publicPem, const ScratchDirectory& dir) {
  Rsa::TRSA codec(nullptr);
  const std::string little = codec.DecodeString(signatureText.substr(0, signatureText.size() - 1)).str();
  dir.Write("sig.be", Reversed(little));
  const std::string big = Ok(OpenSsl({"pkeyutl", "-verifyrecover", "-pubin", "-inkey", publicPem, "-pkeyopt",
                                      "rsa_padding_mode:none", "-in", dir.File("sig.be")}));
  return Reversed(big);
}

TEST_F(CliSafetyTest, DigestSignaturesCoverWholeDocumentsAndEveryDigestByte) {
  const std::string pub = dir.File("pub.pem");
  Ok(OpenSsl({"pkey", "-in", keys.Pem1024, "-pubout", "-out", pub}));
  const std::string document = AllBytes() + std::string(5000, 'x');  // far beyond K-4 bytes
  dir.Write("doc", document);
  struct Case {
    const char* name;
    std::size_t infoBytes;
  };
  for (const Case c : {Case{"sha256", 51}, Case{"sha384", 67}, Case{"sha512", 83}}) {
    const std::string sig = Ok(Qrsa({"sign", "--scheme", "component", "-k", keys.Key1024, "--digest", c.name, "-i", dir.File("doc")}));
    dir.Write("doc.sig", sig);
    // The block starts with the DER DigestInfo: OpenSSL's own PKCS#1 v1.5 encoding of the digest.
    const std::string digest = Ok(OpenSsl({"dgst", std::string("-") + c.name, "-binary", dir.File("doc")}));
    const std::string block = RecoveredBlock(sig, pub, dir);
    ASSERT_EQ(block.size(), 128u);
    EXPECT_EQ(block.substr(c.infoBytes - digest.size(), digest.size()), digest) << c.name;
    EXPECT_EQ(static_cast<unsigned char>(block[0]), 0x30) << c.name;
    EXPECT_EQ(static_cast<unsigned char>(block[1]), c.infoBytes - 2) << c.name;

    EXPECT_EQ(Qrsa({"verify", "-k", keys.Public1024, "--digest", c.name, "-s", dir.File("doc.sig")}, document).Status, kValid);
    // Neither a prefix nor one changed byte verifies, nor another digest.
    std::string changed = document;
    changed[4000] ^= 1;
    for (const std::string& other : {document.substr(0, 100), changed}) {
      const auto result = Qrsa({"verify", "-k", keys.Public1024, "--digest", c.name, "-s", dir.File("doc.sig")}, other);
      EXPECT_EQ(result.Status, kInvalid) << c.name;
      EXPECT_EQ(result.Out, "invalid\n");
    }
    const char* other = std::string(c.name) == "sha256" ? "sha512" : "sha256";
    EXPECT_EQ(Qrsa({"verify", "-k", keys.Public1024, "--digest", other, "-s", dir.File("doc.sig")}, document).Status, kInvalid);
  }
  // A 512-bit key holds K-4 = 60 bytes: SHA-256's 51 fit, SHA-384's 67 do not.
  EXPECT_EQ(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512, "--digest", "sha256"}, document).Status, kValid);
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512, "--digest", "sha384"}, document), kFailure, "too few for the sha384");
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512, "--digest", "md5"}, document), kUsage, "sha256, sha384 or sha512");
}

TEST_F(CliSafetyTest, DecryptionIsCheckedAgainstThePublicKey) {
  const std::string cipher = Ok(Qrsa({"encrypt", "-k", keys.Public1024}, "for the 1024-bit key"));
  // Another key of the same size, and a damaged text, both decrypt to something: the check refuses.
  const std::string other = dir.File("other.dfm");
  Ok(OpenSsl({"genrsa", "-out", dir.File("other.pem"), "1024"}));
  Ok(Qrsa({"import-pem", "-i", dir.File("other.pem"), "-o", other}));
  std::string damaged = cipher;
  damaged[10] = damaged[10] == 'A' ? 'B' : 'A';
  for (const auto& [key, text] : {std::pair{other, cipher}, std::pair{keys.Key1024, damaged}}) {
    ExpectFailure(Qrsa({"decrypt", "-k", key, "-o", dir.File("plain")}, text), kFailure,
                  "not made for this key, or it is damaged");
    EXPECT_FALSE(dir.Exists("plain"));
  }
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", keys.Key1024, "-o", dir.File("plain")}, cipher)), "");
  EXPECT_EQ(dir.Read("plain"), "for the 1024-bit key");
  // Decrypted data are owner-only.
  EXPECT_EQ(std::filesystem::status(dir.File("plain")).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
  // With the private key alone the result cannot be checked, and the tool says so.
  dir.Write("private.txt", Ok(Qrsa({"show", "-k", keys.Key1024, "private"})));
  const auto unchecked = Qrsa({"decrypt", "-k", dir.File("private.txt")}, cipher);
  EXPECT_EQ(unchecked.Status, kValid);
  EXPECT_EQ(unchecked.Out, "for the 1024-bit key");
  EXPECT_NE(unchecked.Err.find("could not be checked"), std::string::npos);
}

TEST_F(CliSafetyTest, SecretOutputsGoOnlyToRegularFilesAndPrivateKeysAreNotReplaced) {
  const std::string envelope = Ok(Qrsa({"seal", "-k", keys.Public512}, "secret"));
  dir.Write("victim", "precious");
  std::filesystem::create_symlink(dir.File("victim"), dir.File("link"));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0666), 0);
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
  } secrets[] = {
      {"keygen", {"keygen", "--bits", "512", "--quiet"}, ""},
      {"open", {"open", "-k", keys.Key512}, envelope},
      {"unwrap", {"unwrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64"},
       Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64", "--key", "0011223344556677"}))},
      {"export-pem", {"export-pem", "-k", keys.Key512}, ""},
  };
  for (const auto& c : secrets)
    for (const char* target : {"link", "fifo"}) {
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"-o", dir.File(target)});
      ExpectFailure(Qrsa(args, c.input), kFailure, "refusing to write secret data");
      EXPECT_EQ(dir.Read("victim"), "precious") << c.name;
    }

  // A key file holding a private key is replaced only with --force (and never when the command reads
  // it as its key: cli_outputs_test).
  const std::string key = dir.File("key.dfm");
  std::filesystem::copy_file(keys.Key512, key);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"pubkey", "-k", keys.Key512, "-o", key}, {"keygen", "--bits", "512", "-o", key},
           {"show", "-k", keys.Key512, "bits", "-o", key}}) {
    ExpectFailure(Qrsa(args), kFailure, "holds a private key; refusing to replace it");
    EXPECT_EQ(dir.Read("key.dfm"), ReadWhole(keys.Key512));
  }
  Ok(Qrsa({"pubkey", "-k", keys.Key512, "-o", key, "--force"}));
  EXPECT_EQ(Qrsa({"show", "-k", key, "private"}).Status, kFailure);  // the private key is gone, as asked
}

TEST_F(CliSafetyTest, ASignalRemovesTheUnfinishedOutput) {
  // seal waits on a pipe that never ends; SIGTERM must leave the directory as it was. The tool is started
  // directly, so a cross build (where it runs through an emulator) leaves this check to the native run.
  if (std::getenv("QRSA_RUNNER") != nullptr) GTEST_SKIP() << "the tool runs through an emulator here";
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(input[0], STDIN_FILENO);
    close(input[1]);
    setenv("QRSA_NAMED_TEMPORARY", "1", 1);  // a temporary the directory shows (cli_outputs_test has both kinds)
    execl(QRSA_BINARY, "qrsa", "seal", "-k", keys.Public512.c_str(), "-o", dir.File("out").c_str(), "--quiet",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(input[0]);
  const std::string data(100000, 'z');
  ASSERT_EQ(write(input[1], data.data(), data.size()), ssize_t(data.size()));
  for (int i = 0; i < 200 && dir.Entries().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(dir.Entries().size(), 1u);  // the temporary beside the output
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  close(input[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(dir.Entries().empty());
}

// Keys with e below 50001 load, but the component's schemes refuse them: a signature forged from the
// public key alone (e = 3, raw data and a SHA-256 DigestInfo) does not verify, and nothing is signed,
// wrapped, encrypted or sealed. The message says what to use instead.
TEST_F(CliSafetyTest, SmallPublicExponentsAreRefusedByTheComponentSchemes) {
  const Testing::FixtureKey& fixture = GetFixtureKey(2048);
  const Rsa::BigNum n = HexToBigNum(fixture.N);
  Rsa::BigNum three{};
  three.Digits[0] = 3;
  dir.Write("e3.pub", Rsa::KeyText(three, n, 64).str() + "\n");
  Rsa::TRSA codec(nullptr);
  const std::string raw = "pay 100 to Mallory";
  const std::string document = "a document its owner never signed";
  const std::string digest = Ok(OpenSsl({"dgst", "-sha256", "-binary"}, document));

  ASSERT_EQ(OpenSsl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:512", "-pkeyopt",
                     "rsa_keygen_pubexp:3", "-out", dir.File("e3.pem")}).Status, 0);
  Ok(Qrsa({"import-pem", "-i", dir.File("e3.pem"), "-o", dir.File("e3.dfm")}));  // loading still works
  const std::string wrappedBy65537 = Ok(Qrsa({"wrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", "--key", "0011223344556677"}));
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
  } cases[] = {
      {"verify raw", {"verify", "-k", dir.File("e3.pub"), "--signature",
                      codec.EncodeString(ForgedSignature(n, 3, raw, 256)).str()}, raw},
      {"verify sha256", {"verify", "-k", dir.File("e3.pub"), "--digest", "sha256", "--signature",
                         codec.EncodeString(ForgedSignature(n, 3, Sha256InfoPrefix() + digest, 256)).str()}, document},
      {"sign", {"sign", "-k", dir.File("e3.dfm"), "--scheme", "component", "-o", dir.File("out")}, "data"},
      {"wrap", {"wrap", "-k", dir.File("e3.dfm"), "--scheme", "component", "--sym-bits", "64", "--key", "0011223344556677", "-o", dir.File("out")}, ""},
      {"unwrap", {"unwrap", "-k", dir.File("e3.dfm"), "--scheme", "component", "--sym-bits", "64", "-o", dir.File("out")}, wrappedBy65537},
      {"encrypt", {"encrypt", "-k", dir.File("e3.dfm"), "-o", dir.File("out")}, "data"},
      {"seal", {"seal", "-k", dir.File("e3.dfm"), "-o", dir.File("out")}, "data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = Qrsa(c.args, c.input);
    ExpectFailure(result, kFailure, "Public exponent not valid: the component's own schemes take an odd public exponent from 50001");
    EXPECT_NE(result.Err.find("--scheme pkcs1, pss or oaep"), std::string::npos) << result.Err;
    EXPECT_FALSE(dir.Exists("out"));
  }
}

TEST_F(CliSafetyTest, InterfaceHelpVersionFingerprintAndDer) {
  const auto version = Qrsa({"--version"});
  EXPECT_EQ(version.Status, kValid);
  EXPECT_EQ(version.Out.rfind("qrsa ", 0), 0u);
  for (const char* command : {"seal", "open", "sign", "verify", "decrypt", "show"}) {
    const std::string help = Ok(Qrsa({"help", command}));
    EXPECT_EQ(Ok(Qrsa({command, "--help"})), help);
    EXPECT_NE(help.find("Example:\n  qrsa " + std::string(command)), std::string::npos) << help;
    EXPECT_NE(help.find("  -"), std::string::npos) << help;
  }
  ExpectFailure(Qrsa({"help", "frobnicate"}), kUsage, "unknown command 'frobnicate'");
  ExpectFailure(Qrsa({"keygen", "--bits", "100"}), kUsage, "key size must be");
  // A PEM key serves as a key file directly.
  EXPECT_EQ(Ok(Qrsa({"show", "-k", keys.Pem512, "bits"})), "512\n");

  // The fingerprint agrees with OpenSSL's digest of the DER public key, as OpenSSH prints it.
  Ok(OpenSsl({"pkey", "-in", keys.Pem1024, "-pubout", "-outform", "DER", "-out", dir.File("pub.der")}));
  const std::string digest = Ok(OpenSsl({"dgst", "-sha256", "-binary", dir.File("pub.der")}));
  std::string base64 = Ok(OpenSsl({"base64", "-A"}, digest));
  while (!base64.empty() && (base64.back() == '=' || base64.back() == '\n')) base64.pop_back();
  EXPECT_EQ(Ok(Qrsa({"show", "-k", keys.Key1024, "fingerprint"})), "SHA256:" + base64 + "\n");

  // DER keys import like PEM ones, private and public.
  Ok(OpenSsl({"pkey", "-in", keys.Pem1024, "-outform", "DER", "-out", dir.File("key.der")}));
  Ok(Qrsa({"import-pem", "-i", dir.File("key.der"), "-o", dir.File("der.dfm")}));
  Ok(Qrsa({"import-pem", "-i", dir.File("pub.der"), "-o", dir.File("pubder.dfm")}));
  EXPECT_EQ(ReadWhole(dir.File("der.dfm")), ReadWhole(keys.Key1024));
  EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("pubder.dfm"), "public"})), Ok(Qrsa({"show", "-k", keys.Key1024, "public"})));
}

}  // namespace
}  // namespace Testing
