// The qrsa tool at 3072 and 4096 bits against the openssl command: OpenSSL's keys import to the fixture
// key texts, raw blocks open on the other side in both directions, exported keys pass OpenSSL's checks,
// and one real 3072-bit generation exports as a key that OpenSSL accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/QrsaTool.h"

namespace Testing {
namespace {

// Keys A of these sizes as OpenSSL wrote them (the fixture keys were taken from these files).
std::string FixturePem(int bits) { return std::string(QARVEX_SOURCE_DIR) + "/tests/fixtures/rsa" + std::to_string(bits) + ".pem"; }

std::string Reversed(std::string bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

std::string FromRadix64(const std::string& text) {
  const auto end = text.find_last_not_of('\n');
  return Rsa::Radix64Decode(text.substr(0, end + 1)).str();
}

// The hex lines of the modulus in `openssl pkey -text` output.
std::string ModulusOf(const std::vector<std::string>& args) {
  std::vector<std::string> full = {"pkey", "-noout", "-text"};
  full.insert(full.end(), args.begin(), args.end());
  const std::string text = Ok(OpenSsl(full));
  auto at = text.find("odulus:\n");
  EXPECT_NE(at, std::string::npos) << text;
  std::string hex;
  for (at = text.find('\n', at) + 1; at < text.size() && text[at] == ' ';) {
    const auto end = text.find('\n', at);
    hex += text.substr(at, end - at);
    at = end + 1;
  }
  return hex;
}

class CliKeySizes : public ::testing::TestWithParam<int> {
 protected:
  ScratchDirectory dir;

  // Raw RSA by the openssl command on a little-endian block: `op` is -encrypt (public key),
  // -decrypt (private key) or -verifyrecover (public key).
  std::string RawOpenSsl(const std::string& op, const std::string& key, bool pub, const std::string& blockLE) {
    dir.Write("in.bin", Reversed(blockLE));
    std::vector<std::string> args = {"pkeyutl", op, "-inkey", key};
    if (pub) args.push_back("-pubin");
    args.insert(args.end(), {"-pkeyopt", "rsa_padding_mode:none", "-in", dir.File("in.bin"), "-out", dir.File("out.bin")});
    Ok(OpenSsl(args));
    return Reversed(dir.Read("out.bin"));
  }
};

TEST_P(CliKeySizes, OpenSslKeysWorkBothWays) {
  const int bits = GetParam(), K = bits / 8;
  const std::string pem = FixturePem(bits), key = dir.File("key.dfm"), pubPem = dir.File("pub.pem");
  Ok(Qrsa({"import-pem", "-i", pem, "-o", key}));
  EXPECT_EQ(Ok(Qrsa({"show", "-k", key, "bits"})), std::to_string(bits) + "\n");
  EXPECT_EQ(Ok(Qrsa({"show", "-k", key, "public"})), FixturePublicKeyText(bits).str() + "\n");
  EXPECT_EQ(Ok(Qrsa({"show", "-k", key, "private"})), FixturePrivateKeyText(bits).str() + "\n");

  // A string of every byte, encrypted with the public half as OpenSSL hands it out.
  Ok(OpenSsl({"pkey", "-in", pem, "-pubout", "-out", pubPem}));
  Ok(Qrsa({"import-pem", "-i", pubPem, "-o", dir.File("pub.dfm")}));
  const std::string cipher = Ok(Qrsa({"encrypt", "-k", dir.File("pub.dfm")}, AllBytes()));
  EXPECT_EQ(FromRadix64(cipher).size(), std::size_t(K));  // 276 bytes fit one block
  EXPECT_EQ(Ok(Qrsa({"decrypt", "-k", key}, cipher)), AllBytes());

  // OpenSSL wraps, qrsa unwraps; qrsa wraps, OpenSSL's raw private operation finds the block.
  const std::string session = "0123456789abcdef0123456789ABCDEF";
  const std::string image = session + std::string(std::size_t(K - 33), '\x5a') + '\0';
  const std::string wrappedByOpenSsl = Rsa::Radix64Encode(RawOpenSsl("-encrypt", pubPem, true, image)).str();
  std::string sessionHex;
  for (const unsigned char c : session) sessionHex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  EXPECT_EQ(Ok(Qrsa({"unwrap", "--scheme", "component", "-k", key, "--sym-bits", "256"}, wrappedByOpenSsl + "\n")), sessionHex + "\n");
  const std::string wrapped = Ok(Qrsa({"wrap", "--scheme", "component", "-k", key, "--sym-bits", "64", "--key", "0102030405060708"}));
  const std::string block = RawOpenSsl("-decrypt", pem, false, FromRadix64(wrapped));
  ASSERT_EQ(block.size(), std::size_t(K));
  EXPECT_EQ(block.substr(0, 8), "\x01\x02\x03\x04\x05\x06\x07\x08");
  EXPECT_EQ(block[K - 1], '\0');

  // A signature of the most a key signs, K-4 bytes (380 or 508), opens with the raw public operation;
  // one byte more is refused.
  const std::string data(std::size_t(K - 4), 'S');
  const std::string signature = Ok(Qrsa({"sign", "--scheme", "component", "-k", key}, data));
  const std::string recovered = RawOpenSsl("-verifyrecover", pubPem, true, FromRadix64(signature));
  EXPECT_EQ(recovered.substr(0, std::size_t(K - 4)), data);
  EXPECT_EQ(recovered.substr(std::size_t(K - 4)), std::string(4, '\0'));
  const auto tooLong = Qrsa({"sign", "--scheme", "component", "-k", key}, data + "S");
  EXPECT_EQ(tooLong.Status, 3);
  EXPECT_NE(tooLong.Err.find("signs at most " + std::to_string(K - 4) + " bytes"), std::string::npos) << tooLong.Err;

  // Exported again, with p and q recovered from e, d and n, the key passes OpenSSL's check.
  Ok(Qrsa({"export-pem", "-k", key, "-o", dir.File("again.pem")}));
  const auto check = OpenSsl({"pkey", "-check", "-noout", "-in", dir.File("again.pem")});
  EXPECT_EQ(check.Status, 0) << check.Err;
  EXPECT_NE(check.Out.find("Key is valid"), std::string::npos) << check.Out;
  EXPECT_EQ(ModulusOf({"-in", dir.File("again.pem")}), ModulusOf({"-in", pem}));
}

INSTANTIATE_TEST_SUITE_P(LargerKeys, CliKeySizes, ::testing::Values(3072, 4096),
                         [](const auto& info) { return std::to_string(info.param) + "bit"; });

// The suite's one real generation at a larger size: keygen's default size, 3072 bits.
TEST(CliKeySizesGeneration, AGenerated3072BitKeyPassesOpenSslsCheck) {
  ScratchDirectory dir;
  const auto generated = Qrsa({"keygen", "-o", dir.File("gen.dfm")});
  ASSERT_EQ(generated.Status, 0) << generated.Err;
  EXPECT_EQ(Ok(Qrsa({"show", "-k", dir.File("gen.dfm"), "bits"})), "3072\n");
  Ok(Qrsa({"export-pem", "-k", dir.File("gen.dfm"), "-o", dir.File("gen.pem")}));
  const auto check = OpenSsl({"pkey", "-check", "-noout", "-in", dir.File("gen.pem")});
  EXPECT_EQ(check.Status, 0) << check.Err;
  EXPECT_NE(check.Out.find("Key is valid"), std::string::npos) << check.Out;
}

}  // namespace
}  // namespace Testing
