// The qrsa tool, driven as a user drives it: every command's main path, its failures and exit
// statuses, and the round trips between commands.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "support/QrsaTool.h"

namespace Testing {
namespace {

// Exit statuses of the tool.
constexpr int kValid = 0, kInvalid = 1, kUsage = 2, kFailure = 3;

class CliTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  // A command that must fail with this status and say this on standard error, with nothing on
  // standard output.
  static void ExpectFailure(const ProgramResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.Status, status) << result.Err;
    EXPECT_NE(result.Err.find("qrsa: " + message), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
};

TEST_F(CliTest, KeygenWarnsOf512BitKeysAndWritesAUsableKeyFile) {
  const std::string key = dir.File("gen.dfm");
  const auto result = Qrsa({"keygen", "--bits", "512", "--seed1", "0x1234abcd", "--seed2", "FEDCBA98765", "-o", key});
  ASSERT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "");
  // Standard error is a pipe here: the warning, and no stage lines (cli_habits_test shows them on a
  // terminal).
  EXPECT_EQ(result.Err, "qrsa: warning: 512-bit keys can be factored; use them for tests only\n");
  EXPECT_EQ(Ok(Qrsa({"show", "-k", key, "bits"})), "512\n");

  const std::string cipher = Ok(Qrsa({"encrypt", "-k", key}, AllBytes()));
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", key}, cipher)), AllBytes());
  // A key file holds a private key: readable by its owner only.
  EXPECT_EQ(std::filesystem::status(key).permissions() & std::filesystem::perms::group_read,
            std::filesystem::perms::none);
}

TEST_F(CliTest, KeygenRefusesBadSizesAndSeeds) {
  ExpectFailure(Qrsa({"keygen", "--bits", "768"}), kUsage, "key size must be 512, 1024, 2048, 3072 or 4096");
  ExpectFailure(Qrsa({"keygen", "-b", "1000"}), kUsage, "key size must be 512, 1024, 2048, 3072 or 4096, not '1000'");
  // A 512-bit key is made of 256-bit primes: seeds of up to 64 hex digits (leading zeros aside).
  ExpectFailure(Qrsa({"keygen", "--bits", "512", "--seed1", std::string(65, 'f')}), kUsage,
                "--seed1 has more than 64 hex digits");
  ExpectFailure(Qrsa({"keygen", "--bits", "512", "--seed2", "12xy"}), kUsage, "--seed2 is not a hex number");
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(CliTest, PubkeyHandsOutThePublicPartOnly) {
  const std::string pub = Ok(Qrsa({"pubkey", "-k", keys.Key512}));
  EXPECT_EQ(pub.find("PrivateKey"), std::string::npos) << pub;
  dir.Write("pub.dfm", pub);
  EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("pub.dfm"), "public"})), Ok(Qrsa({"show", "-k", keys.Key512, "public"})));
  ExpectFailure(Qrsa({"show", "-k", dir.File("pub.dfm"), "private"}), kFailure, "Private key not loaded");
  const std::string cipher = Ok(Qrsa({"encrypt", "-k", dir.File("pub.dfm")}, "for the key owner"));
  ExpectFailure(Qrsa({"decrypt", "-k", dir.File("pub.dfm")}, cipher), kFailure, "Private key not loaded");
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", keys.Key512}, cipher)), "for the key owner");
}

