// Components on several threads at once: key generation, session-key wrapping, signing and string
// encryption run side by side, each thread with its own component. Every result must be right, and the
// random bytes each operation drew (recovered from its output with the key) must never repeat across
// threads: the process-wide generator hands each draw to one caller only. Built under ThreadSanitizer
// by scripts/sanitize-test, which also reports any data race.
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <latch>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/core/Random.h"
#include "rsa/ByteImage.h"
#include "rsa/RSA.h"
#include "support/FixtureKeys.h"

namespace {

using Rsa::BigNum;
using Rsa::TRSA;

// Random fills seen so far, from every thread.
class TFillLog {
 public:
  // False when the same fill was already seen.
  bool Add(const std::string& fill) {
    std::lock_guard guard(FLock);
    return FFills.insert(fill).second;
  }
  std::size_t Size() {
    std::lock_guard guard(FLock);
    return FFills.size();
  }

 private:
  std::mutex FLock;
  std::set<std::string> FFills;
};

// x^y mod m on K-byte little-endian images, with GMP: recovers the block an operation built.
std::string PowImage(const std::string& x, const char* yHex, const char* mHex, int K) {
  mpz_t a, y, m;
  mpz_inits(a, y, m, nullptr);
  mpz_import(a, x.size(), -1, 1, 0, 0, x.data());
  mpz_set_str(y, yHex, 16);
  mpz_set_str(m, mHex, 16);
  mpz_powm(a, a, y, m);
  std::string out(std::size_t(K), '\0');
  std::size_t count = 0;
  if (mpz_sgn(a) != 0) mpz_export(out.data(), &count, -1, 1, 0, 0, a);
  mpz_clears(a, y, m, nullptr);
  return out;
}

// Runs every job on its own thread, all released together.
void RunTogether(const std::vector<std::function<void()>>& jobs) {
  std::latch start(std::ptrdiff_t(jobs.size()));
  std::vector<std::thread> threads;
  for (const auto& job : jobs)
    threads.emplace_back([&start, &job] {
      start.arrive_and_wait();
      job();
    });
  for (auto& t : threads) t.join();
}

constexpr int Rounds = 6;

TEST(Threads, RawDrawsAreNeverShared) {
  // 128-bit windows of successive full-word draws: a window shared between threads (or repeated) would
  // mean two callers got the same buffered bytes.
  TFillLog log;
  std::vector<std::function<void()>> jobs;
  for (int t = 0; t < 4; ++t)
    jobs.push_back([&log] {
      for (int i = 0; i < 3000; ++i) {
        std::string window;
        for (int w = 0; w < 4; ++w) {
          const std::uint32_t v = System::RandInt(-1);
          window.append(reinterpret_cast<const char*>(&v), 4);
        }
        EXPECT_TRUE(log.Add(window));
        if (i % 500 == 0) System::Randomize();
      }
    });
  RunTogether(jobs);
  EXPECT_EQ(log.Size(), 4u * 3000u);
}

TEST(Threads, ComponentsWorkSideBySide) {
  const Testing::FixtureKey& key = Testing::GetFixtureKey(512);
  constexpr int K = 64;
  TFillLog fills;
  std::mutex resultsLock;
  std::vector<std::string> moduli;

  auto generate = [&] {
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    BigNum seed1{}, seed2{};  // the same seeds on every thread: only the generator tells them apart
    rsa.MakeKeyPair(seed1, seed2);
    BigNum e{}, n{};
    rsa.GetPublicKey(e, n);
    std::string image(K, '\0');
    Rsa::ImageToBytes(n, reinterpret_cast<unsigned char*>(image.data()), K);
    {
      std::lock_guard guard(resultsLock);
      moduli.push_back(image);
    }
    const unsigned char data[3] = {1, 2, 3};
    rsa.Sign(data, 2, 3);
    EXPECT_TRUE(rsa.Verify(data, 2, 3));
  };

  auto wrap = [&] {
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, 512);
    rsa.SetSymKeyLength(Rsa::sk64);
    for (int r = 0; r < Rounds; ++r) {
      unsigned char sessionKey[32] = {};
      for (int i = 0; i < 8; ++i) sessionKey[i] = static_cast<unsigned char>(r * 8 + i);
      const System::AnsiString text = rsa.EncryptKey(sessionKey);
      unsigned char back[32];
      rsa.DecryptKey(text, back);
      EXPECT_EQ(std::memcmp(back, sessionKey, 32), 0);
      // Bytes 8 to 62 of the block were drawn from the generator.
      const std::string block = PowImage(rsa.DecodeString(text).str(), key.D, key.N, K);
      EXPECT_TRUE(fills.Add(block.substr(8, 55))) << "wrapping fill repeated";
    }
  };

  auto sign = [&] {
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, 512);
    for (int r = 0; r < Rounds; ++r) {
      const unsigned char data[1] = {static_cast<unsigned char>(r)};
      rsa.Sign(data, 0, 1);
      EXPECT_TRUE(rsa.Verify(data, 0, 1));
      // Bytes 1 to 59 of the signed block were drawn from the generator.
      const std::string block = PowImage(rsa.DecodeString(rsa.Signature()).str(), key.E, key.N, K);
      EXPECT_EQ(block[0], char(r));
      EXPECT_TRUE(fills.Add(block.substr(1, 59))) << "signature fill repeated";
    }
  };

  auto encrypt = [&] {
    TRSA rsa(nullptr);
    Testing::LoadFixtureKey(rsa, 512);
    for (int r = 0; r < Rounds; ++r) {
      const std::string plain(std::size_t(r * 50), static_cast<char>(0x80 + r));
      System::AnsiString cipher, back;
      rsa.EncryptString(plain, cipher);
      rsa.DecryptString(cipher, back);
      EXPECT_EQ(back.str(), plain);
    }
  };

  RunTogether({generate, generate, wrap, wrap, sign, sign, encrypt});

  ASSERT_EQ(moduli.size(), 2u);
  EXPECT_NE(moduli[0], moduli[1]) << "two threads generated the same key";
  EXPECT_EQ(fills.Size(), std::size_t(4 * Rounds));
}

}  // namespace
