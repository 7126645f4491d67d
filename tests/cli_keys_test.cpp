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

}  // namespace
}  // namespace Testing
