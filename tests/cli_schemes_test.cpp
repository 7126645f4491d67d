// The standard schemes through the tool, against the openssl command: PKCS#1 v1.5 and PSS signatures
// and OAEP wrapping both ways at 2048 bits (and one 4096-bit case), the safe defaults (a default
// signature is what `openssl dgst -sha256 -sign` makes, a default wrap what `openssl pkeyutl` OAEP-SHA256
// decrypts, old component signatures still verify), and the refusals: each with its exit status, its
// message, and nothing written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FixtureKeys.h"
#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kValid = 0, kInvalid = 1, kUsage = 2, kFailure = 3;

// A key file of a fixture key (both halves), as keygen would write it.
std::string FixtureKeyForm(int bits) {
  const std::string size = bits < 1000 ? "0" + std::to_string(bits) : std::to_string(bits);
  return "object KeyForm: TForm\n  object RSA1: TRSA\n    KeyBits = kb" + size + "\n    PublicKey = '" +
         FixturePublicKeyText(bits).str() + "'\n    PrivateKey = '" + FixturePrivateKeyText(bits).str() +
         "'\n  end\nend\n";
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (const unsigned char c : bytes) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return hex;
}

// One key in both tools' forms: a qrsa key file, its public half, and OpenSSL's private and public PEM.
struct KeyPair {
  std::string Key, Public, Pem, PublicPem;
};

class CliSchemesTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;

  // The 2048-bit fixture key, exported for OpenSSL by the tool itself.
  KeyPair Key2048() {
    KeyPair pair{dir.File("k2048.dfm"), dir.File("k2048-public.dfm"), dir.File("k2048.pem"), dir.File("k2048-public.pem")};
    dir.Write("k2048.dfm", FixtureKeyForm(2048));
    Ok(Qrsa({"pubkey", "-k", pair.Key, "-o", pair.Public}));
    Ok(Qrsa({"export-pem", "-k", pair.Key, "-o", pair.Pem}));
    Ok(OpenSsl({"pkey", "-in", pair.Pem, "-pubout", "-out", pair.PublicPem}));
    return pair;
  }

  // The 4096-bit key as OpenSSL wrote it, imported.
  KeyPair Key4096() {
    const std::string pem = std::string(QARVEX_SOURCE_DIR) + "/tests/fixtures/rsa4096.pem";
    KeyPair pair{dir.File("k4096.dfm"), dir.File("k4096-public.dfm"), pem, dir.File("k4096-public.pem")};
    Ok(Qrsa({"import-pem", "-o", pair.Key, pem}));
    Ok(Qrsa({"pubkey", "-k", pair.Key, "-o", pair.Public}));
    Ok(OpenSsl({"pkey", "-in", pem, "-pubout", "-out", pair.PublicPem}));
    return pair;
  }

  // openssl dgst -verify with these options: true for "Verified OK".
  bool OpenSslVerifies(const KeyPair& pair, const std::string& digest, const std::vector<std::string>& sigopts,
                       const std::string& signature, const std::string& data) {
    std::vector<std::string> args = {"dgst", "-" + digest, "-verify", pair.PublicPem, "-signature", signature};
    for (const std::string& opt : sigopts) args.insert(args.end(), {"-sigopt", opt});
    args.push_back(data);
    const auto result = OpenSsl(args);
    return result.Status == 0 && result.Out.find("Verified OK") != std::string::npos;
  }

  static void ExpectRefusal(const ProgramResult& result, int status, const std::string& message) {
    EXPECT_EQ(result.Status, status) << result.Err;
    EXPECT_NE(result.Err.find("qrsa: " + message), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
};

TEST_F(CliSchemesTest, SignaturesVerifyWithOpenSslAndTheOtherWayAt2048Bits) {
  const KeyPair key = Key2048();
  const std::string data = dir.File("data");
  dir.Write("data", AllBytes() + std::string(100000, 'd'));  // longer than any block
  const struct {
    const char* name;
    std::vector<std::string> qrsa;  // options of sign and verify
    const char* digest;
    std::vector<std::string> sigopts;
  } cases[] = {
      {"default: PKCS#1 v1.5, SHA-256", {}, "sha256", {}},
      {"PKCS#1 v1.5, SHA-384", {"--scheme", "pkcs1", "--digest", "sha384"}, "sha384", {}},
      {"--digest alone means PKCS#1 v1.5", {"--digest", "sha512"}, "sha512", {}},
      {"PSS, SHA-256, salt of the digest's length", {"--scheme", "pss"}, "sha256",
       {"rsa_padding_mode:pss", "rsa_pss_saltlen:32", "rsa_mgf1_md:sha256"}},
      {"PSS, SHA-512, MGF1-SHA-256, 20-byte salt",
       {"--scheme", "pss", "--digest", "sha512", "--mgf1-digest", "sha256", "--salt-length", "20"}, "sha512",
       {"rsa_padding_mode:pss", "rsa_pss_saltlen:20", "rsa_mgf1_md:sha256"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> sign = {"sign", "-k", key.Key, "-o", dir.File("sig"), data};
    sign.insert(sign.end(), c.qrsa.begin(), c.qrsa.end());
    Ok(Qrsa(sign));
    EXPECT_EQ(dir.Read("sig").size(), 256u) << "raw k bytes";
    EXPECT_TRUE(OpenSslVerifies(key, c.digest, c.sigopts, dir.File("sig"), data));
    std::vector<std::string> verify = {"verify", "-k", key.Public, "-s", dir.File("sig")};
    verify.insert(verify.end(), c.qrsa.begin(), c.qrsa.end());
    verify.push_back(data);
    EXPECT_EQ(Ok(Qrsa(verify)), "valid\n");

    // OpenSSL signs the same way; qrsa verifies, and refuses other data.
    std::vector<std::string> args = {"dgst", std::string("-") + c.digest, "-sign", key.Pem, "-out", dir.File("osig")};
    for (const std::string& opt : c.sigopts) args.insert(args.end(), {"-sigopt", opt});
    args.push_back(data);
    Ok(OpenSsl(args));
    verify[4] = dir.File("osig");
    EXPECT_EQ(Ok(Qrsa(verify)), "valid\n");
    verify.back() = "-";
    const auto other = Qrsa(verify, "other data");
    EXPECT_EQ(other.Status, kInvalid);
    EXPECT_EQ(other.Out, "invalid\n");
  }

  // A PSS signature with the longest salt the key allows verifies with qrsa's default, any length,
  // and not with a salt length that differs.
  Ok(OpenSsl({"dgst", "-sha256", "-sign", key.Pem, "-sigopt", "rsa_padding_mode:pss", "-sigopt", "rsa_pss_saltlen:max",
              "-out", dir.File("pss"), data}));
  EXPECT_EQ(Qrsa({"verify", "-k", key.Public, "--scheme", "pss", "-s", dir.File("pss"), data}).Status, kValid);
  EXPECT_EQ(Qrsa({"verify", "-k", key.Public, "--scheme", "pss", "--salt-length", "auto", "-s", dir.File("pss"), data}).Status,
            kValid);
  EXPECT_EQ(Qrsa({"verify", "-k", key.Public, "--scheme", "pss", "--salt-length", "32", "-s", dir.File("pss"), data}).Status,
            kInvalid);
  // A PSS signature is not a PKCS#1 v1.5 one, nor the other way.
  EXPECT_EQ(Qrsa({"verify", "-k", key.Public, "-s", dir.File("pss"), data}).Status, kInvalid);
}

TEST_F(CliSchemesTest, OaepWrapsBothWaysWithOpenSslAt2048Bits) {
  const KeyPair key = Key2048();
  const std::string session = "0123456789abcdef0123456789abcdef";
  dir.Write("session.key", std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16));
  const struct {
    const char* name;
    std::vector<std::string> qrsa;
    std::vector<std::string> pkeyopts;
  } cases[] = {
      {"default: SHA-256, MGF1-SHA-256, no label", {},
       {"rsa_padding_mode:oaep", "rsa_oaep_md:sha256", "rsa_mgf1_md:sha256"}},
      {"SHA-1, as OpenSSL's own default", {"--scheme", "oaep", "--digest", "sha1"}, {"rsa_padding_mode:oaep"}},
      {"SHA-512, MGF1-SHA-1, a label", {"--digest", "sha512", "--mgf1-digest", "sha1", "--label", "0102feff"},
       {"rsa_padding_mode:oaep", "rsa_oaep_md:sha512", "rsa_mgf1_md:sha1", "rsa_oaep_label:0102feff"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // qrsa wraps (the key from --key, and raw from a file), OpenSSL unwraps.
    std::vector<std::string> wrap = {"wrap", "-k", key.Public, "--key", session, "-o", dir.File("wrapped")};
    wrap.insert(wrap.end(), c.qrsa.begin(), c.qrsa.end());
    Ok(Qrsa(wrap));
    EXPECT_EQ(dir.Read("wrapped").size(), 256u);
    std::vector<std::string> decrypt = {"pkeyutl", "-decrypt", "-inkey", key.Pem, "-in", dir.File("wrapped")};
    for (const std::string& opt : c.pkeyopts) decrypt.insert(decrypt.end(), {"-pkeyopt", opt});
    EXPECT_EQ(Hex(Ok(OpenSsl(decrypt))), session);
    wrap = {"wrap", "-k", key.Public, "-o", dir.File("wrapped"), dir.File("session.key")};
    wrap.insert(wrap.end(), c.qrsa.begin(), c.qrsa.end());
    Ok(Qrsa(wrap));
    EXPECT_EQ(Ok(OpenSsl(decrypt)), dir.Read("session.key"));

    // OpenSSL wraps, qrsa unwraps to the key's bytes (to a file, readable by its owner only).
    std::vector<std::string> encrypt = {"pkeyutl", "-encrypt", "-pubin", "-inkey", key.PublicPem, "-in",
                                        dir.File("session.key"), "-out", dir.File("owrapped")};
    for (const std::string& opt : c.pkeyopts) encrypt.insert(encrypt.end(), {"-pkeyopt", opt});
    Ok(OpenSsl(encrypt));
    std::vector<std::string> unwrap = {"unwrap", "-k", key.Key, "-o", dir.File("back.key"), dir.File("owrapped")};
    unwrap.insert(unwrap.end(), c.qrsa.begin(), c.qrsa.end());
    Ok(Qrsa(unwrap));
    EXPECT_EQ(dir.Read("back.key"), dir.Read("session.key"));
    unwrap.insert(unwrap.end(), {"--sym-bits", "128", "--force"});
    Ok(Qrsa(unwrap));  // the length --sym-bits names
  }
}

TEST_F(CliSchemesTest, DefaultsAt4096BitsMeetOpenSsl) {
  const KeyPair key = Key4096();
  dir.Write("data", "a document signed with the default scheme\n");
  Ok(Qrsa({"sign", "-k", key.Key, "-o", dir.File("sig"), dir.File("data")}));
  EXPECT_EQ(dir.Read("sig").size(), 512u);
  EXPECT_TRUE(OpenSslVerifies(key, "sha256", {}, dir.File("sig"), dir.File("data")));
  Ok(Qrsa({"wrap", "-k", key.Public, "--key", "00112233445566778899aabbccddeeff", "-o", dir.File("wrapped")}));
  EXPECT_EQ(Hex(Ok(OpenSsl({"pkeyutl", "-decrypt", "-inkey", key.Pem, "-in", dir.File("wrapped"), "-pkeyopt",
                            "rsa_padding_mode:oaep", "-pkeyopt", "rsa_oaep_md:sha256", "-pkeyopt", "rsa_mgf1_md:sha256"}))),
            "00112233445566778899aabbccddeeff");
}

// Signatures and wrapped texts of the component's scheme, made before the standard schemes became the
// default, keep working: verify recognises the text, unwrap needs --scheme component said once.
TEST_F(CliSchemesTest, ComponentTextsStillVerifyAndUnwrapWithTheOneFlag) {
  SharedKeys& keys = Keys();
  dir.Write("order", "pay 100 to Alice");
  const std::string plain = Ok(Qrsa({"sign", "-k", keys.Key1024, "--scheme", "component", dir.File("order")}));
  const std::string digested =
      Ok(Qrsa({"sign", "-k", keys.Key1024, "--scheme", "component", "--digest", "sha256", dir.File("order")}));
  dir.Write("plain.sig", plain);
  dir.Write("digested.sig", digested);
  EXPECT_EQ(Ok(Qrsa({"verify", "-k", keys.Public1024, "-s", dir.File("plain.sig"), dir.File("order")})), "valid\n");
  EXPECT_EQ(Ok(Qrsa({"verify", "-k", keys.Public1024, "--signature", plain}, "pay 100 to Alice")), "valid\n");
  EXPECT_EQ(Ok(Qrsa({"verify", "-k", keys.Public1024, "--digest", "sha256", "-s", dir.File("digested.sig"), dir.File("order")})),
            "valid\n");
  EXPECT_EQ(Qrsa({"verify", "-k", keys.Public1024, "--digest", "sha256", "-s", dir.File("digested.sig")}, "pay 900").Status,
            kInvalid);

  const std::string wrapped =
      Ok(Qrsa({"wrap", "-k", keys.Public1024, "--scheme", "component", "--sym-bits", "128", "--key",
               "00112233445566778899aabbccddeeff"}));
  dir.Write("wrapped.txt", wrapped);
  ExpectRefusal(Qrsa({"unwrap", "-k", keys.Key1024, "--sym-bits", "128", "-o", dir.File("key"), dir.File("wrapped.txt")}),
                kUsage,
                dir.File("wrapped.txt") + " holds a wrapped-key text of the component's scheme: unwrap it with --scheme "
                "component");
  EXPECT_FALSE(dir.Exists("key"));
  EXPECT_EQ(Ok(Qrsa({"unwrap", "-k", keys.Key1024, "--scheme", "component", "--sym-bits", "128", dir.File("wrapped.txt")})),
            "00112233445566778899aabbccddeeff\n");
}

// Every refusal of the standard schemes: its status, its message, and no output file.
TEST_F(CliSchemesTest, RefusalsOfTheStandardSchemes) {
  SharedKeys& keys = Keys();
  dir.Write("data", "data");
  dir.Write("empty", "");
  dir.Write("session.key", "0123456789abcdef");
  // Another key of the same size.
  Ok(OpenSsl({"genrsa", "-out", dir.File("other.pem"), "1024"}));
  Ok(Qrsa({"import-pem", "-o", dir.File("other.dfm"), dir.File("other.pem")}));
  Ok(Qrsa({"wrap", "-k", keys.Public1024, "-o", dir.File("wrapped"), dir.File("session.key")}));
  Ok(Qrsa({"wrap", "-k", keys.Public1024, "--label", "aa", "-o", dir.File("labelled"), dir.File("session.key")}));
  std::string flipped = dir.Read("wrapped");
  flipped[100] = static_cast<char>(flipped[100] ^ 1);
  dir.Write("flipped", flipped);
  dir.Write("short", dir.Read("wrapped").substr(1));
  Ok(Qrsa({"sign", "-k", keys.Key1024, "-o", dir.File("sig"), dir.File("data")}));
  dir.Write("sig-short", dir.Read("sig").substr(1));
  dir.Write("sig-long", dir.Read("sig") + '\0');
  const std::string undecryptable = "Decryption error: the wrapped key was not made for this key, or it is damaged";
  const std::string out = dir.File("out");
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      // OAEP cipher texts that do not decrypt: one message, exit 3, nothing written.
      {"another key", {"unwrap", "-k", dir.File("other.dfm"), "-o", out, dir.File("wrapped")}, kFailure, undecryptable},
      {"another key size", {"unwrap", "-k", keys.Key512, "--digest", "sha1", "-o", out, dir.File("wrapped")}, kFailure,
       dir.File("wrapped") + " has 128 bytes; an OAEP cipher text for this 512-bit key has 64"},
      {"one bit changed", {"unwrap", "-k", keys.Key1024, "-o", out, dir.File("flipped")}, kFailure, undecryptable},
      {"a byte short", {"unwrap", "-k", keys.Key1024, "-o", out, dir.File("short")}, kFailure,
       dir.File("short") + " has 127 bytes; an OAEP cipher text for this 1024-bit key has 128"},
      {"the label left out", {"unwrap", "-k", keys.Key1024, "-o", out, dir.File("labelled")}, kFailure, undecryptable},
      {"another label", {"unwrap", "-k", keys.Key1024, "--label", "ab", "-o", out, dir.File("labelled")}, kFailure,
       undecryptable},
      {"another digest", {"unwrap", "-k", keys.Key1024, "--digest", "sha384", "-o", out, dir.File("wrapped")}, kFailure,
       undecryptable},
      {"another MGF1 digest", {"unwrap", "-k", keys.Key1024, "--mgf1-digest", "sha1", "-o", out, dir.File("wrapped")},
       kFailure, undecryptable},
      {"--sym-bits that the key does not have", {"unwrap", "-k", keys.Key1024, "--sym-bits", "256", "-o", out,
                                                  dir.File("wrapped")},
       kFailure, "the unwrapped key has 16 bytes, not the 32 that --sym-bits 256 names"},
      {"wrap: --sym-bits that the key does not have", {"wrap", "-k", keys.Key1024, "--sym-bits", "64", "-o", out,
                                                        dir.File("session.key")},
       kFailure, dir.File("session.key") + " has 16 bytes, not the 8 that --sym-bits 64 names"},
      {"wrap: a key too small for the digest", {"wrap", "-k", keys.Key512, "--key", "0011", "-o", out}, kFailure,
       "Key too small"},
      {"wrap: more than OAEP takes", {"wrap", "-k", keys.Key1024, "--key", std::string(2 * 63, 'a'), "-o", out}, kFailure,
       "the session key has 63 bytes; OAEP with sha256 under a 1024-bit key wraps at most 62"},
      {"wrap: nothing", {"wrap", "-k", keys.Key1024, "-o", out, dir.File("empty")}, kFailure,
       "nothing to wrap: " + dir.File("empty") + " is empty"},
      {"sign: a key too small for the digest", {"sign", "-k", keys.Key512, "--digest", "sha512", "-o", out,
                                                dir.File("data")},
       kFailure, "Key too small"},
      // Options that do not fit the scheme, or do not parse: usage errors.
      {"--salt-length with pkcs1", {"sign", "-k", keys.Key1024, "--salt-length", "20", "-o", out, dir.File("data")},
       kUsage, "--salt-length is for --scheme pss"},
      {"--salt-length auto when signing", {"sign", "-k", keys.Key1024, "--scheme", "pss", "--salt-length", "auto", "-o",
                                           out, dir.File("data")},
       kUsage, "--salt-length must be a number of bytes, not 'auto'"},
      {"--salt-length without --scheme", {"verify", "-k", keys.Key1024, "--salt-length", "20", "-s", dir.File("sig"),
                                          dir.File("data")},
       kUsage, "--salt-length is for --scheme pss"},
      {"--mgf1-digest with the component's scheme", {"sign", "-k", keys.Key1024, "--scheme", "component",
                                                     "--mgf1-digest", "sha256", "-o", out, dir.File("data")},
       kUsage, "--mgf1-digest is for --scheme pss and --scheme oaep"},
      {"--label with the component's scheme", {"wrap", "-k", keys.Key1024, "--scheme", "component", "--sym-bits", "64",
                                               "--label", "00", "--key", "0011223344556677", "-o", out},
       kUsage, "--label is for --scheme oaep"},
      {"SHA-1 for a signature", {"sign", "-k", keys.Key1024, "--digest", "sha1", "-o", out, dir.File("data")}, kUsage,
       "--digest: the digest must be sha256, sha384 or sha512, not 'sha1'"},
      {"an unknown digest", {"unwrap", "-k", keys.Key1024, "--digest", "md5", "-o", out, dir.File("wrapped")}, kUsage,
       "--digest: the digest must be sha1, sha256, sha384 or sha512, not 'md5'"},
      {"a label that is not hex", {"wrap", "-k", keys.Key1024, "--label", "0g", "-o", out, dir.File("session.key")},
       kUsage, "--label is not a hex number"},
      {"a raw scheme on the command line", {"verify", "-k", keys.Key1024, "--scheme", "pss", "--signature", "abc",
                                            dir.File("data")},
       kUsage, "--signature takes the component's signature text; give a raw pss signature in a file with -s SIGFILE"},
      {"oaep for a signature", {"sign", "-k", keys.Key1024, "--scheme", "oaep", "-o", out, dir.File("data")}, kUsage,
       "--scheme must be pkcs1, pss or component, not 'oaep'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefusal(Qrsa(c.args), c.status, c.message);
    EXPECT_FALSE(dir.Exists("out"));
  }
  // A raw signature of any other length than k bytes does not verify: exit 1, not a failure.
  for (const char* name : {"sig-short", "sig-long"}) {
    const auto result = Qrsa({"verify", "-k", keys.Key1024, "-s", dir.File(name), dir.File("data")});
    EXPECT_EQ(result.Status, kInvalid) << name << ": " << result.Err;
    EXPECT_EQ(result.Out, "invalid\n");
  }
  EXPECT_EQ(Ok(Qrsa({"verify", "-k", keys.Key1024, "-s", dir.File("sig"), dir.File("data")})), "valid\n");
}

}  // namespace
}  // namespace Testing
