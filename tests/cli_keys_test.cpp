// Keys in the formats other tools write, read directly as -k: PEM and DER from openssl, OpenSSH keys
// from ssh-keygen (plain and encrypted), JWKs; passphrases; and the refusal of every broken key.
#include <gmp.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/FixtureKeys.h"
#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kFailure = 3;
// Debian's interpreter, for which the build's dependencies install the cryptography package (another
// python3 earlier on PATH may lack it).
constexpr const char* kPython = "/usr/bin/python3";

// A GMP number with value semantics, enough for building test keys.
class Num {
 public:
  Num() { mpz_init(FV); }
  explicit Num(const std::string& hex) { mpz_init_set_str(FV, hex.c_str(), 16); }
  Num(const Num& o) { mpz_init_set(FV, o.FV); }
  Num& operator=(const Num& o) {
    mpz_set(FV, o.FV);
    return *this;
  }
  ~Num() { mpz_clear(FV); }
  mpz_ptr v() { return FV; }
  mpz_srcptr v() const { return FV; }
  // Big-endian magnitude.
  std::string Bytes() const {
    std::string out((mpz_sizeinbase(FV, 2) + 7) / 8, '\0');
    std::size_t count = 0;
    mpz_export(out.data(), &count, 1, 1, 1, 0, FV);
    out.resize(count);
    return out;
  }

 private:
  mpz_t FV;
};

Num Op(std::function<void(mpz_ptr)> f) {
  Num r;
  f(r.v());
  return r;
}

// The numbers of a key, all of them.
struct Numbers {
  Num n, e, d, p, q, dp, dq, qi;
};

Numbers FixtureNumbers(int bits) {
  const FixtureKey& key = GetFixtureKey(bits);
  Numbers k;
  k.n = Num(key.N);
  k.e = Num(key.E);
  k.d = Num(key.D);
  Rsa::BigNum p{}, q{};
  EXPECT_TRUE(Rsa::RecoverPrimeFactors(HexToBigNum(key.E), HexToBigNum(key.D), HexToBigNum(key.N), p, q));
  std::string hp, hq;
  static const char* digits = "0123456789abcdef";
  for (int i = int(Rsa::BigNumDigits); i-- > 0;)
    for (int s = 28; s >= 0; s -= 4) {
      hp += digits[(p.Digits[i] >> s) & 15];
      hq += digits[(q.Digits[i] >> s) & 15];
    }
  k.p = Num(hp);
  k.q = Num(hq);
  k.dp = Op([&](mpz_ptr r) {
    mpz_sub_ui(r, k.p.v(), 1);
    mpz_mod(r, k.d.v(), r);
  });
  k.dq = Op([&](mpz_ptr r) {
    mpz_sub_ui(r, k.q.v(), 1);
    mpz_mod(r, k.d.v(), r);
  });
  k.qi = Op([&](mpz_ptr r) { mpz_invert(r, k.q.v(), k.p.v()); });
  return k;
}

std::string Base64Url(const std::string& bytes) {
  std::string b = Ok(OpenSsl({"base64", "-A"}, bytes));
  for (char& c : b) c = c == '+' ? '-' : c == '/' ? '_' : c;
  while (!b.empty() && (b.back() == '=' || b.back() == '\n')) b.pop_back();
  return b;
}

std::string Jwk(const Numbers& k, bool priv, bool crt) {
  std::string j = "{\"kty\":\"RSA\",\"n\":\"" + Base64Url(k.n.Bytes()) + "\",\"e\":\"" + Base64Url(k.e.Bytes()) + "\"";
  if (priv) j += ",\"d\":\"" + Base64Url(k.d.Bytes()) + "\"";
  if (crt)
    for (const auto& [name, value] : std::vector<std::pair<const char*, const Num*>>{
             {"p", &k.p}, {"q", &k.q}, {"dp", &k.dp}, {"dq", &k.dq}, {"qi", &k.qi}})
      j += std::string(",\"") + name + "\":\"" + Base64Url(value->Bytes()) + "\"";
  return j + "}";
}

// DER: tag, length, content; INTEGERs from raw two's-complement content bytes.
std::string Der(unsigned char tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  if (content.size() < 0x80) {
    out += static_cast<char>(content.size());
  } else {
    std::string len;
    for (std::size_t v = content.size(); v; v >>= 8) len.insert(len.begin(), static_cast<char>(v & 0xff));
    out += static_cast<char>(0x80 | len.size());
    out += len;
  }
  return out + content;
}
std::string Int(const Num& x) {
  std::string b = x.Bytes();
  if (b.empty() || (static_cast<unsigned char>(b[0]) & 0x80)) b.insert(b.begin(), '\0');
  return Der(0x02, b);
}
std::string RawInt(const std::string& content) { return Der(0x02, content); }