TEST_F(CliTest, ShowPrintsEachTextOnOneLine) {
  const std::string pub = Ok(Qrsa({"show", "-k", keys.Key1024, "public"}));
  const std::string priv = Ok(Qrsa({"show", "-k", keys.Key1024, "private"}));
  EXPECT_TRUE(std::regex_match(pub, std::regex(R"([-+0-9A-Za-z]+:[-+0-9A-Za-z]{171}\n)"))) << pub;
  EXPECT_TRUE(std::regex_match(priv, std::regex(R"([-+0-9A-Za-z]{171}:[-+0-9A-Za-z]{171}\n)"))) << priv;
  // The modulus field is shared: second in the public key, first in the private key.
  EXPECT_EQ(pub.substr(pub.find(':') + 1), priv.substr(0, priv.find(':')) + "\n");
  EXPECT_EQ(Ok(Qrsa({"show", "-k", keys.Key1024, "bits"})), "1024\n");
  ExpectFailure(Qrsa({"show", "-k", keys.Key1024, "signature"}), kFailure, "Signature not loaded");
  ExpectFailure(Qrsa({"show", "-k", keys.Key1024, "exponent"}), kUsage, "show takes public, private, signature, bits, fingerprint, ssh-fingerprint or jwk-thumbprint");
  ExpectFailure(Qrsa({"show", "-k", keys.Key1024}), kUsage, "missing argument");
}

TEST_F(CliTest, EncryptAndDecryptCarryAnyBytesThroughFilesAndStreams) {
  const std::string plain = AllBytes() + std::string(700, '\xff');  // several blocks at either size
  dir.Write("plain.bin", plain);
  for (const std::string& key : {keys.Key512, keys.Key1024}) {
    Ok(Qrsa({"encrypt", "-k", key, "-i", dir.File("plain.bin"), "-o", dir.File("cipher.txt")}));
    const std::string cipher = dir.Read("cipher.txt");
    EXPECT_TRUE(std::regex_match(cipher, std::regex(R"([-+0-9A-Za-z]+\n)")));
    EXPECT_EQ(Ok(Qrsa({"encrypt", "-k", key}, plain)), cipher) << "encryption is deterministic";
    Ok(Qrsa({"decrypt", "-k", key, "-i", dir.File("cipher.txt"), "-o", dir.File("back.bin")}));
    EXPECT_EQ(dir.Read("back.bin"), plain);
    // Trailing white space and a CRLF line end are ignored.
    const std::string text = cipher.substr(0, cipher.size() - 1);
    EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", key}, text + " \t\r\n\n")), plain);
  }
  // The empty string is a valid plaintext too.
  const std::string emptyCipher = Ok(Qrsa({"encrypt", "-k", keys.Key512}, ""));
  EXPECT_EQ(emptyCipher.size(), 86u + 1);
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", keys.Key512}, emptyCipher)), "");
}

TEST_F(CliTest, DecryptReportsTheComponentsMessages) {
  ExpectFailure(Qrsa({"decrypt", "-k", keys.Key512}, "not radix-64!"), kFailure, "String not valid");
  ExpectFailure(Qrsa({"decrypt", "-k", keys.Key512}, "abcd"), kFailure, "String has incorrect length");
  const std::string cipher = Ok(Qrsa({"encrypt", "-k", keys.Key512}, std::string(100, 'x')));
  ExpectFailure(Qrsa({"decrypt", "-k", keys.Key512}, cipher.substr(0, 100)), kFailure, "String has incorrect length");
  ExpectFailure(Qrsa({"encrypt", "-k", dir.File("missing.dfm")}, "x"), kFailure, "cannot open");
}

TEST_F(CliTest, WrapAndUnwrapEverySessionKeySize) {
  const std::string hex = "00112233445566778899aabbccddeeff0f1e2d3c4b5a69788796a5b4c3d2e1f0";
  for (const int bits : {64, 128, 192, 256}) {
    const std::string key = hex.substr(0, std::size_t(bits / 4));
    const std::string sym = std::to_string(bits);
    const std::string wrapped = Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Public1024, "--sym-bits", sym, "--key", key}));
    EXPECT_EQ(wrapped.size(), 171u + 1);
    EXPECT_EQ(Ok(Qrsa({"unwrap", "--scheme", "component", "-k", keys.Key1024, "--sym-bits", sym}, wrapped)), key + "\n") << bits;
    // The key may come from standard input instead, in either case, ending in a line break.
    const std::string fromStdin = Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", sym}, key + "\n"));
    dir.Write("wrapped.txt", fromStdin);
    EXPECT_EQ(Ok(Qrsa({"unwrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", sym, "-i", dir.File("wrapped.txt")})), key + "\n");
  }
  // Wrapping draws fresh random padding every time.
  EXPECT_NE(Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64", "--key", "0011223344556677"})),
            Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64", "--key", "0011223344556677"})));
}

