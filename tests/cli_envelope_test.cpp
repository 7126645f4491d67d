// Sealed envelopes through the built tool: round trips of every size class, every way an envelope can
// be damaged, cut short, reordered or meant for another key; stored version 1 envelopes; OpenSSL
// unwrapping the version 2 file key; the armoured form; several recipients.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>

#include "support/FixtureKeys.h"
#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kUsage = 2, kFailure = 3;
constexpr std::size_t kChunk = 64 * 1024, kTag = 16;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

// Lower-case hex digits only (OpenSSL prints "AB:CD:..." or upper case).
std::string HexDigits(const std::string& text) {
  std::string digits;
  for (const char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return digits;
}

// A header field's value ("salt", "mac", ...): the first line starting with "name: ".
std::string Field(const std::string& envelope, const std::string& name, std::size_t from = 0) {
  const std::size_t at = envelope.find("\n" + name + ": ", from);
  if (at == std::string::npos) return "";
  const std::size_t start = at + name.size() + 3;
  return envelope.substr(start, envelope.find('\n', start) - start);
}

// Every value of a header field, in order.
std::vector<std::string> Fields(const std::string& envelope, const std::string& name) {
  std::vector<std::string> values;
  const std::string header = envelope.substr(0, envelope.find("\n\n") + 1);
  for (std::size_t at = header.find("\n" + name + ": "); at != std::string::npos;
       at = header.find("\n" + name + ": ", at + 1))
    values.push_back(Field(header, name, at));
  return values;
}

// The begin line, lines of 64 base64 characters and a last one of 4 to 64 (padded at its end only),
// the end line, each line ending in a line break.
bool IsArmorLayout(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.size() < 3 || lines.front() != "-----BEGIN QARVEX ENVELOPE-----" || lines.back() != "-----END QARVEX ENVELOPE-----")
    return false;
  static const std::regex full("[A-Za-z0-9+/]{64}"), last("([A-Za-z0-9+/]{4})*[A-Za-z0-9+/]{2,4}={0,2}");
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    const bool isLast = i + 2 == lines.size();
    if (!std::regex_match(lines[i], isLast ? last : full) || lines[i].size() % 4 != 0 || lines[i].size() > 64) return false;
  }
  return true;
}

class EnvelopeTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  std::string Seal(const std::string& data, const std::string& key, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"seal", "-k", key, "--quiet"};
    args.insert(args.end(), more.begin(), more.end());
    return Ok(Qrsa(args, data));
  }
  std::string FingerprintOf(const std::string& key) {
    std::string text = Ok(Qrsa({"show", "-k", key, "fingerprint"}));
    if (!text.empty()) text.pop_back();
    return text;
  }
  // A key file holding both keys of fixture key `which` of the given size, and one with its public
  // key alone and one with its private key alone (bare key texts).
  std::string FixtureKeyFile(int bits, int which) {
    const std::string name = "fixture" + std::to_string(bits) + "-" + std::to_string(which);
    dir.Write(name + ".dfm", "object KeyForm: TForm\n  object RSA1: TRSA\n    KeyBits = kb" +
                                 std::string(bits < 1000 ? "0" : "") + std::to_string(bits) + "\n    PublicKey = '" +
                                 FixturePublicKeyText(bits, which).str() + "'\n    PrivateKey = '" +
                                 FixturePrivateKeyText(bits, which).str() + "'\n  end\nend\n");
    return dir.File(name + ".dfm");
  }
  std::string FixturePublicFile(int bits, int which) {
    const std::string name = "fixture" + std::to_string(bits) + "-" + std::to_string(which) + "-public.txt";
    dir.Write(name, FixturePublicKeyText(bits, which).str() + "\n");
    return dir.File(name);
  }
  std::string FixturePrivateOnlyFile(int bits, int which) {
    const std::string name = "fixture" + std::to_string(bits) + "-" + std::to_string(which) + "-private.txt";
    dir.Write(name, FixturePrivateKeyText(bits, which).str() + "\n");
    std::filesystem::permissions(dir.File(name), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return dir.File(name);
  }
  // The offset where the chunks start: after the blank line that ends the header.
  static std::size_t BodyStart(const std::string& envelope) { return envelope.find("\n\n") + 2; }
};

