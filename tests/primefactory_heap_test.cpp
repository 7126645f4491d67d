// Heap use of the prime search and of key generation, watched by replacing the global operator new
// and delete of this one test program: the search allocates nothing, and the factory is released
// when a status handler throws while it is alive.
//
// The replacement makes this program unsuitable for valgrind's memcheck, which substitutes its own
// allocator for libstdc++'s calls only; the other test programs carry no replacement.
#include <malloc.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "rsa/PrimeFactory.h"
#include "rsa/RSA.h"

namespace {

long gAllocations = 0;
// Live blocks in the factory's size class, counted on both sides by the usable size of the block.
long gLiveFactorySized = 0;
std::size_t gFactoryUsableSize = 0;

bool InFactoryClass(void* p) { return gFactoryUsableSize != 0 && malloc_usable_size(p) == gFactoryUsableSize; }

}  // namespace

// GCC takes the free of a block from the replaced operator new for a mismatch; the pairing here is
// deliberate.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  ++gAllocations;
  if (InFactoryClass(p)) ++gLiveFactorySized;
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  if (InFactoryClass(p)) --gLiveFactorySized;
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

class Heap : public ::testing::Test {
 protected:
  void SetUp() override {
    void* probe = std::malloc(sizeof(Rsa::TPrimeFactory));
    gFactoryUsableSize = malloc_usable_size(probe);
    std::free(probe);
    gLiveFactorySized = 0;
  }
  void TearDown() override { gFactoryUsableSize = 0; }
};

TEST_F(Heap, PrimeSearchAllocatesNothing) {
  Rsa::TPrimeFactory factory;
  Rsa::BigNum start{};
  start[8] = 1;  // 2^256: an even start, so the sieve, both tests and a window walk all run
  Rsa::BigNum result{};
  const long before = gAllocations;
  factory.FindPrime(start, result);
  EXPECT_EQ(gAllocations, before);
  EXPECT_EQ(result[8], 1u);
  EXPECT_EQ(result[0] & 1, 1u);
}

TEST_F(Heap, FactoryIsReleasedWhenAStatusHandlerThrowsWhileItLives) {
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  struct HandlerStop {};
  rsa.SetOnStatusUpdate([&rsa](System::TObject*) {
    if (rsa.Status() == "Finding second random prime") {
      EXPECT_EQ(gLiveFactorySized, 1) << "the factory should be alive here";
      throw HandlerStop{};
    }
  });
  EXPECT_THROW(rsa.MakeKeyPair(Rsa::BigNum{}, Rsa::BigNum{}), HandlerStop);
  EXPECT_EQ(gLiveFactorySized, 0) << "prime factory not released";
}

TEST_F(Heap, FactoryIsReleasedBeforeTheKeysAreCalculated) {
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(Rsa::kb0512);
  long liveAtCalculating = -1;
  rsa.SetOnStatusUpdate([&](System::TObject*) {
    if (rsa.Status() == "Calculating keys") liveAtCalculating = gLiveFactorySized;
  });
  rsa.MakeKeyPair(Rsa::BigNum{}, Rsa::BigNum{});
  EXPECT_EQ(liveAtCalculating, 0);
  EXPECT_EQ(gLiveFactorySized, 0);
}

}  // namespace
