// Sealed envelopes through the built tool: round trips of every size class, and every way an envelope
// can be damaged, cut short, reordered or meant for another key.
#include <gtest/gtest.h>

#include <random>

#include "support/QrsaTool.h"

namespace Testing {
namespace {

constexpr int kFailure = 3;
constexpr std::size_t kChunk = 64 * 1024, kTag = 16;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

class EnvelopeTest : public ::testing::Test {
 protected:
  SharedKeys& keys = Keys();
  ScratchDirectory dir;

  std::string Seal(const std::string& data, const std::string& key) {
    return Ok(Qrsa({"seal", "-k", key, "--quiet"}, data));
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
  // The header is readable text naming the format, the key size and the recipient's fingerprint.
  const std::string envelope = Seal("hello", keys.Public512);
  const std::string fingerprint = Ok(Qrsa({"show", "-k", keys.Key512, "fingerprint"}));
  EXPECT_EQ(envelope.rfind("qarvex-envelope/1\nkey-bits: 512\nrecipient: " + fingerprint, 0), 0u) << envelope;
  // Sealing twice gives two different envelopes (fresh key and salt).
  EXPECT_NE(Seal("hello", keys.Public512), envelope);
}

TEST_F(EnvelopeTest, DamagedTruncatedOrReorderedEnvelopesAreRefused) {
  const std::string data = RandomBytes(3 * kChunk + 100, 7);
  const std::string envelope = Seal(data, keys.Public512);
  const std::size_t body = BodyStart(envelope);
  const std::size_t sealed = kChunk + kTag;
  auto flipped = [&](std::size_t at) {
    std::string copy = envelope;
    copy[at] = static_cast<char>(copy[at] ^ 1);
    return copy;
  };
  // The salt changed to another hex digit, so the header still parses and must fail its check.
  std::string salted = envelope;
  const std::size_t saltAt = envelope.find("salt: ") + 6;
  salted[saltAt] = salted[saltAt] == '0' ? '1' : '0';
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
      {"chunks swapped", reordered, "chunk 0 does not authenticate"},
      {"last chunk dropped", envelope.substr(0, body + 3 * sealed), "end does not authenticate"},
      {"cut inside the last chunk", envelope.substr(0, envelope.size() - 3), "end does not authenticate"},
      {"header only", envelope.substr(0, body), "holds no data"},
      {"cut inside the header", envelope.substr(0, 40), "header is truncated"},
      {"not an envelope", "TBTqecGR1k24C6kvGsQB\n", "not an envelope"},
      {"another version", "qarvex-envelope/9\n", "version 9"},
  };
  for (const auto& c : cases) {
    const auto result = Qrsa({"open", "-k", keys.Key512, "-o", dir.File("out")}, c.input);
    EXPECT_EQ(result.Status, kFailure) << c.name;
    EXPECT_NE(result.Err.find(c.message), std::string::npos) << c.name << ": " << result.Err;
    // With -o nothing is written unless everything authenticated.
    EXPECT_TRUE(dir.Entries().empty()) << c.name;
  }
  // To standard output, the authenticated chunks before the missing end come out, then exit 3.
  const auto cut = Qrsa({"open", "-k", keys.Key512}, envelope.substr(0, body + 3 * sealed));
  EXPECT_EQ(cut.Status, kFailure);
  EXPECT_EQ(cut.Out, data.substr(0, 2 * kChunk));
}

TEST_F(EnvelopeTest, AnotherKeyIsNamedByItsFingerprint) {
  const std::string envelope = Seal("for the 1024-bit key", keys.Public1024);
  const std::string wanted = Ok(Qrsa({"show", "-k", keys.Key1024, "fingerprint"}));
  const auto result = Qrsa({"open", "-k", keys.Key512, "-o", dir.File("out")}, envelope);
  EXPECT_EQ(result.Status, kFailure);
  EXPECT_NE(result.Err.find("sealed for the key " + wanted.substr(0, wanted.size() - 1)), std::string::npos) << result.Err;
  EXPECT_FALSE(dir.Exists("out"));
  // A key file with the private key alone has no fingerprint: the header's authentication refuses.
  const std::string privateText = Ok(Qrsa({"show", "-k", keys.Key512, "private"}));
  dir.Write("private.txt", privateText);
  const auto bare = Qrsa({"open", "-k", dir.File("private.txt")}, Seal("x", keys.Public1024));
  EXPECT_EQ(bare.Status, kFailure);
  EXPECT_EQ(bare.Out, "");
}

}  // namespace
}  // namespace Testing