TEST_F(EnvelopeTest, RoundTripsEverySizeClassWithThePublicKeyAlone) {
  // Empty, short, exactly one chunk, one chunk and a byte, several chunks.
  for (const std::size_t size : {std::size_t(0), std::size_t(1), kChunk, kChunk + 1, 3 * kChunk + 777}) {
    const std::string data = RandomBytes(size, unsigned(size));
    const std::string envelope = Seal(data, keys.Public1024);
    const std::size_t chunks = size == 0 ? 1 : (size + kChunk - 1) / kChunk;
    EXPECT_EQ(envelope.size() - BodyStart(envelope), size + chunks * kTag) << size;
    EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key1024}, envelope)), data) << size;
  }
  // The header is readable text naming the format, the key size and the recipient's fingerprint, then
  // the wrapped key in base64 (128 bytes: 172 characters), exactly in the order of version 1.
  const std::string envelope = Seal("hello", keys.Public1024);
  const std::string header = envelope.substr(0, BodyStart(envelope));
  const std::regex layout(
      "qarvex-envelope/2\nkey-bits: 1024\nrecipient: SHA256:[A-Za-z0-9+/]{43}\nwrapped-key: [A-Za-z0-9+/]{171}=\n"
      "salt: [0-9a-f]{64}\nchunk-size: 65536\nmac: [0-9a-f]{64}\n\n");
  EXPECT_TRUE(std::regex_match(header, layout)) << header;
  EXPECT_EQ(Field(envelope, "recipient"), FingerprintOf(keys.Key1024));
  // Sealing twice gives two different envelopes (fresh key and salt).
  EXPECT_NE(Seal("hello", keys.Public1024), envelope);
}

TEST_F(EnvelopeTest, DamagedTruncatedOrReorderedEnvelopesAreRefused) {
  const std::string data = RandomBytes(3 * kChunk + 100, 7);
  const std::string envelope = Seal(data, keys.Public1024);
  const std::size_t body = BodyStart(envelope);
  const std::size_t sealed = kChunk + kTag;
  auto flipped = [&](std::size_t at) {
    std::string copy = envelope;
    copy[at] = static_cast<char>(copy[at] ^ 1);
    return copy;
  };
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string copy = envelope;
    copy.replace(copy.find(from), from.size(), to);
    return copy;
  };
  // The salt changed to another hex digit, so the header still parses and must fail its check.
  std::string salted = envelope;
  const std::size_t saltAt = envelope.find("salt: ") + 6;
  salted[saltAt] = salted[saltAt] == '0' ? '1' : '0';
  // A character of the wrapped key changed: still base64, no longer the cipher text.
  std::string rewrapped = envelope;
  const std::size_t wrappedAt = envelope.find("wrapped-key: ") + 13;
  rewrapped[wrappedAt] = rewrapped[wrappedAt] == 'A' ? 'B' : 'A';
  std::string reordered = envelope;
  reordered.replace(body, sealed, envelope.substr(body + sealed, sealed));
  reordered.replace(body + sealed, sealed, envelope.substr(body, sealed));
  const struct {
    const char* name;
    std::string input;
    const char* message;
  } cases[] = {
      {"byte flipped in a middle chunk", flipped(body + sealed + 5), "chunk 1 does not authenticate"},
      {"byte flipped in a tag", flipped(envelope.size() - 1), "does not authenticate"},
      {"salt changed", salted, "header does not authenticate"},
      {"wrapped key changed", rewrapped, "wrapped key is not valid"},
      {"wrapped key not base64", replaced("wrapped-key: ", "wrapped-key: !"), "is not valid"},
      {"key-bits changed", replaced("key-bits: 1024", "key-bits: 2048"), "key-bits 2048 does not match"},
      {"chunks swapped", reordered, "chunk 0 does not authenticate"},
      {"last chunk dropped", envelope.substr(0, body + 3 * sealed), "end does not authenticate"},
      {"cut inside the last chunk", envelope.substr(0, envelope.size() - 3), "end does not authenticate"},
      {"header only", envelope.substr(0, body), "holds no data"},
      {"cut inside the header", envelope.substr(0, 40), "header is truncated"},
      {"no recipient", replaced("recipient: ", "recipients: "), "expected the field 'recipient'"},
      {"not an envelope", "TBTqecGR1k24C6kvGsQB\n", "not an envelope"},
      {"another version", "qarvex-envelope/9\n", "version 9"},
  };
  for (const auto& c : cases) {
    const auto result = Qrsa({"open", "-k", keys.Key1024, "-o", dir.File("out")}, c.input);
    EXPECT_EQ(result.Status, kFailure) << c.name;
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << c.name << ": " << result.Err;
    // With -o nothing is written unless everything authenticated.
    EXPECT_TRUE(dir.Entries().empty()) << c.name;
  }
  // To standard output, the authenticated chunks before the missing end come out, then exit 3.
  const auto cut = Qrsa({"open", "-k", keys.Key1024}, envelope.substr(0, body + 3 * sealed));
  EXPECT_EQ(cut.Status, kFailure);
  EXPECT_EQ(cut.Out, data.substr(0, 2 * kChunk));
}

