// The habits users bring from other Unix tools, and the refusals that name their fix: a positional
// input file, -b, -V, --quiet on every command, keygen's default size and its 512-bit warning, stage
// lines only for a person watching, one reader of standard input, messages that say what to do, and the
// component scheme's unwrap refusing a block that was not made for the key.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/GmpReference.h"
#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kUsage = 2, kFailure = 3;

class CliHabitsTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  // A refusal: this status, this message after "qrsa: ", nothing on standard output.
  static void ExpectRefusal(const ProgramResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.Status, status) << result.Err;
    EXPECT_NE(result.Err.find("qrsa: " + message), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
};

// Runs the tool with standard error on a pseudo-terminal and returns what appeared there.
std::string StandardErrorOnATerminal(const std::vector<std::string>& args, int& status) {
  int terminal = -1, errSide = -1;
  if (openpty(&terminal, &errSide, nullptr, nullptr, nullptr) != 0) return "openpty failed";
  const pid_t child = fork();
  if (child == 0) {
    dup2(errSide, STDERR_FILENO);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    close(terminal);
    std::vector<const char*> argv = {"qrsa"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    execv(QRSA_BINARY, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(errSide);
  std::string shown;
  char buffer[4096];
  for (;;) {
    pollfd ready{terminal, POLLIN, 0};
    if (poll(&ready, 1, 20000) <= 0) break;
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;  // the tool closed its side
    shown.append(buffer, std::size_t(got));
  }
  close(terminal);
  waitpid(child, &status, 0);
  return shown;
}

TEST_F(CliHabitsTest, APositionalWordIsTheInputFileWhereverDashITakesOne) {
  dir.Write("data", "positional input\n");
  const std::string data = dir.File("data");
  // Each pair gives the same result with -i FILE and with FILE (encrypt is deterministic).
  const std::vector<std::vector<std::string>> commands = {
      {"encrypt", "-k", keys.Key512},
      {"import-pem"},
  };
  for (auto args : commands) {
    auto withOption = args;
    withOption.insert(withOption.end(), {"-i", args[0] == "import-pem" ? keys.Pem512 : data});
    args.push_back(args[0] == "import-pem" ? keys.Pem512 : data);
    EXPECT_EQ(Ok(Qrsa(args)), Ok(Qrsa(withOption))) << args[0];
  }
  // Round trips through positional inputs.
  Ok(Qrsa({"seal", "-k", keys.Public512, "-o", dir.File("data.qenv"), data}));
  EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key512, dir.File("data.qenv")})), "positional input\n");
  dir.Write("cipher", Ok(Qrsa({"encrypt", "-k", keys.Key512, data})));
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", keys.Key512, dir.File("cipher")})), "positional input\n");
  Ok(Qrsa({"sign", "-k", keys.Key512, "-o", dir.File("data.sig"), data}));
  EXPECT_EQ(Ok(Qrsa({"verify", "-k", keys.Public512, "-s", dir.File("data.sig"), data})), "valid\n");
  dir.Write("key.hex", "0011223344556677\n");
  dir.Write("wrapped", Ok(Qrsa({"wrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", dir.File("key.hex")})));
  EXPECT_EQ(Ok(Qrsa({"unwrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", dir.File("wrapped")})),
            "0011223344556677\n");

  // A second word, or a word beside -i, is a usage error that names it.
  ExpectRefusal(Qrsa({"sign", "-k", keys.Key512, data, "other"}), kUsage,
                "unexpected argument 'other' (the input file is already '" + data + "')");
  ExpectRefusal(Qrsa({"encrypt", "-k", keys.Key512, "-i", data, "other"}), kUsage,
                "the input is given twice: with -i " + data + " and as 'other'");
  // Commands without an input take no word at all.
  ExpectRefusal(Qrsa({"pubkey", "-k", keys.Key512, "extra"}), kUsage, "unexpected argument 'extra'");
}

