// Regression: the Montgomery kernel needed a 128-bit integer type, which 32-bit machines lack, so the
// component did not build there at all. There it now computes with TwoLimbs; on this machine the same
// arithmetic is checked against the built-in 128-bit type on edge values and seeded random ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "bignum/Montgomery.h"

#ifdef __SIZEOF_INT128__

namespace {

using Rsa::Limb;
using Rsa::TwoLimbs;
__extension__ typedef unsigned __int128 U128;

U128 Wide(TwoLimbs x) { return (U128(x.Hi) << 64) | x.Lo; }

TEST(RegressionTwoLimbs, ArithmeticMatchesTheBuiltInType) {
  const Limb edges[] = {0, 1, 2, 0xFFFFFFFFu, 0x100000000u, (Limb{1} << 63) - 1, Limb{1} << 63, ~Limb{0} - 1, ~Limb{0}};
  std::mt19937_64 random(0x7A0);
  // The first 729 cases take every triple of edge values for x's two limbs and y's high limb.
  auto pick = [&](int i, int place) { return i < 729 ? edges[(i / (place == 0 ? 1 : place == 1 ? 9 : 81)) % 9] : random(); };
  for (int i = 0; i < 20000; ++i) {
    const TwoLimbs x(pick(i, 0), pick(i, 1)), y(pick(i, 2), i % 5 == 0 ? ~Limb{0} : random());
    const U128 X = Wide(x), Y = Wide(y);
    ASSERT_EQ(Wide(x + y), X + Y) << i;
    ASSERT_EQ(Wide(x - y), X - Y) << i;
    ASSERT_EQ(x < y, X < Y) << i;
    ASSERT_EQ(y < x, Y < X) << i;
    ASSERT_FALSE(x < x) << i;
    ASSERT_EQ(Wide(x * y), X * Y) << i;
    ASSERT_EQ(Wide(TwoLimbs(x.Lo) * y.Lo), U128(x.Lo) * y.Lo) << i;
    ASSERT_EQ(Wide(x | y), X | Y) << i;
    ASSERT_EQ(static_cast<Limb>(x), static_cast<Limb>(X)) << i;
    for (unsigned n : {0u, 1u, 31u, 32u, 63u, 64u, 65u, 127u}) {
      ASSERT_EQ(Wide(x << n), X << n) << i << " << " << n;
      ASSERT_EQ(Wide(x >> n), X >> n) << i << " >> " << n;
    }
  }
}

}  // namespace

#endif