// PKCS#1 RSAPrivateKey with the given INTEGER elements (n, e, d, p, q, dp, dq, qi).
std::string Pkcs1(const std::vector<std::string>& ints) {
  std::string body = RawInt(std::string(1, '\0'));
  for (const std::string& i : ints) body += i;
  return Der(0x30, body);
}
std::string Pkcs1(const Numbers& k) {
  return Pkcs1({Int(k.n), Int(k.e), Int(k.d), Int(k.p), Int(k.q), Int(k.dp), Int(k.dq), Int(k.qi)});
}

class CliKeysTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  std::string Fingerprint(const std::string& key, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"show", "-k", key, "fingerprint"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Ok(Qrsa(args));
  }

  // The tool under `env NAME=VALUE` without a controlling terminal (setsid), as in CI.
  ProgramResult QrsaDetached(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), QRSA_BINARY);
    const auto runner = QrsaRunner();
    args.insert(args.begin(), runner.begin(), runner.end());
    args.insert(args.begin(), env.begin(), env.end());
    args.insert(args.begin(), {"setsid", "-w", "env"});
    return RunProgram(args);
  }
};

TEST_F(CliKeysTest, EveryOpenSslFormatOfOneKeyReadsAsTheSameKey) {
  const std::string pem = keys.Pem1024;
  const std::string expected = Fingerprint(keys.Key1024);
  const std::string expectedPrivate = Ok(Qrsa({"show", "-k", keys.Key1024, "private"}));
  dir.Write("pw", "pass phrase\nsecond line ignored\n");
  const struct {
    const char* name;
    std::vector<std::string> openssl;
    bool priv, encrypted;
  } cases[] = {
      {"pkcs8.pem", {"pkey", "-in", pem}, true, false},
      {"pkcs1.pem", {"rsa", "-in", pem, "-traditional"}, true, false},
      {"spki.pem", {"pkey", "-in", pem, "-pubout"}, false, false},
      {"rsapub.pem", {"rsa", "-in", pem, "-RSAPublicKey_out"}, false, false},
      {"pkcs8.der", {"pkey", "-in", pem, "-outform", "DER"}, true, false},
      {"pkcs1.der", {"rsa", "-in", pem, "-outform", "DER", "-traditional"}, true, false},
      {"spki.der", {"pkey", "-in", pem, "-pubout", "-outform", "DER"}, false, false},
      {"pbes2.pem", {"pkcs8", "-topk8", "-in", pem, "-v2", "aes-256-cbc", "-passout", "file:PW"}, true, true},
      {"pbes2-128.pem", {"pkcs8", "-topk8", "-in", pem, "-v2", "aes-128-cbc", "-passout", "file:PW"}, true, true},
      {"scrypt.pem", {"pkcs8", "-topk8", "-in", pem, "-scrypt", "-scrypt_N", "1024", "-passout", "file:PW"}, true, true},
      {"pbes2.der", {"pkcs8", "-topk8", "-in", pem, "-v2", "aes-256-cbc", "-outform", "DER", "-passout", "file:PW"}, true, true},
      {"traditional.pem", {"rsa", "-in", pem, "-traditional", "-aes256", "-passout", "file:PW"}, true, true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.openssl;
    for (std::string& a : args)
      if (a == "file:PW") a = "file:" + dir.File("pw");
    args.insert(args.end(), {"-out", dir.File(c.name)});
    Ok(OpenSsl(args));
    const std::string key = dir.File(c.name);
    std::vector<std::string> pass;
    if (c.encrypted) pass = {"--passphrase-file", dir.File("pw")};
    EXPECT_EQ(Fingerprint(key, pass), expected) << c.name;
    if (c.priv) {
      std::vector<std::string> args2 = {"show", "-k", key, "private"};
      args2.insert(args2.end(), pass.begin(), pass.end());
      EXPECT_EQ(Ok(Qrsa(args2)), expectedPrivate) << c.name;
    }
    if (c.encrypted) {
      // Without a passphrase and without a terminal: at once, with the exact message.
      auto result = QrsaDetached({"show", "-k", key, "bits"});
      EXPECT_EQ(result.Status, kFailure) << c.name;
      EXPECT_EQ(result.Err, "qrsa: " + key + " is encrypted: give --passphrase-file or --passphrase-env\n");
      result = QrsaDetached({"show", "-k", key, "bits", "--passphrase-env", "QRSA_PW"}, {"QRSA_PW=wrong"});
      EXPECT_EQ(result.Status, kFailure) << c.name;
      EXPECT_EQ(result.Err, "qrsa: wrong passphrase for " + key + ", or the key is damaged\n") << c.name;
      result = QrsaDetached({"show", "-k", key, "bits", "--passphrase-env", "QRSA_PW"}, {"QRSA_PW=pass phrase"});
      EXPECT_EQ(result.Out, "1024\n") << c.name << result.Err;
    }
  }
}

TEST_F(CliKeysTest, SshKeygenKeysReadAsTheSameKey) {
  // Fixture PEM keys of 3072 and 4096 bits and OpenSSL's 1024-bit key, converted by ssh-keygen.
  const std::string fixtures = std::string(QARVEX_SOURCE_DIR) + "/tests/fixtures/";
  dir.Write("pw", "ssh pass\n");
  const struct {
    const char* name;
    std::string pem;
    const char* cipher;  // empty: not encrypted
    const char* rounds;
  } cases[] = {
      {"id1024", keys.Pem1024, "", ""},
      {"id1024-ctr", keys.Pem1024, "aes256-ctr", "1"},
      {"id1024-gcm", keys.Pem1024, "aes256-gcm@openssh.com", "2"},
      {"id1024-cbc", keys.Pem1024, "aes128-cbc", "1"},
      {"id1024-192", keys.Pem1024, "aes192-ctr", "3"},
      {"id3072", fixtures + "rsa3072.pem", "aes256-ctr", "1"},
      {"id4096", fixtures + "rsa4096.pem", "", ""},
  };
  for (const auto& c : cases) {
    const std::string key = dir.File(c.name);
    Ok(RunProgram({"cp", c.pem, key}));
    Ok(RunProgram({"chmod", "600", key}));
    const std::string expected = Fingerprint(key);  // the PEM itself
    if (*c.cipher)
      Ok(RunProgram({"ssh-keygen", "-q", "-p", "-P", "", "-N", "ssh pass", "-Z", c.cipher, "-a", c.rounds, "-f", key}));
    else
      Ok(RunProgram({"ssh-keygen", "-q", "-p", "-P", "", "-N", "", "-f", key}));
    ASSERT_NE(dir.Read(c.name).find("BEGIN OPENSSH PRIVATE KEY"), std::string::npos) << c.name;
    std::vector<std::string> pass;
    if (*c.cipher) pass = {"--passphrase-file", dir.File("pw")};
    EXPECT_EQ(Fingerprint(key, pass), expected) << c.name;
    // The public line and its RFC 4716 form.
    dir.Write(std::string(c.name) + ".pub", Ok(RunProgram({"ssh-keygen", "-y", "-P", "ssh pass", "-f", key})));
    EXPECT_EQ(Fingerprint(key + ".pub"), expected) << c.name;
    dir.Write(std::string(c.name) + ".rfc", Ok(RunProgram({"ssh-keygen", "-e", "-f", key + ".pub"})));
    EXPECT_EQ(Fingerprint(key + ".rfc"), expected) << c.name;
    if (*c.cipher) {
      dir.Write("wrong", "not it\n");
      const auto result = Qrsa({"show", "-k", key, "bits", "--passphrase-file", dir.File("wrong")});
      EXPECT_EQ(result.Status, kFailure);
      EXPECT_EQ(result.Err, "qrsa: wrong passphrase for " + key + ", or the key is damaged\n");
    }
  }
}

TEST_F(CliKeysTest, JwksReadAsTheKeyTheyHold) {
  for (const int bits : {512, 2048}) {
    const Numbers k = FixtureNumbers(bits);
    dir.Write("full.jwk", Jwk(k, true, true));
    dir.Write("d-only.jwk", Jwk(k, true, false));
    dir.Write("public.jwk", Jwk(k, false, false));
    dir.Write("set.jwk", "{\"keys\":[" + Jwk(k, false, false) + "]}");
    const std::string expected = Ok(Qrsa({"show", "-k", dir.File("full.jwk"), "fingerprint"}));
    for (const char* name : {"d-only.jwk", "public.jwk", "set.jwk"})
      EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File(name), "fingerprint"})), expected) << name;
    const std::string priv = Ok(Qrsa({"show", "-k", dir.File("d-only.jwk"), "private"}));
    EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("full.jwk"), "private"})), priv);
    const std::string cipher = Ok(Qrsa({"encrypt", "-k", dir.File("public.jwk")}, AllBytes()));
    EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", dir.File("d-only.jwk")}, cipher)), AllBytes()) << bits;
  }
}

