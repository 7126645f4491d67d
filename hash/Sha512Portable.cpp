// SHA-512's compression function in portable C++ (FIPS 180-4, 6.4.2); SHA-384 uses it with its own
// initial values. Laid out as SHA-256's: a 16-word schedule window, each word made just before the round
// that takes it, and 16 rounds unrolled so the working variables rotate by name. Runs in time that
// depends only on the number of blocks.
#include "hash/HashInternal.h"

namespace Hash::Detail {

namespace {

constexpr std::uint64_t K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

inline std::uint64_t BigSigma0(std::uint64_t x) { return Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39); }
inline std::uint64_t BigSigma1(std::uint64_t x) { return Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41); }
inline std::uint64_t SmallSigma0(std::uint64_t x) { return Rotr64(x, 1) ^ Rotr64(x, 8) ^ (x >> 7); }
inline std::uint64_t SmallSigma1(std::uint64_t x) { return Rotr64(x, 19) ^ Rotr64(x, 61) ^ (x >> 6); }

}  // namespace

// One round, on schedule word W: d and h are the variables it changes; the caller rotates the names.
// Majority(a, b, c) is written as b ^ ((a ^ b) & (b ^ c)), which saves an operation on the usual form.
#define QARVEX_SHA512_ROUND(a, b, c, d, e, f, g, h, i, W)                                   \
  do {                                                                               \
    const std::uint64_t t1 = h + BigSigma1(e) + (g ^ (e & (f ^ g))) + K[j + (i)] + (W);   \
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
  QARVEX_SHA512_ROUND(a, b, c, d, e, f, g, h, 0, WORD(0));   \
  QARVEX_SHA512_ROUND(h, a, b, c, d, e, f, g, 1, WORD(1));   \
  QARVEX_SHA512_ROUND(g, h, a, b, c, d, e, f, 2, WORD(2));   \
  QARVEX_SHA512_ROUND(f, g, h, a, b, c, d, e, 3, WORD(3));   \
  QARVEX_SHA512_ROUND(e, f, g, h, a, b, c, d, 4, WORD(4));   \
  QARVEX_SHA512_ROUND(d, e, f, g, h, a, b, c, 5, WORD(5));   \
  QARVEX_SHA512_ROUND(c, d, e, f, g, h, a, b, 6, WORD(6));   \
  QARVEX_SHA512_ROUND(b, c, d, e, f, g, h, a, 7, WORD(7));   \
  QARVEX_SHA512_ROUND(a, b, c, d, e, f, g, h, 8, WORD(8));   \
  QARVEX_SHA512_ROUND(h, a, b, c, d, e, f, g, 9, WORD(9));   \
  QARVEX_SHA512_ROUND(g, h, a, b, c, d, e, f, 10, WORD(10)); \
  QARVEX_SHA512_ROUND(f, g, h, a, b, c, d, e, 11, WORD(11)); \
  QARVEX_SHA512_ROUND(e, f, g, h, a, b, c, d, 12, WORD(12)); \
  QARVEX_SHA512_ROUND(d, e, f, g, h, a, b, c, 13, WORD(13)); \
  QARVEX_SHA512_ROUND(c, d, e, f, g, h, a, b, 14, WORD(14)); \
  QARVEX_SHA512_ROUND(b, c, d, e, f, g, h, a, 15, WORD(15))

void Sha512BlocksPortable(std::uint64_t* State, const unsigned char* Data, std::size_t Blocks) {
  std::uint64_t w[16];  // the schedule window, wiped once at the end
  for (; Blocks > 0; --Blocks, Data += 128) {
    for (int i = 0; i < 16; ++i) w[i] = LoadBe64(Data + 8 * i);
    std::uint64_t a = State[0], b = State[1], c = State[2], d = State[3];
    std::uint64_t e = State[4], f = State[5], g = State[6], h = State[7];
    int j = 0;
    QARVEX_SIXTEEN_ROUNDS(QARVEX_WORD_LOADED);
    for (j = 16; j < 80; j += 16) {
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
#undef QARVEX_SHA512_ROUND

}  // namespace Hash::Detail