TEST_F(CliHabitsTest, ShortOptionsVersionAndQuietEverywhere) {
  // -b is --bits, and counts as the same option.
  Ok(Qrsa({"keygen", "-b", "512", "--quiet", "-o", dir.File("b.dfm")}));
  EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("b.dfm"), "bits"})), "512\n");
  ExpectRefusal(Qrsa({"keygen", "-b", "512", "--bits", "512"}), kUsage, "option --bits given twice");
  // -V is --version.
  const std::string version = Ok(Qrsa({"--version"}));
  EXPECT_EQ(version.rfind("qrsa ", 0), 0u);
  EXPECT_EQ(Ok(Qrsa({"-V"})), version);

  // Every command accepts --quiet.
  dir.Write("data", "x");
  dir.Write("sig", Ok(Qrsa({"sign", "-k", keys.Key512, "--scheme", "component", "-i", dir.File("data")})));
  dir.Write("wrapped", Ok(Qrsa({"wrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", "--key",
                                "0011223344556677"})));
  dir.Write("cipher", Ok(Qrsa({"encrypt", "-k", keys.Key512, "-i", dir.File("data")})));
  const std::vector<std::vector<std::string>> lines = {
      {"seal", "-k", keys.Key512, "-o", dir.File("envelope"), dir.File("data")},
      {"open", "-k", keys.Key512, dir.File("envelope")},
      {"keygen", "-b", "512", "-o", dir.File("quiet.dfm")},
      {"pubkey", "-k", keys.Key512},
      {"show", "-k", keys.Key512, "bits"},
      {"encrypt", "-k", keys.Key512, dir.File("data")},
      {"decrypt", "-k", keys.Key512, dir.File("cipher")},
      {"wrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", "--key", "0011223344556677"},
      {"unwrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", dir.File("wrapped")},
      {"sign", "-k", keys.Key512, "--scheme", "component", dir.File("data")},
      {"verify", "-k", keys.Key512, "-s", dir.File("sig"), dir.File("data")},
      {"import-pem", keys.Pem512},
      {"export-pem", "-k", keys.Key512, "--public"},
  };
  for (auto args : lines) {
    args.push_back("--quiet");
    const auto result = Qrsa(args);
    EXPECT_EQ(result.Status, 0) << args[0] << ": " << result.Err;
    EXPECT_EQ(result.Err, "") << args[0];
  }
  // --quiet also silences decrypt's note that a bare private key cannot check its result.
  dir.Write("private.txt", Ok(Qrsa({"show", "-k", keys.Key512, "private"})));
  EXPECT_NE(Qrsa({"decrypt", "-k", dir.File("private.txt"), dir.File("cipher")}).Err.find("could not be checked"),
            std::string::npos);
  EXPECT_EQ(Qrsa({"decrypt", "-k", dir.File("private.txt"), "--quiet", dir.File("cipher")}).Err, "");
}