// Each broken key is refused (exit 3, the reason, no output file); each accepted one satisfies
// x^(e*d) = x mod n, shown by a decryption that gives back what was encrypted.
TEST_F(CliKeysTest, BrokenKeysAreRefusedAndAcceptedOnesWork) {
  const Numbers k = FixtureNumbers(512);
  const Numbers other = FixtureNumbers(1024);
  auto with = [&](std::function<void(Numbers&)> change) {
    Numbers m = k;
    change(m);
    return m;
  };
  const Num lambda = Op([&](mpz_ptr r) {
    Num p1 = Op([&](mpz_ptr t) { mpz_sub_ui(t, k.p.v(), 1); });
    Num q1 = Op([&](mpz_ptr t) { mpz_sub_ui(t, k.q.v(), 1); });
    mpz_lcm(r, p1.v(), q1.v());
  });
  const Num smallFactorN = Op([&](mpz_ptr r) {
    mpz_sub_ui(r, k.n.v(), mpz_fdiv_ui(k.n.v(), 3));
    if (mpz_even_p(r)) mpz_sub_ui(r, r, 3);
  });
  const std::string pem = Ok(OpenSsl({"pkey", "-in", keys.Pem512}));
  const std::string pem2 = Ok(OpenSsl({"pkey", "-in", keys.Pem1024, "-pubout"}));
  const std::string n = Int(k.n), e = Int(k.e), d = Int(k.d), p = Int(k.p), q = Int(k.q), dp = Int(k.dp),
                    dq = Int(k.dq), qi = Int(k.qi);
  const struct {
    const char* name;
    std::string content;
    const char* message;  // empty: accepted
  } cases[] = {
      {"sound PKCS#1 DER", Pkcs1(k), ""},
      {"sound JWK", Jwk(k, true, true), ""},
      {"sound JWK, d only", Jwk(k, true, false), ""},
      {"the word ENCRYPTED before the PEM", "Not ENCRYPTED at all\n" + pem, ""},
      {"d with a bit flipped", Jwk(with([](Numbers& m) { mpz_combit(m.d.v(), 5); }), true, false),
       "does not belong to the modulus n"},
      {"d with a bit flipped, factors given", Jwk(with([](Numbers& m) { mpz_combit(m.d.v(), 5); }), true, true),
       "does not belong to the modulus n"},
      {"d + lambda*2^100", Jwk(with([&](Numbers& m) {
         Num big = Op([&](mpz_ptr r) { mpz_mul_2exp(r, lambda.v(), 100); });
         mpz_add(m.d.v(), m.d.v(), big.v());
       }), true, false),
       "d is not below n"},
      {"n of another key", Jwk(with([&](Numbers& m) { m.n = other.n; }), true, false), "does not belong"},
      {"d = 1", Jwk(with([](Numbers& m) { mpz_set_ui(m.d.v(), 1); }), true, false), "does not belong"},
      {"d = n", Jwk(with([](Numbers& m) { m.d = m.n; }), true, false), "d is not below n"},
      {"d = 0", Pkcs1({n, e, RawInt(std::string(1, '\0')), p, q, dp, dq, qi}), "the private exponent d is 0"},
      {"even n", Jwk(with([](Numbers& m) { mpz_add_ui(m.n.v(), m.n.v(), 1); }), false, false), "the modulus n is even"},
      {"n with a small factor", Jwk(with([&](Numbers& m) { m.n = smallFactorN; }), false, false), "small prime factor"},
      {"e = 0", Jwk(with([](Numbers& m) { mpz_set_ui(m.e.v(), 0); }), false, false), "member \"e\" is empty"},
      {"e = 0 in DER", Pkcs1({n, RawInt(std::string(1, '\0')), d, p, q, dp, dq, qi}), "must be at least 3"},
      {"e = 1", Jwk(with([](Numbers& m) { mpz_set_ui(m.e.v(), 1); }), false, false), "must be at least 3"},
      {"e = 2", Jwk(with([](Numbers& m) { mpz_set_ui(m.e.v(), 2); }), false, false), "must be at least 3"},
      {"e = 65536", Jwk(with([](Numbers& m) { mpz_set_ui(m.e.v(), 65536); }), false, false), "e is even"},
      {"e even, private", Jwk(with([](Numbers& m) { mpz_set_ui(m.e.v(), 65536); }), true, false), "e is even"},
      {"e = n", Jwk(with([](Numbers& m) { m.e = m.n; }), false, false), "e is not below n"},
      {"negative e", Pkcs1({n, RawInt("\xfe\xff\xff"), d, p, q, dp, dq, qi}), "holds a negative INTEGER"},
      {"zero-length n", Pkcs1({RawInt(""), e, d, p, q, dp, dq, qi}), "holds a zero-length INTEGER"},
      {"CRT value wrong", Jwk(with([](Numbers& m) { mpz_add_ui(m.dp.v(), m.dp.v(), 2); }), true, true),
       "CRT values do not match"},
      {"factors that do not multiply to n", Jwk(with([&](Numbers& m) { m.p = other.p; }), true, true),
       "do not multiply to n"},
      {"two PEM keys", pem + pem2, "holds 2 PEM blocks (PRIVATE KEY, PUBLIC KEY)"},
      {"a JWK Set of two keys", "{\"keys\":[" + Jwk(k, false, false) + "," + Jwk(other, false, false) + "]}",
       "holds 2 keys (RSA, RSA)"},
      {"bad JSON", "{\"kty\":\"RSA\",", "is not valid JSON"},
      {"JWK without e", "{\"kty\":\"RSA\",\"n\":\"" + Base64Url(k.n.Bytes()) + "\"}", "has no member \"e\""},
      {"JWK member not base64url", "{\"kty\":\"RSA\",\"n\":\"ab+/\",\"e\":\"AQAB\"}", "\"n\" is not base64url"},
      {"JWK member padded", "{\"kty\":\"RSA\",\"n\":\"" + Base64Url(k.n.Bytes()) + "\",\"e\":\"AQAB=\"}",
       "\"e\" is not base64url"},
      {"JWK of type EC", "{\"kty\":\"EC\",\"crv\":\"P-256\",\"x\":\"AA\",\"y\":\"AA\"}", "is of type EC, not an RSA key"},
      {"truncated PEM", pem.substr(0, pem.size() / 2), "is damaged or truncated"},
      {"truncated DER", Pkcs1(k).substr(0, 100), "neither a key file"},
      {"DER with bytes after it", Pkcs1(k) + "\x30\x00", "neither a key file"},
      {"Ed25519 public line", "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIGJ4dGVzdGtleWJ5dGVzYnl0ZXNieXRlc2J5dGVzYnk= x\n",
       "of type ssh-ed25519, not an RSA key"},
      {"damaged public line", "ssh-rsa AAAAB3NzaC1yc2EAAAADAQAB\n", "is damaged or truncated"},
  };
  for (const auto& c : cases) {
    dir.Write("key", c.content);
    const std::string out = dir.File("out.dfm");
    const auto result = Qrsa({"import", "-i", dir.File("key"), "-o", out});
    const std::string message = c.message;
    if (message.empty()) {
      ASSERT_EQ(result.Status, 0) << c.name << ": " << result.Err;
      const std::string cipher = Ok(Qrsa({"encrypt", "-k", out}, AllBytes()));
      EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", out}, cipher)), AllBytes()) << c.name;
      RunProgram({"rm", "-f", out});
    } else {
      EXPECT_EQ(result.Status, kFailure) << c.name;
      EXPECT_NE(result.Err.find(message), std::string::npos) << c.name << ": " << result.Err;
      EXPECT_EQ(result.Err.rfind("qrsa: ", 0), 0u) << result.Err;
      EXPECT_FALSE(dir.Exists("out.dfm")) << c.name;
      // -k refuses it the same way.
      const auto asKey = Qrsa({"show", "-k", dir.File("key"), "bits"});
      EXPECT_EQ(asKey.Status, kFailure) << c.name;
    }
  }
}

