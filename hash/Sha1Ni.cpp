// SHA-1's compression function on the x86 SHA extensions. A, B, C and D live in one register (A in the
// top word) and E in the top word of another; sha1rnds4 does four rounds with the round function its
// immediate names, sha1nexte derives the next E (A of four rounds before, rotated by 30) and adds it to
// the next four schedule words, and sha1msg1/sha1msg2 make four schedule words at a time. Compiled with
// -msha -msse4.1 (this file only) and reached only where the processor has both. Runs in time that
// depends only on the number of blocks.
#include <immintrin.h>

#include <utility>

#include "hash/HashInternal.h"

namespace Hash::Detail {

namespace {

// Four rounds, 4G to 4G+3, with the round function of rounds 20*(G/5) on. From group 4 on, the group's
// schedule words are made first: word t from words t-16 and t-14 (msg1), t-8 (the xor) and t-3 (msg2),
// in place of the words of group G-4. Previous holds ABCD from before the last group, whose A gives E.
template <int G>
inline void Group(__m128i (&m)[4], __m128i& abcd, __m128i& previous) {
  if constexpr (G >= 4) {
    __m128i x = _mm_sha1msg1_epu32(m[G & 3], m[(G + 1) & 3]);
    x = _mm_xor_si128(x, m[(G + 2) & 3]);
    m[G & 3] = _mm_sha1msg2_epu32(x, m[(G + 3) & 3]);
  }
  // In group 0, Previous holds E itself in its top word (zeros below) and is added as it is.
  const __m128i ew = G == 0 ? _mm_add_epi32(previous, m[0]) : _mm_sha1nexte_epu32(previous, m[G & 3]);
  previous = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, ew, G / 5);
}

template <int... G>
inline void AllGroups(std::integer_sequence<int, G...>, __m128i (&m)[4], __m128i& abcd, __m128i& previous) {
  (Group<G>(m, abcd, previous), ...);
}

}  // namespace

void Sha1BlocksNi(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks) {
  // The message words are big-endian and the first goes in the top lane: reverse all 16 bytes.
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(State)), 0x1b);
  __m128i e = _mm_set_epi32(static_cast<int>(State[4]), 0, 0, 0);
  __m128i m[4];
  for (; Blocks > 0; --Blocks, Data += 64) {
    const __m128i abcdStart = abcd, eStart = e;
    for (int i = 0; i < 4; ++i)
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + 16 * i)), reverse);
    __m128i previous = e;
    AllGroups(std::make_integer_sequence<int, 20>{}, m, abcd, previous);
    // E after round 80 is A after round 76 rotated by 30.
    e = _mm_sha1nexte_epu32(previous, eStart);
    abcd = _mm_add_epi32(abcd, abcdStart);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(State), _mm_shuffle_epi32(abcd, 0x1b));
  State[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

}  // namespace Hash::Detail
