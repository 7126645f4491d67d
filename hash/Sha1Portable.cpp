// SHA-1's compression function in portable C++ (FIPS 180-4, 6.1.2), the 80-word schedule kept as a
// rolling window of 16 words. Runs in time that depends only on the number of blocks.
#include "hash/HashInternal.h"

namespace Hash::Detail {

void Sha1BlocksPortable(std::uint32_t* State, const unsigned char* Data, std::size_t Blocks) {
  std::uint32_t w[16];  // the schedule window, wiped once at the end
  for (; Blocks > 0; --Blocks, Data += 64) {
    for (int i = 0; i < 16; ++i) w[i] = LoadBe32(Data + 4 * i);
    std::uint32_t a = State[0], b = State[1], c = State[2], d = State[3], e = State[4];
    // Word t of the schedule, made in place from the words 3, 8, 14 and 16 before it.
    auto word = [&w](int t) -> std::uint32_t {
      if (t < 16) return w[t];
      std::uint32_t& slot = w[t & 15];
      slot = Rotl32(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ slot, 1);
      return slot;
    };
    auto step = [&](std::uint32_t f, std::uint32_t k, std::uint32_t wt) {
      const std::uint32_t next = Rotl32(a, 5) + f + e + k + wt;
      e = d;
      d = c;
      c = Rotl32(b, 30);
      b = a;
      a = next;
    };
    for (int t = 0; t < 20; ++t) step((b & c) | (~b & d), 0x5a827999u, word(t));
    for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ed9eba1u, word(t));
    for (int t = 40; t < 60; ++t) step((b & c) | (b & d) | (c & d), 0x8f1bbcdcu, word(t));
    for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xca62c1d6u, word(t));
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
    State[4] += e;
  }
  Wipe(w, sizeof w);
}

}  // namespace Hash::Detail