TEST_F(CliKeysTest, OtherAlgorithmsAndEncryptedDerAreNamed) {
  Ok(OpenSsl({"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", dir.File("ec.pem")}));
  Ok(OpenSsl({"genpkey", "-algorithm", "ED25519", "-out", dir.File("ed.pem")}));
  Ok(OpenSsl({"pkey", "-in", dir.File("ed.pem"), "-outform", "DER", "-out", dir.File("ed.der")}));
  Ok(OpenSsl({"pkcs8", "-topk8", "-in", keys.Pem512, "-outform", "DER", "-passout", "pass:x", "-out", dir.File("enc.der")}));
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"ec.pem", "an EC key, not an RSA key"},
      {"ed.pem", "an ED25519 key, not an RSA key"},
      {"ed.der", "an ED25519 key, not an RSA key"},
      {"enc.der", "is encrypted: give --passphrase-file or --passphrase-env"},
  };
  for (const auto& c : cases) {
    const auto result = QrsaDetached({"show", "-k", dir.File(c.file), "bits"});
    EXPECT_EQ(result.Status, kFailure) << c.file;
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << c.file << ": " << result.Err;
  }
  dir.Write("pw", "x\n");
  EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("enc.der"), "bits", "--passphrase-file", dir.File("pw")})), "512\n");
}

