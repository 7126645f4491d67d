#include "host/core/Random.h"

#include <pthread.h>
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace System {

namespace {

// Operating-system entropy, buffered. One lock guards the buffer, so concurrent draws never share bytes.
// A child process made by fork() starts with an empty pool: otherwise parent and child would draw the
// same buffered bytes (and wrap their session keys with the same padding). The lock is held across
// the fork, so the child never inherits it taken or the buffer half-drawn.
class TEntropyPool {
 public:
  TEntropyPool() {
    if (pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild) != 0)
      throw std::runtime_error("cannot register the random generator's fork handlers");
  }
  std::uint32_t Next32() {
    std::lock_guard guard(FLock);
    if (FUsed + 4 > sizeof(FBuffer)) Refill();
    std::uint32_t value;
    std::memcpy(&value, FBuffer + FUsed, 4);
    std::memset(FBuffer + FUsed, 0, 4);  // drawn bytes do not linger in the pool
    FUsed += 4;
    return value;
  }

  // count bytes into out under one lock; the drawn bytes are cleared from the pool as in Next32.
  void Draw(unsigned char* out, std::size_t count) {
    std::lock_guard guard(FLock);
    while (count > 0) {
      if (FUsed == sizeof(FBuffer)) Refill();
      const std::size_t take = std::min(count, sizeof(FBuffer) - FUsed);
      std::memcpy(out, FBuffer + FUsed, take);
      std::memset(FBuffer + FUsed, 0, take);
      FUsed += take;
      out += take;
      count -= take;
    }
  }

  void Discard() {
    std::lock_guard guard(FLock);
    Empty();
  }

 private:
  static void BeforeFork();
  static void AfterForkInParent();
  static void AfterForkInChild();

  void Empty() {
    std::memset(FBuffer, 0, sizeof(FBuffer));
    FUsed = sizeof(FBuffer);
  }

  void Refill() {
    std::size_t filled = 0;
    while (filled < sizeof(FBuffer)) {
      const ssize_t got = getrandom(FBuffer + filled, sizeof(FBuffer) - filled, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error("the operating system's random source failed");
      }
      filled += std::size_t(got);
    }
    FUsed = 0;
  }

  std::mutex FLock;
  unsigned char FBuffer[4096];
  std::size_t FUsed = sizeof(FBuffer);
};

TEntropyPool& Pool() {
  static TEntropyPool pool;
  return pool;
}

// The handlers exist only once the pool does, so Pool() here never constructs it.
void TEntropyPool::BeforeFork() { Pool().FLock.lock(); }
void TEntropyPool::AfterForkInParent() { Pool().FLock.unlock(); }
void TEntropyPool::AfterForkInChild() {
  TEntropyPool& pool = Pool();
  pool.Empty();
  pool.FLock.unlock();
}

std::atomic<TRandomSource*> gSource{nullptr};

}  // namespace

std::uint32_t RandInt(std::int32_t range) {
  if (TRandomSource* source = gSource.load(std::memory_order_acquire)) return source->RandInt(range);
  if (range <= 0) return Pool().Next32();
  // Uniform below range: reject the top partial interval of the 32-bit space.
  const std::uint32_t bound = std::uint32_t(range);
  const std::uint32_t limit = std::uint32_t(0) - (std::uint32_t(0) - bound) % bound;  // multiple of bound
  for (;;) {
    const std::uint32_t x = Pool().Next32();
    if (limit == 0 || x < limit) return x % bound;
  }
}

void RandBytes(unsigned char* out, std::size_t count) {
  if (TRandomSource* source = gSource.load(std::memory_order_acquire)) {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(source->RandInt(256));
    return;
  }
  Pool().Draw(out, count);
}

void Randomize() {
  if (TRandomSource* source = gSource.load(std::memory_order_acquire)) return source->Randomize();
  Pool().Discard();
}

TRandomSource* SetRandomSource(TRandomSource* source) {
  return gSource.exchange(source, std::memory_order_acq_rel);
}

}  // namespace System
