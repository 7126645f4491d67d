// The message digests against the published FIPS 180 examples, against themselves when the input is
// fed in pieces, and against OpenSSL on random messages of every length up to 2000 bytes; the block
// functions on the SHA instructions against the portable ones. On x86-64 the suite runs this program
// twice, the second time with QARVEX_HASH=portable, so both paths meet the vectors and OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "hash/Hash.h"
#include "hash/HashInternal.h"

using Hash::THash;
using Hash::THashKind;

namespace {

constexpr THashKind AllKinds[] = {THashKind::Sha1, THashKind::Sha256, THashKind::Sha384, THashKind::Sha512};

std::string Hex(const unsigned char* data, std::size_t size) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", data[i]);
    text += pair;
  }
  return text;
}

std::string DigestHex(THashKind kind, const std::string& message) {
  unsigned char out[Hash::MaxDigestSize];
  Hash::Digest(kind, message.data(), message.size(), out);
  return Hex(out, Hash::DigestSize(kind));
}

const EVP_MD* OpenSslDigest(THashKind kind) {
  switch (kind) {
    case THashKind::Sha1: return EVP_sha1();
    case THashKind::Sha256: return EVP_sha256();
    case THashKind::Sha384: return EVP_sha384();
    case THashKind::Sha512: return EVP_sha512();
  }
  return nullptr;
}

std::string OpenSslHex(THashKind kind, const unsigned char* data, std::size_t size) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, out, &length, OpenSslDigest(kind), nullptr) != 1) return "openssl failed";
  return Hex(out, length);
}

std::vector<unsigned char> RandomBytes(std::mt19937& random, std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
  return bytes;
}

const std::string Message448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string Message896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
    "nopqrstu";

