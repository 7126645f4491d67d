// The envelope library's streaming API in process: writes and reads of any size across chunk and armour
// line boundaries, several recipients, the header as the reader sees it, and the writer's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "envelope/Envelope.h"
#include "support/FixtureKeys.h"

namespace Testing {
namespace {

namespace Envelope = Qarvex::Envelope;
constexpr std::size_t kChunk = Envelope::ChunkBytes;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

// A component holding fixture key `which` of the given size: both keys, or one of them.
struct Key {
  enum Parts { Both, PublicOnly, PrivateOnly };
  Classes::TComponent Form{nullptr};
  Rsa::TRSA* Component = new Rsa::TRSA(&Form);
  Key(int bits, int which, Parts parts = Both) {
    Component->SetKeyBits(KeyBitsFor(bits));
    if (parts != PrivateOnly) Component->PutPublicKey(FixturePublicKeyText(bits, which));
    if (parts != PublicOnly) Component->PutPrivateKey(FixturePrivateKeyText(bits, which));
  }
};

// Writes data to the writer in pieces of the given size.
std::string SealInPieces(const std::vector<Rsa::TRSA*>& recipients, const std::string& data, std::size_t piece,
                         bool armor = false) {
  std::string out;
  Envelope::SealOptions options;
  options.Armor = armor;
  Envelope::EnvelopeWriter writer(recipients, [&](const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); },
                                  options);
  for (std::size_t at = 0; at < data.size(); at += piece) writer.Write(std::string_view(data).substr(at, piece));
  EXPECT_EQ(writer.BytesWritten(), data.size());
  writer.Finish();
  return out;
}

// Reads the whole envelope in pieces of the given size.
std::string OpenInPieces(Rsa::TRSA& key, const std::string& envelope, std::size_t piece, std::size_t feed = 1000,
                         Envelope::Header* header = nullptr) {
  std::size_t at = 0;
  // The reader is fed in pieces of `feed` bytes, so the header and the chunks arrive split anywhere.
  Envelope::EnvelopeReader reader(key, [&](void* p, std::size_t n) {
    const std::size_t take = std::min({n, feed, envelope.size() - at});
    std::memcpy(p, envelope.data() + at, take);
    at += take;
    return take;
  });
  if (header) *header = reader.GetHeader();
  std::string out(piece, '\0'), data;
  for (std::size_t got; (got = reader.Read(out.data(), piece)) != 0;) data.append(out, 0, got);
  return data;
}

TEST(EnvelopeLibrary, StreamsInPiecesOfAnySize) {
  Key alice(1024, 0), bob(2048, 1);
  const struct {
    std::size_t size, writePiece, readPiece, feed;
    bool armor;
  } cases[] = {
      {0, 1, 1, 1, false},
      {1, 1, 7, 3, true},
      {kChunk, 4096, kChunk, 65536, false},
      {kChunk, kChunk, 1, 65537, true},
      {kChunk + 1, 1000, 333, 17, false},
      {2 * kChunk + 5, 3 * kChunk, 100000, 4096, true},
      {3 * kChunk, 48, kChunk + 16, 1 << 20, true},
  };
  for (const auto& c : cases) {
    const std::string data = RandomBytes(c.size, unsigned(c.size + c.writePiece));
    const std::string envelope = SealInPieces({alice.Component, bob.Component}, data, c.writePiece, c.armor);
    for (Rsa::TRSA* key : {alice.Component, bob.Component}) {
      Envelope::Header header;
      EXPECT_EQ(OpenInPieces(*key, envelope, c.readPiece, c.feed, &header), data) << c.size << " " << c.writePiece;
      EXPECT_EQ(header.Version, 2);
      EXPECT_EQ(header.Armored, c.armor);
      EXPECT_EQ(header.KeyBits, 1024);
      EXPECT_EQ(header.Recipients, (std::vector<std::string>{Envelope::Fingerprint(*alice.Component), Envelope::Fingerprint(*bob.Component)}));
    }
  }
}

TEST(EnvelopeLibrary, TheConvenienceCallsAndTheKeysTheyTake) {
  Key sealer(1024, 1, Key::PublicOnly), opener(1024, 1), privateOnly(1024, 1, Key::PrivateOnly);
  const std::string data = RandomBytes(kChunk + 10, 9);
  std::size_t at = 0;
  std::string envelope, back, again;
  std::vector<std::uint64_t> progress;
  Envelope::Seal(
      *sealer.Component,
      [&](void* p, std::size_t n) {
        const std::size_t take = std::min(n, data.size() - at);
        std::memcpy(p, data.data() + at, take);
        at += take;
        return take;
      },
      [&](const void* p, std::size_t n) { envelope.append(static_cast<const char*>(p), n); },
      [&](std::uint64_t done) { progress.push_back(done); });
  EXPECT_EQ(progress.back(), data.size());
  for (auto* key : {opener.Component, privateOnly.Component}) {
    std::size_t from = 0;
    std::string out;
    Envelope::Open(
        *key,
        [&](void* p, std::size_t n) {
          const std::size_t take = std::min(n, envelope.size() - from);
          std::memcpy(p, envelope.data() + from, take);
          from += take;
          return take;
        },
        [&](const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); });
    EXPECT_EQ(out, data);
  }
}

TEST(EnvelopeLibrary, TheWriterRefusesRecipientsItCannotSealFor) {
  Key small(512, 0), a(1024, 0), b(1024, 1), privateOnly(2048, 0, Key::PrivateOnly);
  const std::vector<Rsa::TRSA*> many(65, a.Component);
  const struct {
    const char* name;
    std::vector<Rsa::TRSA*> recipients;
    const char* message;
  } cases[] = {
      {"no recipient", {}, "at least one recipient"},
      {"65 recipients", many, "at most 64 recipients, not 65"},
      {"the same key twice", {a.Component, b.Component, a.Component}, "is given twice"},
      {"a 512-bit key", {a.Component, small.Component}, "512-bit key"},
      {"no public key", {privateOnly.Component}, "recipient 1 holds no public key"},
  };
  for (const auto& c : cases) {
    std::string out;
    try {
      Envelope::EnvelopeWriter writer(c.recipients, [&](const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); });
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const Envelope::EnvelopeError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.name << ": " << error.what();
    }
    EXPECT_EQ(out, "") << c.name;  // nothing written before the refusal
  }
  // An unfinished envelope has no last chunk and never opens.
  std::string cut;
  {
    Envelope::EnvelopeWriter writer({a.Component}, [&](const void* p, std::size_t n) { cut.append(static_cast<const char*>(p), n); });
    writer.Write(RandomBytes(2 * kChunk + 1, 4));
  }
  EXPECT_THROW(OpenInPieces(*a.Component, cut, kChunk), Envelope::EnvelopeError);
}

}  // namespace
}  // namespace Testing