TEST_F(EnvelopeTest, AnotherKeyIsNamedByItsFingerprint) {
  const std::string envelope = Seal("for the 1024-bit key", keys.Public1024);
  const std::string wanted = FingerprintOf(keys.Key1024);
  const auto result = Qrsa({"open", "-k", keys.Key512, "-o", dir.File("out")}, envelope);
  EXPECT_EQ(result.Status, kFailure);
  EXPECT_NE(result.Err.find("sealed for the key " + wanted + ", not for this key"), std::string::npos) << result.Err;
  EXPECT_FALSE(dir.Exists("out"));
  // A key file with the private key alone has no fingerprint: no pair opens with it.
  const std::string privateText = Ok(Qrsa({"show", "-k", keys.Key512, "private"}));
  dir.Write("private.txt", privateText);
  const auto bare = Qrsa({"open", "-k", dir.File("private.txt")}, Seal("x", keys.Public1024));
  EXPECT_EQ(bare.Status, kFailure);
  EXPECT_EQ(bare.Out, "");
  // A 512-bit key is too small for the file key's OAEP wrapping: refused before anything is written.
  const auto small = Qrsa({"seal", "-k", keys.Public512, "-o", dir.File("small.qenv")}, "x");
  EXPECT_EQ(small.Status, kFailure);
  EXPECT_NE(small.Err.find("512-bit key, too small to seal for"), std::string::npos) << small.Err;
  EXPECT_FALSE(dir.Exists("small.qenv"));
}

