// SHA-256's compression function on the x86 SHA extensions. The state lives in two registers, ABEF and
// CDGH (A in the top word); sha256rnds2 does two rounds from the low two words of W+K, and sha256msg1/
// sha256msg2 make four schedule words at a time from the sixteen before them. Compiled with -msha
// -msse4.1 (this file only) and reached only where the processor has both. Runs in time that depends
// only on the number of blocks.
#include <immintrin.h>

#include <utility>

#include "hash/HashInternal.h"

namespace Hash::Detail {

namespace {

alignas(16) constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Four rounds, 4G to 4G+3. From group 4 on, the group's schedule words are made first: word t from
// words t-16 and t-15 (msg1), t-7 (the aligned add) and t-2 (msg2), in place of the words of group G-4.
template <int G>
inline void Group(__m128i (&m)[4], __m128i& abef, __m128i& cdgh) {
  if constexpr (G >= 4) {
    __m128i x = _mm_sha256msg1_epu32(m[G & 3], m[(G + 1) & 3]);
    x = _mm_add_epi32(x, _mm_alignr_epi8(m[(G + 3) & 3], m[(G + 2) & 3], 4));
    m[G & 3] = _mm_sha256msg2_epu32(x, m[(G + 3) & 3]);
  }
  __m128i wk = _mm_add_epi32(m[G & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(K + 4 * G)));
  // After two rounds the old ABEF is the new CDGH, so the two registers trade roles twice.
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  wk = _mm_shuffle_epi32(wk, 0x0e);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
}

template <int... G>
inline void AllGroups(std::integer_sequence<int, G...>, __m128i (&m)[4], __m128i& abef, __m128i& cdgh) {
  (Group<G>(m, abef, cdgh), ...);
}

}  // namespace

void Sha256BlocksNi(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks) {
  // Each message word is big-endian: swap the bytes within each 32-bit lane.
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  // State words a..h to ABEF and CDGH.
  __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(State));       // a b c d (a lowest)
  __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(State + 4));  // e f g h
  low = _mm_shuffle_epi32(low, 0xb1);                                            // b a d c
  high = _mm_shuffle_epi32(high, 0x1b);                                          // h g f e
  __m128i abef = _mm_alignr_epi8(low, high, 8);                                  // f e b a
  __m128i cdgh = _mm_blend_epi16(high, low, 0xf0);                               // h g d c
  __m128i m[4];
  for (; Blocks > 0; --Blocks, Data += 64) {
    const __m128i abefStart = abef, cdghStart = cdgh;
    for (int i = 0; i < 4; ++i)
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + 16 * i)), byteSwap);
    AllGroups(std::make_integer_sequence<int, 16>{}, m, abef, cdgh);
    abef = _mm_add_epi32(abef, abefStart);
    cdgh = _mm_add_epi32(cdgh, cdghStart);
  }
  // And back to a..h.
  low = _mm_shuffle_epi32(abef, 0x1b);                                     // a b e f
  high = _mm_shuffle_epi32(cdgh, 0xb1);                                    // g h c d
  _mm_storeu_si128(reinterpret_cast<__m128i*>(State), _mm_blend_epi16(low, high, 0xf0));     // a b c d
  _mm_storeu_si128(reinterpret_cast<__m128i*>(State + 4), _mm_alignr_epi8(high, low, 8));    // e f g h
}

}  // namespace Hash::Detail