TEST_F(CliKeysTest, KeyInputsLargerThanOneMebibyteAreRefusedFromTheirSize) {
  dir.Write("big.pem", std::string((1 << 20) + 1, 'A'));
  auto result = Qrsa({"show", "-k", dir.File("big.pem"), "bits"});
  EXPECT_EQ(result.Status, kFailure);
  EXPECT_EQ(result.Err, "qrsa: " + dir.File("big.pem") + " is too large for a key (1 MiB at most)\n");
  result = Qrsa({"show", "-k", "-", "bits"}, std::string((1 << 20) + 10, ' '));
  EXPECT_EQ(result.Status, kFailure);
  EXPECT_NE(result.Err.find("standard input is too large for a key (1 MiB at most)"), std::string::npos) << result.Err;
  result = Qrsa({"show", "-k", keys.Pem512, "bits", "--passphrase-file", dir.File("big.pem")});
  EXPECT_EQ(result.Status, 0) << "an unencrypted key never reads the passphrase file";
}

// Every format qrsa writes is read by the tool that owns the format, and by qrsa itself, as the same key.
TEST_F(CliKeysTest, EveryFormatWrittenIsReadByItsOwnToolsAndBackByQrsa) {
  dir.Write("pw", "new pass\n");
  // 1024 and 2048 bits (the 2048-bit fixture key, given as a JWK); the larger sizes are read above.
  dir.Write("k2048.jwk", Jwk(FixtureNumbers(2048), true, false));
  const std::string sources[] = {keys.Key1024, dir.File("k2048.jwk")};
  for (const std::string& source : sources) {
    const std::string expected = Fingerprint(source);
    const std::string expectedPrivate = Ok(Qrsa({"show", "-k", source, "private"}));
    const std::string sshFingerprint = Ok(Qrsa({"show", "-k", source, "ssh-fingerprint"}));
    const struct {
      const char* format;
      bool publicOnly, encrypt;
      std::vector<std::string> check;  // a peer that must read the file (FILE is replaced), or empty
    } cases[] = {
        {"pem", false, false, {"openssl", "pkey", "-check", "-noout", "-in", "FILE"}},
        {"pem", true, false, {"openssl", "pkey", "-pubin", "-noout", "-in", "FILE"}},
        {"pem", false, true, {"openssl", "pkey", "-check", "-noout", "-passin", "pass:new pass", "-in", "FILE"}},
        {"der", false, false, {"openssl", "pkey", "-check", "-noout", "-inform", "DER", "-in", "FILE"}},
        {"der", true, false, {"openssl", "pkey", "-pubin", "-noout", "-inform", "DER", "-in", "FILE"}},
        {"der", false, true,
         {"openssl", "pkey", "-check", "-noout", "-inform", "DER", "-passin", "pass:new pass", "-in", "FILE"}},
        {"pkcs1", false, false, {"openssl", "rsa", "-check", "-noout", "-in", "FILE"}},
        {"pkcs1", true, false, {"openssl", "rsa", "-RSAPublicKey_in", "-noout", "-in", "FILE"}},
        {"openssh", false, false, {"ssh-keygen", "-y", "-f", "FILE"}},
        {"openssh", true, false, {"ssh-keygen", "-l", "-f", "FILE"}},
        {"jwk", false, false,
         {kPython, "-c",
          "import json,sys,base64\n"
          "from cryptography.hazmat.primitives.asymmetric import rsa\n"
          "k=json.load(open(sys.argv[1]))\n"
          "b=lambda s:int.from_bytes(base64.urlsafe_b64decode(s+'='*(-len(s)%4)),'big')\n"
          "rsa.RSAPrivateNumbers(b(k['p']),b(k['q']),b(k['d']),b(k['dp']),b(k['dq']),b(k['qi']),"
          "rsa.RSAPublicNumbers(b(k['e']),b(k['n']))).private_key()\n",
          "FILE"}},
        {"jwk", true, false, {}},
        {"text", false, false, {}},
        {"text", true, false, {}},
        {"form", false, false, {}},
        {"form", true, false, {}},
    };
    for (const auto& c : cases) {
      // PBKDF2's 600,000 iterations cost real time: the encrypted files at one size only.
      if (c.encrypt && source != keys.Key1024) continue;
      const std::string out = dir.File(std::string("out.") + c.format);
      std::vector<std::string> args = {"export", "-k", source, "--format", c.format, "-o", out, "--force"};
      if (c.publicOnly) args.push_back("--public");
      if (c.encrypt) args.insert(args.end(), {"--encrypt", "--new-passphrase-file", dir.File("pw")});
      const std::string name = source + " " + c.format + (c.publicOnly ? " public" : "") + (c.encrypt ? " encrypted" : "");
      Ok(Qrsa(args));
      if (!c.check.empty()) {
        std::vector<std::string> check = c.check;
        for (std::string& word : check)
          if (word == "FILE") word = out;
        EXPECT_EQ(RunProgram(check).Status, 0) << name;
      }
      std::vector<std::string> pass;
      if (c.encrypt) pass = {"--passphrase-file", dir.File("pw")};
      if (std::string(c.format) != "text" || c.publicOnly) {
        EXPECT_EQ(Fingerprint(out, pass), expected) << name;
      }
      if (!c.publicOnly) {
        std::vector<std::string> show = {"show", "-k", out, "private"};
        show.insert(show.end(), pass.begin(), pass.end());
        EXPECT_EQ(Ok(Qrsa(show)), expectedPrivate) << name;
      }
    }
    // ssh-keygen's fingerprint of the public line is show ssh-fingerprint's.
    Ok(Qrsa({"export", "-k", source, "--format", "openssh", "--public", "--comment", "alice@host", "-o",
             dir.File("id.pub"), "--force"}));
    EXPECT_NE(dir.Read("id.pub").find(" alice@host\n"), std::string::npos);
    const std::string listed = Ok(RunProgram({"ssh-keygen", "-l", "-f", dir.File("id.pub")}));
    EXPECT_NE(listed.find(" " + sshFingerprint.substr(0, sshFingerprint.size() - 1) + " alice@host (RSA)"),
              std::string::npos)
        << listed << sshFingerprint;
  }
}