// An envelope of format version 1, sealed before version 2 existed (tests/fixtures/envelope-v1.qenv,
// for the key tests/fixtures/envelope-v1-key.dfm, of 65836 bytes (i*7 + i/251) mod 256).
TEST_F(EnvelopeTest, StoredVersionOneEnvelopesStillOpen) {
  const std::string fixtures = std::string(QARVEX_SOURCE_DIR) + "/tests/fixtures/";
  const std::string envelope = Slurp(fixtures + "envelope-v1.qenv");
  ASSERT_EQ(envelope.rfind("qarvex-envelope/1\nkey-bits: 1024\n", 0), 0u);
  dir.Write("v1.dfm", Slurp(fixtures + "envelope-v1-key.dfm"));
  std::filesystem::permissions(dir.File("v1.dfm"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::string key = dir.File("v1.dfm");
  std::string data(65536 + 300, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 255);
  EXPECT_EQ(Ok(Qrsa({"open", "-k", key, "--quiet"}, envelope)), data);
  // The armoured form of a version 1 envelope opens too (the armour is independent of the version).
  const std::string armored = Ok(OpenSsl({"base64", "-e"}, envelope));
  EXPECT_EQ(Ok(Qrsa({"open", "-k", key}, "-----BEGIN QARVEX ENVELOPE-----\n" + armored + "-----END QARVEX ENVELOPE-----\n")),
            data);

  std::string flipped = envelope;
  flipped[BodyStart(envelope) + 100] ^= 1;
  std::string salted = envelope;
  const std::size_t saltAt = envelope.find("salt: ") + 6;
  salted[saltAt] = salted[saltAt] == '0' ? '1' : '0';
  const struct {
    const char* name;
    std::string key, input;
    const char* message;
  } refused[] = {
      {"a chunk changed", key, flipped, "chunk 0 does not authenticate"},
      {"the salt changed", key, salted, "header does not authenticate"},
      {"cut short", key, envelope.substr(0, envelope.size() - 10), "end does not authenticate"},
      {"another key", keys.Key1024, envelope, "sealed for the key SHA256:"},
  };
  for (const auto& c : refused) {
    const auto result = Qrsa({"open", "-k", c.key, "-o", dir.File("out")}, c.input);
    EXPECT_EQ(result.Status, kFailure) << c.name;
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << c.name << ": " << result.Err;
    EXPECT_FALSE(dir.Exists("out")) << c.name;
  }
}

// OpenSSL alone recovers the file key from a version 2 header (RSAES-OAEP, SHA-256, MGF1-SHA-256, label
// "qarvex-envelope/2"), and that key authenticates the header (HKDF-SHA256, then HMAC-SHA256).
TEST_F(EnvelopeTest, OpenSslUnwrapsTheVersionTwoFileKey) {
  const std::string pem2048 = dir.File("fixture2048.pem");
  const std::string key2048 = FixtureKeyFile(2048, 0);
  Ok(Qrsa({"export-pem", "-k", key2048, "-o", pem2048}));
  const std::string envelope = Seal("for OpenSSL", keys.Public1024, {"-k", key2048});
  const std::vector<std::string> wrapped = Fields(envelope, "wrapped-key");
  ASSERT_EQ(wrapped.size(), 2u);
  const std::string body = envelope.substr(0, envelope.find("mac: "));
  dir.Write("body", body);
  const std::string label = Hex("qarvex-envelope/2");
  const struct {
    const char* name;
    std::string pem, wrapped;
    std::size_t bytes;
  } cases[] = {{"1024-bit recipient", keys.Pem1024, wrapped[0], 128}, {"2048-bit recipient", pem2048, wrapped[1], 256}};
  for (const auto& c : cases) {
    dir.Write("wrapped.b64", c.wrapped + "\n");
    const std::string cipher = Ok(OpenSsl({"base64", "-d", "-A", "-in", dir.File("wrapped.b64")}));
    ASSERT_EQ(cipher.size(), c.bytes) << c.name;
    dir.Write("wrapped.bin", cipher);
    const std::string fileKey =
        Ok(OpenSsl({"pkeyutl", "-decrypt", "-inkey", c.pem, "-in", dir.File("wrapped.bin"), "-pkeyopt",
                    "rsa_padding_mode:oaep", "-pkeyopt", "rsa_oaep_md:sha256", "-pkeyopt", "rsa_mgf1_md:sha256",
                    "-pkeyopt", "rsa_oaep_label:" + label}));
    ASSERT_EQ(fileKey.size(), 32u) << c.name;
    const std::string headerKey = HexDigits(
        Ok(OpenSsl({"kdf", "-keylen", "32", "-kdfopt", "digest:SHA256", "-kdfopt", "hexkey:" + Hex(fileKey), "-kdfopt",
                    "hexsalt:" + Field(envelope, "salt"), "-kdfopt", "info:qarvex-envelope/1 header", "HKDF"})));
    const std::string mac = Ok(OpenSsl({"mac", "-digest", "SHA256", "-macopt", "hexkey:" + headerKey, "-in",
                                        dir.File("body"), "HMAC"}));
    EXPECT_EQ(HexDigits(mac), Field(envelope, "mac")) << c.name;
    // Without the label OpenSSL refuses the cipher text.
    EXPECT_NE(OpenSsl({"pkeyutl", "-decrypt", "-inkey", c.pem, "-in", dir.File("wrapped.bin"), "-pkeyopt",
                       "rsa_padding_mode:oaep", "-pkeyopt", "rsa_oaep_md:sha256", "-pkeyopt", "rsa_mgf1_md:sha256"})
                  .Status,
              0)
        << c.name;
  }
}

// The armoured form: the begin line, base64 in lines of 64, the end line; the same envelope inside.
TEST_F(EnvelopeTest, ArmouredEnvelopesRoundTripAtLineAndChunkBoundaries) {
  const std::size_t sizes[] = {0, 1, 47, 48, 49, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk, 2 * kChunk + 3};
  for (const std::size_t size : sizes) {
    const std::string data = RandomBytes(size, unsigned(size) + 11);
    const std::string armored = Seal(data, keys.Public1024, {"--armor"});
    EXPECT_TRUE(IsArmorLayout(armored)) << size;
    EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key1024}, armored)), data) << size;
    // Inside is the envelope in bytes: decoded, it opens as it is, with the sizes of the binary form.
    const std::size_t begin = armored.find('\n') + 1, end = armored.find("-----END");
    const std::string binary = Ok(OpenSsl({"base64", "-d"}, armored.substr(begin, end - begin)));
    EXPECT_EQ(binary.rfind("qarvex-envelope/2\n", 0), 0u) << size;
    const std::size_t chunks = size == 0 ? 1 : (size + kChunk - 1) / kChunk;
    EXPECT_EQ(binary.size() - BodyStart(binary), size + chunks * kTag) << size;
    EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key1024}, binary)), data) << size;
  }
}

