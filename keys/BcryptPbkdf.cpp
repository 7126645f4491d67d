#include "keys/BcryptPbkdf.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "keys/BlowfishState.h"
#include "keys/KeyError.h"

namespace Qarvex::Keys {

namespace {

using Internal::BlowfishState;

constexpr std::size_t HashBytes = 64;  // SHA-512
constexpr std::size_t BlockBytes = 32;  // one bcrypt hash

std::uint32_t F(const BlowfishState& s, std::uint32_t x) {
  return ((s.S[0][x >> 24] + s.S[1][(x >> 16) & 0xff]) ^ s.S[2][(x >> 8) & 0xff]) + s.S[3][x & 0xff];
}

// One Blowfish block encryption of (left, right), 16 rounds.
void Encipher(const BlowfishState& s, std::uint32_t& left, std::uint32_t& right) {
  std::uint32_t l = left ^ s.P[0], r = right;
  for (int i = 1; i <= 16; i += 2) {
    r ^= F(s, l) ^ s.P[i];
    l ^= F(s, r) ^ s.P[i + 1];
  }
  left = r ^ s.P[17];
  right = l;
}

// The next four bytes of data, big-endian, read cyclically from position `at`.
std::uint32_t StreamWord(const unsigned char* data, std::size_t size, std::size_t& at) {
  std::uint32_t word = 0;
  for (int i = 0; i < 4; ++i) {
    if (at >= size) at = 0;
    word = (word << 8) | data[at++];
  }
  return word;
}

// The key schedule's expansion: P is XORed with the key, then P and the S-boxes are replaced by the
// chained encryptions, each input block XORed with the next words of `data` (none when data is null).
void Expand(BlowfishState& s, const unsigned char* data, std::size_t dataBytes, const unsigned char* key,
            std::size_t keyBytes) {
  std::size_t at = 0;
  for (std::uint32_t& p : s.P) p ^= StreamWord(key, keyBytes, at);
  std::uint32_t left = 0, right = 0;
  at = 0;
  auto next = [&](std::uint32_t& a, std::uint32_t& b) {
    if (data) {
      left ^= StreamWord(data, dataBytes, at);
      right ^= StreamWord(data, dataBytes, at);
    }
    Encipher(s, left, right);
    a = left;
    b = right;
  };
  for (int i = 0; i < 18; i += 2) next(s.P[i], s.P[i + 1]);
  for (auto& box : s.S)
    for (int k = 0; k < 256; k += 2) next(box[k], box[k + 1]);
}

// bcrypt's hash of 64-byte passphrase and salt hashes into 32 bytes.
void BcryptHash(const unsigned char* passHash, const unsigned char* saltHash, unsigned char* out) {
  BlowfishState s = Internal::BlowfishInitialState;
  Expand(s, saltHash, HashBytes, passHash, HashBytes);
  for (int i = 0; i < 64; ++i) {
    Expand(s, nullptr, 0, saltHash, HashBytes);
    Expand(s, nullptr, 0, passHash, HashBytes);
  }
  static const char magic[] = "OxychromaticBlowfishSwatDynamite";
  std::uint32_t words[BlockBytes / 4];
  std::size_t at = 0;
  for (std::uint32_t& w : words) w = StreamWord(reinterpret_cast<const unsigned char*>(magic), BlockBytes, at);
  for (int i = 0; i < 64; ++i)
    for (std::size_t j = 0; j < BlockBytes / 4; j += 2) Encipher(s, words[j], words[j + 1]);
  // Each word's bytes least significant first.
  for (std::size_t j = 0; j < BlockBytes / 4; ++j)
    for (int b = 0; b < 4; ++b) out[4 * j + std::size_t(b)] = static_cast<unsigned char>(words[j] >> (8 * b));
  OPENSSL_cleanse(&s, sizeof s);
  OPENSSL_cleanse(words, sizeof words);
}

void Sha512(const void* data, std::size_t size, unsigned char* out) {
  unsigned int length = 0;
  if (EVP_Digest(data, size, out, &length, EVP_sha512(), nullptr) != 1 || length != HashBytes)
    throw KeyError("SHA-512 is not available");
}

}  // namespace

void BcryptPbkdf(std::string_view passphrase, std::string_view salt, std::uint32_t rounds, unsigned char* key,
                 std::size_t keyBytes) {
  if (rounds < 1 || keyBytes == 0 || keyBytes > BlockBytes * BlockBytes)
    throw KeyError("the bcrypt key derivation's parameters are out of range");
  const std::size_t stride = (keyBytes + BlockBytes - 1) / BlockBytes;
  const std::size_t amount = (keyBytes + stride - 1) / stride;
  unsigned char passHash[HashBytes], saltHash[HashBytes], block[BlockBytes], sum[BlockBytes];
  Sha512(passphrase.data(), passphrase.size(), passHash);
  std::string countedSalt(salt);
  countedSalt.append(4, '\0');
  for (std::uint32_t count = 1; std::size_t(count - 1) < stride; ++count) {
    for (int b = 0; b < 4; ++b) countedSalt[salt.size() + std::size_t(b)] = static_cast<char>(count >> (24 - 8 * b));
    Sha512(countedSalt.data(), countedSalt.size(), saltHash);
    BcryptHash(passHash, saltHash, block);
    std::memcpy(sum, block, BlockBytes);
    for (std::uint32_t round = 1; round < rounds; ++round) {
      Sha512(block, BlockBytes, saltHash);
      BcryptHash(passHash, saltHash, block);
      for (std::size_t i = 0; i < BlockBytes; ++i) sum[i] ^= block[i];
    }
    // Output byte i of this block goes to key byte i*stride + count-1.
    for (std::size_t i = 0; i < amount; ++i) {
      const std::size_t to = i * stride + (count - 1);
      if (to >= keyBytes) break;
      key[to] = sum[i];
    }
  }
  OPENSSL_cleanse(passHash, sizeof passHash);
  OPENSSL_cleanse(saltHash, sizeof saltHash);
  OPENSSL_cleanse(block, sizeof block);
  OPENSSL_cleanse(sum, sizeof sum);
}

}  // namespace Qarvex::Keys