TEST_F(CliTest, WrapAndUnwrapRefuseBadInput) {
  ExpectFailure(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "128", "--key", "0011"}), kUsage,
                "the session key must be 32 hex digits (16 bytes), not 4");
  ExpectFailure(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64", "--key", "00112233445566zz"}), kUsage,
                "the session key is not a hex number");
  // The same key given on standard input is an input, not an option: a failure.
  ExpectFailure(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64"}, "00112233445566zz"), kFailure,
                "the session key is not a hex number");
  ExpectFailure(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "100", "--key", "00"}), kUsage,
                "session key size must be 64, 128, 192 or 256 bits");
  ExpectFailure(Qrsa({"unwrap", "--scheme", "component", "-k", keys.Key512}, "x"), kUsage, "option --sym-bits is required");
  // A text wrapped under a 1024-bit key has the wrong length for a 512-bit one.
  const std::string wrapped = Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key1024, "--sym-bits", "64", "--key", "0011223344556677"}));
  ExpectFailure(Qrsa({"unwrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits", "64"}, wrapped), kFailure,
                "String has incorrect length");
  ExpectFailure(Qrsa({"unwrap", "--scheme", "component", "-k", keys.Public512, "--sym-bits", "64"}, wrapped), kFailure, "Private key not loaded");
}

TEST_F(CliTest, SignedDataVerifiesAndAlteredDataDoesNot) {
  const std::string data = "pay 100 to Alice";
  const std::string signature = Ok(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512}, data));
  EXPECT_TRUE(std::regex_match(signature, std::regex(R"([-+0-9A-Za-z]{86}\n)"))) << signature;
  dir.Write("sig.txt", signature);
  dir.Write("data.txt", data);

  const auto valid = Qrsa({"verify", "-k", keys.Public512, "-s", dir.File("sig.txt"), "-i", dir.File("data.txt")});
  EXPECT_EQ(valid.Status, kValid);
  EXPECT_EQ(valid.Out, "valid\n");
  EXPECT_EQ(Qrsa({"verify", "-k", keys.Public512, "--signature", signature}, data).Out, "valid\n");

  const auto altered = Qrsa({"verify", "-k", keys.Public512, "-s", dir.File("sig.txt")}, "pay 900 to Alice");
  EXPECT_EQ(altered.Status, kInvalid);
  EXPECT_EQ(altered.Out, "invalid\n");
  const auto longer = Qrsa({"verify", "-k", keys.Public512, "-s", dir.File("sig.txt")}, data + "!");
  EXPECT_EQ(longer.Status, kInvalid);
  // Only the input's bytes are compared: a prefix of the signed data verifies too (documented).
  EXPECT_EQ(Qrsa({"verify", "-k", keys.Public512, "-s", dir.File("sig.txt")}, "pay 1").Status, kValid);

  // Signing the same data again gives another signature, which verifies as well.
  const std::string again = Ok(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512, "-i", dir.File("data.txt")}));
  EXPECT_NE(again, signature);
  EXPECT_EQ(Qrsa({"verify", "-k", keys.Key512, "--signature", again}, data).Status, kValid);
}