TEST_F(CliKeysTest, EncryptedOpenSshKeyWrittenIsReadBySshKeygenWithItsPassphrase) {
  dir.Write("pw", "correct horse\n");
  Ok(Qrsa({"export", "-k", keys.Key1024, "--format", "openssh", "--encrypt", "--new-passphrase-file", dir.File("pw"),
           "-o", dir.File("id")}));
  EXPECT_NE(dir.Read("id").find("BEGIN OPENSSH PRIVATE KEY"), std::string::npos);
  const std::string line = Ok(RunProgram({"ssh-keygen", "-y", "-P", "correct horse", "-f", dir.File("id")}));
  EXPECT_EQ(line, Ok(Qrsa({"export", "-k", keys.Key1024, "--format", "openssh", "--public"})));
  EXPECT_NE(RunProgram({"ssh-keygen", "-y", "-P", "wrong horse", "-f", dir.File("id")}).Status, 0);
  EXPECT_EQ(Fingerprint(dir.File("id"), {"--passphrase-file", dir.File("pw")}), Fingerprint(keys.Key1024));
}

TEST_F(CliKeysTest, TheRfc7638ExampleKeysThumbprint) {
  // RFC 7638, section 3.1.
  dir.Write("example.jwk",
            "{\"kty\":\"RSA\",\"n\":\"0vx7agoebGcQSuuPiLJXZptN9nndrQmbXEps2aiAFbWhM78LhWx4cbbfAAtVT86zwu1RK7aPFFxuhDR1L6tSoc"
            "_BJECPebWKRXjBZCiFV4n3oknjhMstn64tZ_2W-5JsGY4Hc5n9yBXArwl93lqt7_RN5w6Cf0h4QyQ5v-65YGjQR0_FDW2QvzqY368QQMi"
            "cAtaSqzs8KJZgnYb9c7d0zgdAZHzu6qMQvRL5hajrn1n91CbOpbISD08qNLyrdkt-bFTWhAI4vMQFh6WeZu0fM4lFd2NcRwr3XPksINHa"
            "Q-G_xBniIqbw0Ls1jF44-csFCur-kEgU8awapJzKnqDKgw\",\"e\":\"AQAB\",\"alg\":\"RS256\",\"kid\":\"2011-04-29\"}");
  EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("example.jwk"), "jwk-thumbprint"})),
            "NzbLsXh8uDCcd-6MNwXF4W_7noWXFZAfHkxZsRGC9Xs\n");
  const std::string jwk = Ok(Qrsa({"export", "-k", dir.File("example.jwk"), "--format", "jwk", "--public"}));
  EXPECT_NE(jwk.find("\"kid\":\"NzbLsXh8uDCcd-6MNwXF4W_7noWXFZAfHkxZsRGC9Xs\""), std::string::npos) << jwk;
}

