// The padding of string encryption. The plain text is padded to whole blocks of B = K-1 bytes, one block
// per K-byte RSA block (its top byte stays zero, so every block is below the modulus). The pad ends in
// its own length p, so decryption knows how many bytes to cut:
// - Keys up to 2048 bits (K <= 256): p bytes, each of value p, 1 <= p <= B. One byte counts them.
// - Larger keys: B is 383 or 511, more than one byte counts, so the pad ends in a two-byte count: p-2
//   zero bytes, then p, high byte first, 2 <= p <= B+1. A plain text one byte short of whole blocks
//   therefore takes one more block, to make room for the count.
#pragma once

#include <cstdint>
#include <cstring>

namespace Rsa {

// Bytes that hold the pad count at the end of the pad: 1 for keys of up to 256 bytes, 2 above.
constexpr int PadCountBytes(int keyBytes) { return keyBytes <= 256 ? 1 : 2; }

// Blocks of K-1 bytes that a plain text of `length` bytes fills together with its pad: the fewest that
// leave room for the count.
constexpr std::uint64_t PaddedBlocks(std::uint64_t length, int keyBytes) {
  const std::uint64_t B = std::uint64_t(keyBytes - 1);
  const std::uint64_t least = length + std::uint64_t(PadCountBytes(keyBytes));
  return least / B + (least % B != 0 ? 1 : 0);
}

// The pad length p for a plain text of `length` bytes.
constexpr int PadLength(std::uint64_t length, int keyBytes) {
  return int(PaddedBlocks(length, keyBytes) * std::uint64_t(keyBytes - 1) - length);
}

// Writes the p pad bytes from pad onward.
inline void WritePad(unsigned char* pad, int p, int keyBytes) {
  if (PadCountBytes(keyBytes) == 1) {
    std::memset(pad, p, std::size_t(p));
    return;
  }
  std::memset(pad, 0, std::size_t(p - 2));
  pad[p - 2] = static_cast<unsigned char>(p >> 8);
  pad[p - 1] = static_cast<unsigned char>(p);
}

// The pad count held by the last bytes of a padded text; end points just past its last byte, and the
// text has at least one whole block before it.
inline int ReadPadCount(const unsigned char* end, int keyBytes) {
  if (PadCountBytes(keyBytes) == 1) return end[-1];
  return end[-2] << 8 | end[-1];
}

}  // namespace Rsa