TEST_F(CliTest, SignAndVerifyRefuseWhatTheyCannotCheck) {
  const std::string signature = Ok(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512}, "x"));
  // An empty input would match every signature.
  ExpectFailure(Qrsa({"verify", "-k", keys.Key512, "--signature", signature}, ""), kFailure, "nothing to verify");
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512}, ""), kFailure, "nothing to sign");
  // A 512-bit key signs at most 60 bytes.
  EXPECT_EQ(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512}, std::string(60, 'a')).Status, 0);
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k", keys.Key512}, std::string(61, 'a')), kFailure,
                "the input has 61 bytes; a 512-bit key signs at most 60 bytes");
  ExpectFailure(Qrsa({"verify", "-k", keys.Key512, "--signature", signature}, std::string(61, 'a')), kFailure,
                "the input has 61 bytes; a 512-bit key signs at most 60 bytes");
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k", keys.Public512}, "x"), kFailure, "Private key not loaded");
  ExpectFailure(Qrsa({"verify", "-k", keys.Key512, "--signature", signature.substr(0, 80)}, "x"), kFailure,
                "Signature has incorrect length");
  ExpectFailure(Qrsa({"verify", "-k", keys.Key512, "--signature", "bad signature"}, "x"), kFailure,
                "Signature not valid");
  ExpectFailure(Qrsa({"verify", "-k", keys.Key512}, "x"), kUsage,
                "give the signature with either -s SIGFILE or --signature TEXT");
  ExpectFailure(Qrsa({"verify", "-k", keys.Key512, "-s", "f", "--signature", signature}, "x"), kUsage,
                "give the signature with either -s SIGFILE or --signature TEXT");
}

TEST_F(CliTest, BareKeyTextsServeAsKeyFiles) {
  for (const std::string& formKey : {keys.Key512, keys.Key1024}) {
    const std::string pub = Ok(Qrsa({"show", "-k", formKey, "public"}));
    const std::string priv = Ok(Qrsa({"show", "-k", formKey, "private"}));
    dir.Write("pub.txt", pub);
    dir.Write("priv.txt", priv.substr(0, priv.size() - 1));  // no line break at all
    // The key size comes from the second field; the public text encrypts, the private one decrypts.
    EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("pub.txt"), "bits"})), Ok(Qrsa({"show", "-k", formKey, "bits"})));
    const std::string cipher = Ok(Qrsa({"encrypt", "-k", dir.File("pub.txt")}, AllBytes()));
    EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", dir.File("priv.txt")}, cipher)), AllBytes());
    const std::string signature = Ok(Qrsa({"sign", "--scheme", "component", "-k", dir.File("priv.txt")}, "bare"));
    EXPECT_EQ(Qrsa({"verify", "-k", dir.File("pub.txt"), "--signature", signature}, "bare").Status, kValid);
    ExpectFailure(Qrsa({"decrypt", "-k", dir.File("pub.txt")}, cipher), kFailure, "Private key not loaded");
  }
}

TEST_F(CliTest, MalformedKeyFilesAreRefusedClearly) {
  const struct {
    const char* content;
    const char* message;
  } cases[] = {
      {"", "is neither a key file nor a key text"},
      {"just some words\n", "is neither a key file nor a key text"},
      {"++11IE:MK7X\n", "the key text's second field has 3 bytes; a key of 512, 1024, 2048, 3072 or 4096 bits has 64, 128, 256, 384 or 512"},
      {"++11IE:MK7X!\n", "the key text is not valid"},
      {"line one:\nline two\n", "is neither a key file nor a key text"},
      {"object Form1: TForm1\n  object RSA1: TRSA\n    KeyBits = kb9999\n  end\nend\n", ""},
  };
  for (const auto& c : cases) {
    dir.Write("bad.key", c.content);
    const auto result = Qrsa({"encrypt", "-k", dir.File("bad.key")}, "x");
    EXPECT_EQ(result.Status, kFailure) << c.content;
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << result.Err;
    EXPECT_EQ(result.Err.rfind("qrsa: ", 0), 0u) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
}

TEST_F(CliTest, AFailureLeavesNoOutputFileBehind) {
  dir.Write("keep.bin", "previous content");
  ExpectFailure(Qrsa({"decrypt", "-k", keys.Key512, "-o", dir.File("out.bin")}, "!!"), kFailure, "String not valid");
  ExpectFailure(Qrsa({"decrypt", "-k", keys.Key512, "-o", dir.File("keep.bin")}, "!!"), kFailure, "String not valid");
  EXPECT_EQ(dir.Read("keep.bin"), "previous content");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.bin"});
  // Writing into a directory that does not exist fails cleanly too.
  ExpectFailure(Qrsa({"encrypt", "-k", keys.Key512, "-o", dir.File("no/such/dir/out")}, "x"), kFailure,
                "cannot create a temporary file beside");
  // A successful run replaces the file whole, even when input and output are the same file.
  dir.Write("same.bin", "encrypt me in place");
  Ok(Qrsa({"encrypt", "-k", keys.Key512, "-i", dir.File("same.bin"), "-o", dir.File("same.bin")}));
  Ok(Qrsa({"decrypt", "-k", keys.Key512, "-i", dir.File("same.bin"), "-o", dir.File("same.bin")}));
  EXPECT_EQ(dir.Read("same.bin"), "encrypt me in place");
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"keep.bin", "same.bin"}));
}