TEST_F(EnvelopeTest, DamagedArmourIsRefusedLikeAnyDamage) {
  const std::string data = RandomBytes(kChunk + 500, 5);
  const std::string armored = Seal(data, keys.Public1024, {"--armor"});
  const std::size_t endAt = armored.find("-----END");
  const std::size_t lastLine = armored.rfind('\n', endAt - 2) + 1;  // the last base64 line
  auto changed = [&](std::size_t at, char c) {
    std::string copy = armored;
    copy[at] = c;
    return copy;
  };
  auto crlf = [&] {
    std::string copy;
    for (const char c : armored) copy += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return copy;
  };
  // Forms that still hold the whole envelope open.
  EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key1024}, crlf())), data) << "CRLF line breaks";
  EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key1024}, armored.substr(0, armored.size() - 1))), data) << "no final break";
  EXPECT_EQ(Ok(Qrsa({"open", "-k", keys.Key1024}, armored + "\n\n")), data) << "blank lines after the end";

  const std::size_t middle = armored.find('\n', 40 * 65) + 10;  // inside the chunks
  const struct {
    const char* name;
    std::string input;
    const char* message;
  } cases[] = {
      {"end line missing", armored.substr(0, endAt), "end line is missing"},
      {"cut inside a line", armored.substr(0, middle), "end line is missing"},
      {"last line dropped", armored.substr(0, lastLine) + armored.substr(endAt), "does not authenticate"},
      {"a character outside base64", changed(middle, '*'), "not valid base64"},
      {"a base64 character changed", changed(middle, armored[middle] == 'A' ? 'B' : 'A'), "does not authenticate"},
      {"padding inside", changed(middle, '='), "not valid base64"},
      {"a character short", armored.substr(0, endAt - 2) + "\n" + armored.substr(endAt), "ends inside a group"},
      {"text after the end line", armored + "more\n", "text follows its end line"},
      {"a header field changed", changed(armored.find('\n') + 5, 'x'), "not an envelope"},
      {"begin line only", "-----BEGIN QARVEX ENVELOPE-----\n", "end line is missing"},
  };
  for (const auto& c : cases) {
    const auto result = Qrsa({"open", "-k", keys.Key1024, "-o", dir.File("out")}, c.input);
    EXPECT_EQ(result.Status, kFailure) << c.name;
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << c.name << ": " << result.Err;
    EXPECT_TRUE(dir.Entries().empty()) << c.name;
  }
}