TEST_F(CliKeysTest, ExportAndKeygenRefuseWhatCannotBeEncrypted) {
  dir.Write("pw", "x\n");
  dir.Write("empty", "\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"export", "-k", keys.Key512, "--format", "pkcs1", "--encrypt"}, 2, "--encrypt takes --format pem, der or openssh"},
      {{"export", "-k", keys.Key512, "--format", "jwk", "--encrypt"}, 2, "--encrypt takes --format pem, der or openssh"},
      {{"export", "-k", keys.Key512, "--format", "form", "--encrypt"}, 2, "--encrypt takes"},
      {{"export", "-k", keys.Key512, "--format", "pem", "--encrypt", "--public"}, 2, "does not go with --public"},
      {{"export", "-k", keys.Key512, "--format", "xml"}, 2, "--format takes pem, der, pkcs1, openssh, jwk, text or form"},
      {{"export", "-k", keys.Key512, "--format", "pem", "--encrypt", "--new-passphrase-file", "EMPTY", "-o", "OUT"}, 3,
       "an empty passphrase is refused"},
      {{"export", "-k", keys.Public512, "--format", "pem", "-o", "OUT"}, 3, "holds no private key"},
      {{"keygen", "-b", "512", "--quiet", "--format", "text", "--encrypt", "-o", "OUT"}, 2, "--encrypt takes"},
      {{"export", "-k", keys.Key512, "--format", "pem", "--encrypt", "-o", "OUT"}, 3, "no terminal to ask"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a == "EMPTY") a = dir.File("empty");
      if (a == "OUT") a = dir.File("out");
    }
    const auto result = QrsaDetached(args);
    EXPECT_EQ(result.Status, c.status) << args[4];
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << result.Err;
    EXPECT_FALSE(dir.Exists("out"));
  }
  // keygen writes the new key encrypted, and pubkey its public half in another format.
  Ok(Qrsa({"keygen", "-b", "512", "--quiet", "--format", "pem", "--encrypt", "--passphrase-file", dir.File("pw"), "-o",
           dir.File("new.pem")}));
  EXPECT_NE(dir.Read("new.pem").find("BEGIN ENCRYPTED PRIVATE KEY"), std::string::npos);
  Ok(OpenSsl({"pkey", "-check", "-noout", "-passin", "pass:x", "-in", dir.File("new.pem")}));
  EXPECT_EQ(Ok(Qrsa({"pubkey", "-k", dir.File("new.pem"), "--passphrase-file", dir.File("pw"), "--format", "openssh"})).rfind("ssh-rsa ", 0), 0u);
}

