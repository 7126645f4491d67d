// SHA-256's compression function in portable C++ (FIPS 180-4, 6.2.2). The 64-word schedule is kept as a
// window of 16 words, each word made just before the round that takes it, and the rounds are unrolled 16
// deep so the eight working variables rotate by name instead of by copying. Runs in time that depends
// only on the number of blocks.
#include "hash/HashInternal.h"

namespace Hash::Detail {

namespace {

constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t BigSigma0(std::uint32_t x) { return Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22); }
inline std::uint32_t BigSigma1(std::uint32_t x) { return Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25); }
inline std::uint32_t SmallSigma0(std::uint32_t x) { return Rotr32(x, 7) ^ Rotr32(x, 18) ^ (x >> 3); }
inline std::uint32_t SmallSigma1(std::uint32_t x) { return Rotr32(x, 17) ^ Rotr32(x, 19) ^ (x >> 10); }

}  // namespace

// One round, on schedule word W: d and h are the variables it changes; the caller rotates the names.
// Majority(a, b, c) is written as b ^ ((a ^ b) & (b ^ c)), which saves an operation on the usual form.
#define QARVEX_SHA256_ROUND(a, b, c, d, e, f, g, h, i, W)                                   \
  do {                                                                               \
    const std::uint32_t t1 = h + BigSigma1(e) + (g ^ (e & (f ^ g))) + K[j + (i)] + (W);   \
    d += t1;                                                                         \
    h = t1 + BigSigma0(a) + (b ^ ((a ^ b) & (b ^ c)));                               \
  } while (0)

// Schedule word t as it is: the first 16, straight from the block.
#define QARVEX_WORD_LOADED(i) w[i]
// Schedule word t from words t-2, t-7, t-15 and t-16, made in place of word t-16 just before the round
// that takes it, so the schedule and the rounds interleave.
#define QARVEX_WORD_NEXT(i) \
  (w[i] += SmallSigma1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] + SmallSigma0(w[((i) + 1) & 15]))

// Sixteen rounds, j to j+15, the names rotating one place per round.
#define QARVEX_SIXTEEN_ROUNDS(WORD)                 \
  QARVEX_SHA256_ROUND(a, b, c, d, e, f, g, h, 0, WORD(0));   \
  QARVEX_SHA256_ROUND(h, a, b, c, d, e, f, g, 1, WORD(1));   \
  QARVEX_SHA256_ROUND(g, h, a, b, c, d, e, f, 2, WORD(2));   \
  QARVEX_SHA256_ROUND(f, g, h, a, b, c, d, e, 3, WORD(3));   \
  QARVEX_SHA256_ROUND(e, f, g, h, a, b, c, d, 4, WORD(4));   \
  QARVEX_SHA256_ROUND(d, e, f, g, h, a, b, c, 5, WORD(5));   \
  QARVEX_SHA256_ROUND(c, d, e, f, g, h, a, b, 6, WORD(6));   \
  QARVEX_SHA256_ROUND(b, c, d, e, f, g, h, a, 7, WORD(7));   \
  QARVEX_SHA256_ROUND(a, b, c, d, e, f, g, h, 8, WORD(8));   \
  QARVEX_SHA256_ROUND(h, a, b, c, d, e, f, g, 9, WORD(9));   \
  QARVEX_SHA256_ROUND(g, h, a, b, c, d, e, f, 10, WORD(10)); \
  QARVEX_SHA256_ROUND(f, g, h, a, b, c, d, e, 11, WORD(11)); \
  QARVEX_SHA256_ROUND(e, f, g, h, a, b, c, d, 12, WORD(12)); \
  QARVEX_SHA256_ROUND(d, e, f, g, h, a, b, c, 13, WORD(13)); \
  QARVEX_SHA256_ROUND(c, d, e, f, g, h, a, b, 14, WORD(14)); \
  QARVEX_SHA256_ROUND(b, c, d, e, f, g, h, a, 15, WORD(15))

void Sha256BlocksPortable(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks) {
  std::uint32_t w[16];  // the schedule window, wiped once at the end
  for (; Blocks > 0; --Blocks, Data += 64) {
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(Data + 4 * i);
    std::uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
    std::uint32_t e = State[4], f = State[5], g = State[6], h = State[7];
    int j = 0;
    QARVEX_SIXTEEN_ROUNDS(QARVEX_WORD_LOADED);
    for (j = 16; j < 64; j += 16) {
      QARVEX_SIXTEEN_ROUNDS(QARVEX_WORD_NEXT);
    }
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
    State[4] += e;
    State[5] += f;
    State[6] += g;
    State[7] += h;
  }
  Wipe(w, sizeof w);
}

#undef QARVEX_SIXTEEN_ROUNDS
#undef QARVEX_WORD_NEXT
#undef QARVEX_WORD_LOADED
#undef QARVEX_SHA256_ROUND

}  // namespace Hash::Detail