TEST_F(EnvelopeTest, SeveralRecipientsEachOpenAndAStrangerIsToldWhoMay) {
  const std::string alice = keys.Key1024, bob = FixtureKeyFile(1024, 0), carol = FixtureKeyFile(2048, 1);
  const std::string data = RandomBytes(kChunk + 123, 3);
  // Sealed for a public key file, a bare public key text and a key file holding both keys.
  const std::string envelope = Seal(data, keys.Public1024, {"-k", FixturePublicFile(1024, 0), "-k", carol});
  const std::vector<std::string> ids = {FingerprintOf(alice), FingerprintOf(bob), FingerprintOf(carol)};
  // One pair per recipient, in the order given; key-bits is the smallest key's.
  EXPECT_EQ(Fields(envelope, "recipient"), ids);
  EXPECT_EQ(Fields(envelope, "wrapped-key").size(), 3u);
  EXPECT_EQ(Field(envelope, "key-bits"), "1024");
  EXPECT_EQ(envelope.find("recipient: "), envelope.find("key-bits: 1024\n") + 15);

  for (const std::string& key : {alice, bob, carol}) EXPECT_EQ(Ok(Qrsa({"open", "-k", key}, envelope)), data) << key;
  // A key file with the private key alone finds its pair by trying those of its size.
  EXPECT_EQ(Ok(Qrsa({"open", "-k", FixturePrivateOnlyFile(2048, 1)}, envelope)), data);
  const std::string armored = Seal(data, alice, {"-k", bob, "-k", carol, "--armor"});
  for (const std::string& key : {alice, bob, carol}) EXPECT_EQ(Ok(Qrsa({"open", "-k", key}, armored)), data) << key;

  const std::string stranger = FixtureKeyFile(1024, 1);
  const auto refused = Qrsa({"open", "-k", stranger, "-o", dir.File("out")}, envelope);
  EXPECT_EQ(refused.Status, kFailure);
  EXPECT_NE(refused.Err.find("sealed for the keys " + ids[0] + ", " + ids[1] + " and " + ids[2] + ", not for this key (" +
                             FingerprintOf(stranger) + ")"),
            std::string::npos)
      << refused.Err;
  EXPECT_FALSE(dir.Exists("out"));
  const auto privateStranger = Qrsa({"open", "-k", FixturePrivateOnlyFile(1024, 1)}, envelope);
  EXPECT_EQ(privateStranger.Status, kFailure);
  EXPECT_NE(privateStranger.Err.find("sealed for the keys " + ids[0]), std::string::npos) << privateStranger.Err;

  // A recipient's pair changed: that recipient is refused, the others still open (each pair is covered
  // by the header's authentication, so every one of them notices).
  std::string damaged = envelope;
  const std::size_t second = damaged.find("wrapped-key: ", damaged.find(ids[1])) + 20;
  damaged[second] = damaged[second] == 'A' ? 'B' : 'A';
  EXPECT_EQ(Qrsa({"open", "-k", bob}, damaged).Status, kFailure);
  const auto other = Qrsa({"open", "-k", alice}, damaged);
  EXPECT_EQ(other.Status, kFailure);
  EXPECT_NE(other.Err.find("header does not authenticate"), std::string::npos) << other.Err;
}

TEST_F(EnvelopeTest, RecipientListsThatCannotBeSealedForAreRefused) {
  std::vector<std::string> many = {"seal", "-o", dir.File("many.qenv")};
  for (int i = 0; i < 65; ++i) {
    many.push_back("-k");
    many.push_back(keys.Public1024);
  }
  const auto tooMany = Qrsa(many, "x");
  EXPECT_EQ(tooMany.Status, kUsage);
  EXPECT_NE(tooMany.Err.find("at most 64 recipients; 65 -k options were given"), std::string::npos) << tooMany.Err;
  const auto twice = Qrsa({"seal", "-k", keys.Key1024, "-k", keys.Public1024, "-o", dir.File("twice.qenv")}, "x");
  EXPECT_EQ(twice.Status, kFailure);
  EXPECT_NE(twice.Err.find("is given twice"), std::string::npos) << twice.Err;
  const auto noKey = Qrsa({"seal", "-o", dir.File("none.qenv")}, "x");
  EXPECT_EQ(noKey.Status, kUsage);
  EXPECT_NE(noKey.Err.find("option -k is required"), std::string::npos) << noKey.Err;
  // -k is repeatable for seal only.
  EXPECT_EQ(Qrsa({"open", "-k", keys.Key1024, "-k", keys.Key512}, "x").Status, kUsage);
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
}  // namespace Testing