// The examples of FIPS 180-2 (appendices A to D) and NIST's examples for SHA-384 and SHA-512: the empty
// message, "abc", the 448-bit and 896-bit two-block messages, and one million 'a'.
struct TVector {
  THashKind Kind;
  const std::string* Message;
  const char* Expected;
};
const std::string Empty;
const std::string Abc = "abc";
const std::string MillionA(1000000, 'a');
const TVector Vectors[] = {
    {THashKind::Sha1, &Empty, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {THashKind::Sha1, &Abc, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {THashKind::Sha1, &Message448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {THashKind::Sha1, &Message896, "a49b2446a02c645bf419f995b67091253a04a259"},
    {THashKind::Sha1, &MillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {THashKind::Sha256, &Empty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {THashKind::Sha256, &Abc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {THashKind::Sha256, &Message448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {THashKind::Sha256, &Message896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {THashKind::Sha256, &MillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {THashKind::Sha384, &Empty,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {THashKind::Sha384, &Abc,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {THashKind::Sha384, &Message448,
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b"},
    {THashKind::Sha384, &Message896,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {THashKind::Sha384, &MillionA,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {THashKind::Sha512, &Empty,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {THashKind::Sha512, &Abc,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {THashKind::Sha512, &Message448,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {THashKind::Sha512, &Message896,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {THashKind::Sha512, &MillionA,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

}  // namespace

TEST(HashSizes, DigestAndBlockSizesAndNames) {
  struct TCase {
    THashKind Kind;
    std::size_t Digest, Block;
    const char* Name;
  };
  const TCase cases[] = {{THashKind::Sha1, 20, 64, "sha1"},
                         {THashKind::Sha256, 32, 64, "sha256"},
                         {THashKind::Sha384, 48, 128, "sha384"},
                         {THashKind::Sha512, 64, 128, "sha512"}};
  for (const TCase& c : cases) {
    EXPECT_EQ(Hash::DigestSize(c.Kind), c.Digest) << c.Name;
    EXPECT_EQ(Hash::BlockSize(c.Kind), c.Block) << c.Name;
    EXPECT_STREQ(Hash::HashName(c.Kind), c.Name);
    EXPECT_EQ(THash(c.Kind).DigestSize(), c.Digest) << c.Name;
    EXPECT_LE(c.Digest, Hash::MaxDigestSize);
    EXPECT_LE(c.Block, Hash::MaxBlockSize);
  }
}

TEST(HashSizes, RefusesAKindOutsideTheEnumeration) {
  const auto bad = static_cast<THashKind>(9);
  EXPECT_THROW(Hash::DigestSize(bad), std::invalid_argument);
  EXPECT_THROW(Hash::BlockSize(bad), std::invalid_argument);
  EXPECT_THROW(Hash::HashName(bad), std::invalid_argument);
  EXPECT_THROW(THash{bad}, std::invalid_argument);
}

TEST(HashVectors, PublishedExamples) {
  for (const TVector& v : Vectors) {
    EXPECT_EQ(DigestHex(v.Kind, *v.Message), v.Expected)
        << Hash::HashName(v.Kind) << " of " << v.Message->size() << " bytes";
  }
}

// One million 'a' fed as 1000 pieces of 1000 through one object, as a streaming caller would.
TEST(HashVectors, MillionAStreamed) {
  const std::string piece(1000, 'a');
  for (const TVector& v : Vectors) {
    if (v.Message != &MillionA) continue;
    THash hash(v.Kind);
    for (int i = 0; i < 1000; ++i) hash.Update(piece.data(), piece.size());
    unsigned char out[Hash::MaxDigestSize];
    hash.Final(out);
    EXPECT_EQ(Hex(out, hash.DigestSize()), v.Expected) << Hash::HashName(v.Kind);
  }
}

// Messages whose lengths sit at the padding's edges (the length field just fits, just does not, a whole
// block, one byte more) split into two pieces at every offset, and into three around each block edge.
TEST(HashStreaming, SplitAtEveryOffsetGivesTheSameDigest) {
  std::mt19937 random(23);
  for (const std::size_t length : {55u, 56u, 63u, 64u, 111u, 112u, 127u, 128u, 129u, 300u}) {
    const std::vector<unsigned char> message = RandomBytes(random, length);
    for (const THashKind kind : AllKinds) {
      unsigned char whole[Hash::MaxDigestSize];
      Hash::Digest(kind, message.data(), message.size(), whole);
      const std::string expected = Hex(whole, Hash::DigestSize(kind));
      for (std::size_t split = 0; split <= length; ++split) {
        THash hash(kind);
        hash.Update(message.data(), split);
        hash.Update(message.data() + split, length - split);
        unsigned char out[Hash::MaxDigestSize];
        hash.Final(out);
        ASSERT_EQ(Hex(out, hash.DigestSize()), expected)
            << Hash::HashName(kind) << ", " << length << " bytes split at " << split;
      }
      for (std::size_t split = 1; split + 1 < length; split += 7) {
        THash hash(kind);
        hash.Update(message.data(), split);
        hash.Update(message.data() + split, 1);
        hash.Update(nullptr, 0);
        hash.Update(message.data() + split + 1, length - split - 1);
        unsigned char out[Hash::MaxDigestSize];
        hash.Final(out);
        ASSERT_EQ(Hex(out, hash.DigestSize()), expected)
            << Hash::HashName(kind) << ", " << length << " bytes in three pieces at " << split;
      }
    }
  }
}

// Byte-at-a-time feeding of a message across several blocks.
TEST(HashStreaming, ByteAtATime) {
  std::mt19937 random(7);
  const std::vector<unsigned char> message = RandomBytes(random, 777);
  for (const THashKind kind : AllKinds) {
    THash hash(kind);
    for (const unsigned char byte : message) hash.Update(&byte, 1);
    unsigned char out[Hash::MaxDigestSize];
    hash.Final(out);
    EXPECT_EQ(Hex(out, hash.DigestSize()), OpenSslHex(kind, message.data(), message.size()))
        << Hash::HashName(kind);
  }
}

// Final starts over, Reset drops what was taken, and a copy carries on independently of the original.
TEST(HashStreaming, FinalResetAndCopy) {
  for (const THashKind kind : AllKinds) {
    const std::size_t size = Hash::DigestSize(kind);
    unsigned char out[Hash::MaxDigestSize];
    THash hash(kind);
    hash.Update("abc", 3);
    hash.Final(out);
    EXPECT_EQ(Hex(out, size), DigestHex(kind, "abc"));
    hash.Update("abc", 3);
    hash.Final(out);
    EXPECT_EQ(Hex(out, size), DigestHex(kind, "abc")) << "Final must start over";

    hash.Update("something else", 14);
    hash.Reset();
    hash.Update("abc", 3);
    hash.Final(out);
    EXPECT_EQ(Hex(out, size), DigestHex(kind, "abc")) << "Reset must drop the input";

    hash.Update("ab", 2);
    THash copy = hash;
    copy.Update("c", 1);
    hash.Update("x", 1);
    copy.Final(out);
    EXPECT_EQ(Hex(out, size), DigestHex(kind, "abc"));
    hash.Final(out);
    EXPECT_EQ(Hex(out, size), DigestHex(kind, "abx"));
  }
}

TEST(HashStreaming, RefusesMissingPointers) {
  THash hash(THashKind::Sha256);
  EXPECT_THROW(hash.Update(nullptr, 1), std::invalid_argument);
  EXPECT_THROW(hash.Final(nullptr), std::invalid_argument);
  hash.Update(nullptr, 0);  // nothing to read: allowed
}

// Neither Final nor the destructor leaves the message or the chaining state in the object's storage.
TEST(HashWipe, FinalAndDestructorLeaveNoInput) {
  const std::vector<unsigned char> secret(100, 0xa5);
  const auto holdsSecret = [](const unsigned char* bytes, std::size_t size) {
    const unsigned char run[8] = {0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5};
    return std::search(bytes, bytes + size, run, run + sizeof run) != bytes + size;
  };
  for (const THashKind kind : AllKinds) {
    // Zeroed first, so the padding between the members reads as defined (valgrind runs this too).
    alignas(THash) unsigned char storage[sizeof(THash)] = {};
    THash* hash = new (storage) THash(kind);
    hash->Update(secret.data(), secret.size());
    ASSERT_TRUE(holdsSecret(storage, sizeof storage)) << "the probe must see the buffered input";
    unsigned char out[Hash::MaxDigestSize];
    hash->Final(out);
    EXPECT_FALSE(holdsSecret(storage, sizeof storage)) << Hash::HashName(kind) << " after Final";
    hash->Update(secret.data(), secret.size());
    hash->~THash();
    EXPECT_FALSE(holdsSecret(storage, sizeof storage)) << Hash::HashName(kind) << " after destruction";
  }
}

// Random messages of every length 0..2000 against OpenSSL, in one piece and in random pieces.
TEST(HashOpenSsl, RandomLengthsAgree) {
  std::mt19937 random(180);
  for (const THashKind kind : AllKinds) {
    for (std::size_t length = 0; length <= 2000; ++length) {
      const std::vector<unsigned char> message = RandomBytes(random, length);
      const std::string expected = OpenSslHex(kind, message.data(), message.size());
      unsigned char out[Hash::MaxDigestSize];
      Hash::Digest(kind, message.data(), message.size(), out);
      ASSERT_EQ(Hex(out, Hash::DigestSize(kind)), expected) << Hash::HashName(kind) << ", " << length << " bytes";
      if (length % 13 != 0) continue;
      THash hash(kind);
      for (std::size_t at = 0; at < length;) {
        const std::size_t piece = std::min<std::size_t>(length - at, random() % 300);
        hash.Update(message.data() + at, piece);
        at += piece;
      }
      hash.Final(out);
      ASSERT_EQ(Hex(out, hash.DigestSize()), expected) << Hash::HashName(kind) << ", " << length << " bytes in pieces";
    }
  }
}

// The path this process uses is the one the environment asks for, else the best the processor has.
TEST(HashBlocks, SelectedImplementation) {
  const Hash::Detail::TBlockFunctions& selected = Hash::Detail::SelectedBlockFunctions();
  const char* forced = std::getenv("QARVEX_HASH");
  const Hash::Detail::TBlockFunctions* ni = Hash::Detail::ShaNiBlockFunctions();
  if (forced != nullptr && std::strcmp(forced, "portable") == 0) {
    EXPECT_STREQ(selected.Name, "portable");
  } else {
    EXPECT_STREQ(selected.Name, ni != nullptr ? "shani" : "portable");
  }
  std::printf("block functions: %s\n", selected.Name);
}

// The SHA-instruction block functions against the portable ones from random chaining states, on one to
// nine blocks at every alignment of the input.
TEST(HashBlocks, ShaInstructionsAgreeWithPortable) {
  const Hash::Detail::TBlockFunctions* ni = Hash::Detail::ShaNiBlockFunctions();
  if (ni == nullptr) GTEST_SKIP() << "this build or processor has no SHA instructions";
  const Hash::Detail::TBlockFunctions& portable = Hash::Detail::PortableBlockFunctions();
  std::mt19937 random(256);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t blocks = 1 + trial % 9, offset = trial % 16;
    const std::vector<unsigned char> data = RandomBytes(random, offset + 64 * blocks);
    struct TCase {
      const char* Name;
      Hash::Detail::TBlocks32 Ours, Reference;
      std::size_t Words;
    };
    for (const TCase& c : {TCase{"sha1", ni->Sha1, portable.Sha1, 5}, TCase{"sha256", ni->Sha256, portable.Sha256, 8}}) {
      std::uint32_t state[8], expected[8];
      for (std::uint32_t& word : state) word = static_cast<std::uint32_t>(random());
      std::memcpy(expected, state, sizeof state);
      c.Ours(state, data.data() + offset, blocks);
      c.Reference(expected, data.data() + offset, blocks);
      for (std::size_t i = 0; i < 8; ++i) {
        ASSERT_EQ(state[i], expected[i]) << c.Name << ", word " << i << ", " << blocks << " blocks at offset "
                                         << offset << (i >= c.Words ? " (beyond the state: must be left alone)" : "");
      }
    }
  }
}