TEST_F(CliTest, OutputsThroughLinksAndPipesReachWhatTheyName) {
  // A link stays a link; the file it names receives the output.
  dir.Write("target.txt", "old");
  std::filesystem::create_symlink(dir.File("target.txt"), dir.File("link.txt"));
  Ok(Qrsa({"show", "-k", keys.Key512, "bits", "-o", dir.File("link.txt")}));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.txt")));
  EXPECT_EQ(dir.Read("target.txt"), "512\n");

  // A pipe (or a device) is written to, never replaced by a file.
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  const int reader = open(dir.File("pipe").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Ok(Qrsa({"show", "-k", keys.Key512, "bits", "-o", dir.File("pipe")}));
  char buffer[16] = {};
  EXPECT_EQ(read(reader, buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer), "512\n");
  close(reader);
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("pipe")));
}

TEST_F(CliTest, UsageErrorsShowTheCommandsUsageLine) {
  const auto none = Qrsa({});
  EXPECT_EQ(none.Status, kUsage);
  EXPECT_NE(none.Err.find("usage: qrsa COMMAND"), std::string::npos);
  ExpectFailure(Qrsa({"frobnicate"}), kUsage, "unknown command 'frobnicate'");
  const auto unknown = Qrsa({"sign", "--scheme", "component", "-k", keys.Key512, "--fast"});
  ExpectFailure(unknown, kUsage, "unknown option --fast");
  EXPECT_NE(unknown.Err.find("usage: qrsa sign -k KEYFILE [--scheme "), std::string::npos) << unknown.Err;
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k"}), kUsage, "option -k needs a value");
  ExpectFailure(Qrsa({"sign", "--scheme", "component", "-k", "a", "-k", "b"}), kUsage, "option -k given twice");
  // One word is the input file; a second is one too many.
  ExpectFailure(Qrsa({"encrypt", "-k", keys.Key512, "in", "extra"}), kUsage, "unexpected argument 'extra'");
  ExpectFailure(Qrsa({"export-pem", "-k", keys.Key512, "--public=yes"}), kUsage, "option --public takes no value");
  // --name=value is the same as --name value.
  EXPECT_EQ(Ok(Qrsa({"wrap", "--scheme", "component", "-k", keys.Key512, "--sym-bits=64", "--key=0011223344556677"})).size(), 87u);

  const auto help = Qrsa({"help"});
  EXPECT_EQ(help.Status, 0);
  for (const char* word : {"keygen", "pubkey", "show", "encrypt", "decrypt", "wrap", "unwrap", "sign", "verify",
                           "import-pem", "export-pem", "demo", "prefix"})
    EXPECT_NE(help.Out.find(word), std::string::npos) << word;
}

TEST_F(CliTest, DemoWalksThroughTheExchangeAndSucceeds) {
  const auto demo = Qrsa({"demo"});
  ASSERT_EQ(demo.Status, 0) << demo.Out << demo.Err;
  for (const char* text : {"Finding first random prime", "Idle", "Public key loaded OK", "-> valid", "-> invalid",
                           "object", "All steps passed."})
    EXPECT_NE(demo.Out.find(text), std::string::npos) << text;
  EXPECT_EQ(demo.Out.find("FAILED"), std::string::npos) << demo.Out;
}

}  // namespace
}  // namespace Testing