// The stage lines and the warning are for a person at a terminal: shown there, gone with --quiet.
TEST_F(CliHabitsTest, KeygenStageLinesOnATerminalOnly) {
  if (std::getenv("QRSA_RUNNER") != nullptr) GTEST_SKIP() << "the tool runs through an emulator here";
  int status = -1;
  const std::string shown = StandardErrorOnATerminal({"keygen", "-b", "512", "-o", dir.File("tty.dfm")}, status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  const std::regex stages(
      R"(qrsa: warning: 512-bit keys can be factored; use them for tests only\r\n)"
      R"(\[ *[0-9]+\.[0-9]{2}s\] Finding first random prime\r\n\[ *[0-9.]+s\] Finding second random prime\r\n)"
      R"(\[ *[0-9.]+s\] Calculating keys\r\n\[ *[0-9.]+s\] Idle\r\n)");
  EXPECT_TRUE(std::regex_match(shown, stages)) << shown;
  EXPECT_EQ(StandardErrorOnATerminal({"keygen", "-b", "512", "--quiet", "--force", "-o", dir.File("tty.dfm")}, status), "");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The refusals whose message names the fix: each with its status, its message, and no output file.
TEST_F(CliHabitsTest, RefusalsNameTheirFixAndWriteNothing) {
  dir.Write("public.dfm", Ok(Qrsa({"pubkey", "-k", keys.Key512})));
  Ok(Qrsa({"keygen", "-b", "512", "--quiet", "-o", dir.File("fresh.dfm")}));
  Ok(Qrsa({"seal", "-k", keys.Public512, "-o", dir.File("data.qenv")}, "sealed"));
  const std::string out = dir.File("out");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string message;
  } cases[] = {
      {"export-pem of a public key file", {"export-pem", "-k", dir.File("public.dfm"), "-o", out}, "", kFailure,
       dir.File("public.dfm") + " holds no private key, only the public one: export that with --public"},
      {"unwrap of an envelope", {"unwrap", "-k", keys.Key512, "--scheme", "component", "--sym-bits", "64", "-i",
                                 dir.File("data.qenv"), "-o", out}, "", kFailure,
       dir.File("data.qenv") + " is a sealed envelope, not a wrapped key: open it with 'qrsa open'"},
      {"key and input both standard input", {"encrypt", "-k", "-", "-i", "-", "-o", out}, "x", kUsage,
       "standard input can be read only once, but both -k and -i read it; name a file for one of them"},
      {"key and input both standard input, -i left out", {"sign", "-k", "-", "-o", out}, "x", kUsage,
       "standard input can be read only once, but both -k and -i read it; name a file for one of them"},
      {"key, signature and input", {"verify", "-k", "-", "-s", "-"}, "x", kUsage,
       "standard input can be read only once, but -k, -s and -i all read it; name files for all of them but one"},
      {"a signature from a key file keygen wrote", {"show", "-k", dir.File("fresh.dfm"), "signature", "-o", out}, "",
       kFailure, "Signature not loaded: " + dir.File("fresh.dfm") + " holds no signature text; the key files that keygen, "
       "pubkey and import-pem write never hold one"},
      {"signing with a public key", {"sign", "-k", dir.File("public.dfm"), "-o", out}, "x", kFailure,
       "Private key not loaded: " + dir.File("public.dfm") + " holds no private key; sign needs the key file with the "
       "private key"},
      {"a signature text of another key size", {"verify", "-k", keys.Key1024, "--scheme", "component", "--signature",
                                                 "abcd"}, "x", kFailure,
       "Signature has incorrect length: the --signature text is not a signature text for this 1024-bit key (171 "
       "radix-64 characters"},
      {"a wrapped key of another size", {"unwrap", "-k", keys.Key1024, "--scheme", "component", "--sym-bits", "64",
                                          "-o", out}, "abcd", kFailure,
       "String has incorrect length: standard input is not a wrapped-key text for this 1024-bit key (171 radix-64 "
       "characters, as wrap --scheme component writes it)"},
      {"a cipher text with a stray character", {"decrypt", "-k", keys.Key512, "-o", out}, "ab!d", kFailure,
       "String not valid: standard input is not a cipher text of 'qrsa encrypt' for this 512-bit key"},
      {"an unknown scheme", {"sign", "-k", keys.Key512, "--scheme", "rsa", "-o", out}, "x", kUsage,
       "--scheme must be "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefusal(Qrsa(c.args, c.input), c.status, c.message);
    EXPECT_FALSE(dir.Exists("out"));
  }
}

// A text wrapped for another key, or damaged, gives a block whose top byte is almost never zero:
// unwrap --scheme component refuses it. The texts are fixed, made from the fixture keys, and the
// blocks they give are worked out with GMP, so each case is known to hit a nonzero top byte.
TEST_F(CliHabitsTest, ComponentUnwrapRefusesABlockWithANonzeroTopByte) {
  const FixtureKey& a = GetFixtureKey(512, 0);
  const FixtureKey& b = GetFixtureKey(512, 1);
  dir.Write("a-public.txt", FixturePublicKeyText(512, 0).str() + "\n");
  dir.Write("a-private.txt", FixturePrivateKeyText(512, 0).str() + "\n");
  dir.Write("b-private.txt", FixturePrivateKeyText(512, 1).str() + "\n");
  // The block EncryptKey would make: the key bytes, filler, a zero top byte; wrapped for key a.
  const std::string block = std::string("\x01\x23\x45\x67\x89\xab\xcd\xef", 8) + std::string(55, '\x5a') + '\0';
  const std::string wrapped = GmpModPowLE(block, a.E, a.N, 64);
  std::string damaged = wrapped;
  damaged[20] = static_cast<char>(damaged[20] ^ 0x10);
  const struct {
    const char* name;
    std::string key;
    std::string cipher;
    const char* d;
    const char* n;
  } cases[] = {{"made for another key", "b-private.txt", wrapped, b.D, b.N},
               {"one bit changed", "a-private.txt", damaged, a.D, a.N}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(GmpModPowLE(c.cipher, c.d, c.n, 64)[63], '\0') << "the case must hit a nonzero top byte";
    const std::string text = Rsa::Radix64Encode(c.cipher).str() + "\n";
    ExpectRefusal(Qrsa({"unwrap", "-k", dir.File(c.key), "--scheme", "component", "--sym-bits", "64", "-o",
                        dir.File("key.hex")}, text),
                  kFailure, "the wrapped key was not made for this key, or it is damaged\n");
    EXPECT_FALSE(dir.Exists("key.hex"));
    // To standard output as well: nothing comes out.
    ExpectRefusal(Qrsa({"unwrap", "-k", dir.File(c.key), "--scheme", "component", "--sym-bits", "64"}, text),
                  kFailure, "the wrapped key was not made for this key, or it is damaged\n");
  }
  // The intact text under its own key unwraps to the key bytes.
  EXPECT_EQ(Ok(Qrsa({"unwrap", "-k", dir.File("a-private.txt"), "--scheme", "component", "--sym-bits", "64"},
                    Rsa::Radix64Encode(wrapped).str() + "\n")),
            "0123456789abcdef\n");
  // The help says what the check does not catch.
  const std::string help = Ok(Qrsa({"help", "unwrap"}));
  for (const char* words : {"only OAEP detects every change", "A wrong --sym-bits cannot be detected",
                            "never unwrap texts an attacker chooses"})
    EXPECT_NE(help.find(words), std::string::npos) << words;
}

}  // namespace
}  // namespace Testing