// Keys that Python's cryptography writes are read as the same key.
TEST_F(CliKeysTest, KeysPythonCryptographyWritesReadAsTheSameKey) {
  const std::string expected = Fingerprint(keys.Key1024);
  const std::string expectedPrivate = Ok(Qrsa({"show", "-k", keys.Key1024, "private"}));
  const std::string script =
      "import sys\n"
      "from cryptography.hazmat.primitives import serialization as s\n"
      "k = s.load_pem_private_key(open(sys.argv[1], 'rb').read(), None)\n"
      "out = sys.argv[2]\n"
      "open(out + '/pkcs8-enc.pem', 'wb').write(k.private_bytes(s.Encoding.PEM, s.PrivateFormat.PKCS8,"
      " s.BestAvailableEncryption(b'py pass')))\n"
      "open(out + '/pkcs1.der', 'wb').write(k.private_bytes(s.Encoding.DER, s.PrivateFormat.TraditionalOpenSSL,"
      " s.NoEncryption()))\n"
      "open(out + '/openssh', 'wb').write(k.private_bytes(s.Encoding.PEM, s.PrivateFormat.OpenSSH, s.NoEncryption()))\n"
      "open(out + '/openssh.pub', 'wb').write(k.public_key().public_bytes(s.Encoding.OpenSSH, s.PublicFormat.OpenSSH))\n"
      "open(out + '/spki.der', 'wb').write(k.public_key().public_bytes(s.Encoding.DER,"
      " s.PublicFormat.SubjectPublicKeyInfo))\n";
  Ok(RunProgram({kPython, "-c", script, keys.Pem1024, dir.Path()}));
  dir.Write("pw", "py pass\n");
  for (const char* name : {"pkcs8-enc.pem", "pkcs1.der", "openssh", "openssh.pub", "spki.der"}) {
    const bool encrypted = std::string(name) == "pkcs8-enc.pem";
    std::vector<std::string> pass;
    if (encrypted) pass = {"--passphrase-file", dir.File("pw")};
    EXPECT_EQ(Fingerprint(dir.File(name), pass), expected) << name;
    if (std::string(name).find("pub") == std::string::npos && std::string(name) != "spki.der") {
      std::vector<std::string> show = {"show", "-k", dir.File(name), "private"};
      show.insert(show.end(), pass.begin(), pass.end());
      EXPECT_EQ(Ok(Qrsa(show)), expectedPrivate) << name;
    }
  }
}

}  // namespace
}  // namespace Testing
