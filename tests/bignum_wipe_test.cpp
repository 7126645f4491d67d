// The work areas of the arithmetic are wiped before each routine returns. Each routine runs on heap
// operands in a deep frame over a stack region painted with a known byte; afterwards a probe reads the
// dead region below the stack pointer and looks for any pair of adjacent digits of a value that a work
// area holds at the end of the call (a product, a normalised divisor, a power, a coefficient, ...). It
// also checks that the region holds a run of zero bytes as long as the routine's largest work area, which
// shows that the probe looked where the routine ran. A control frame that leaves a value behind shows
// that the probe finds what is there.
//
// Reading dead stack is only meaningful on a plain build: under a sanitizer or valgrind the locals live
// elsewhere or the reads are reported, so the tests skip there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>

#include "bignum/BigNum.h"
#include "support/DigitsGmp.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define QARVEX_ON_VALGRIND() RUNNING_ON_VALGRIND
#else
#define QARVEX_ON_VALGRIND() 0
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QARVEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define QARVEX_SANITIZED 1
#endif
#endif
#ifndef QARVEX_SANITIZED
#define QARVEX_SANITIZED 0
#endif

using namespace Rsa;
using Testing::Digits;
using Testing::Mpz;
using Testing::OperandSource;
using Testing::Shape;

namespace {

constexpr std::size_t PaintBytes = 96 * 1024;  // deeper than any chain of calls in the library
constexpr std::size_t PadBytes = 4096;         // keeps the probe's own frame clear of the routine's
constexpr unsigned char Paint = 0xA5;

[[gnu::noinline]] void PaintStack() {
  [[maybe_unused]] volatile unsigned char area[PaintBytes];
  for (std::size_t i = 0; i < PaintBytes; ++i) area[i] = Paint;
}

[[gnu::noinline]] void RunDeep(const std::function<void()>& call) {
  [[maybe_unused]] volatile unsigned char pad[PadBytes];
  pad[0] = 0;
  call();
  pad[PadBytes - 1] = 0;  // keeps the pad alive across the call
}

struct ProbeResult {
  std::size_t matches = 0;
  std::size_t longestZeroRun = 0;
};

// Scans the dead region below this frame for the sorted needles (pairs of adjacent digits, low digit at
// the lower address). It calls nothing while scanning, so nothing overwrites the region under it.
[[gnu::noinline]] ProbeResult ProbeDeadStack(const std::uint64_t* needles, std::size_t count) {
  volatile unsigned char marker = 0;
  const auto here = reinterpret_cast<std::uintptr_t>(&marker) & ~std::uintptr_t{7};
  const auto* top = reinterpret_cast<const volatile Digit*>(here - PadBytes / 2);
  const auto* bottom = reinterpret_cast<const volatile Digit*>(here - PaintBytes + PadBytes);
  ProbeResult result;
  std::size_t zeroRun = 0;
  for (const volatile Digit* p = bottom; p + 1 < top; ++p) {
    const Digit low = p[0], high = p[1];
    zeroRun = low == 0 ? zeroRun + 4 : 0;
    if (zeroRun > result.longestZeroRun) result.longestZeroRun = zeroRun;
    const std::uint64_t key = low | (std::uint64_t{high} << 32);
    std::size_t lo = 0, hi = count;
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (needles[mid] < key) lo = mid + 1; else hi = mid;
    }
    if (lo < count && needles[lo] == key) ++result.matches;
  }
  return result;
}

bool Plain(Digit x) { return x == 0 || x == 0xFFFFFFFFu || x == 0xA5A5A5A5u; }

// Every pair of adjacent digits of the secrets that could not turn up on the stack by accident.
std::vector<std::uint64_t> Needles(const std::vector<Digits>& secrets) {
  std::vector<std::uint64_t> out;
  for (const Digits& s : secrets)
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
      if (!Plain(s[i]) || !Plain(s[i + 1])) out.push_back(s[i] | (std::uint64_t{s[i + 1]} << 32));
  std::sort(out.begin(), out.end());
  return out;
}

ProbeResult RunAndProbe(const std::function<void()>& call, const std::vector<std::uint64_t>& needles) {
  PaintStack();
  RunDeep(call);
  return ProbeDeadStack(needles.data(), needles.size());
}

bool ProbeUnreliable() { return QARVEX_SANITIZED || QARVEX_ON_VALGRIND(); }

Digits Low(const Mpz& v, unsigned digits) { return v.ToDigits(digits); }

// A frame that copies a value into a local and leaves it there.
[[gnu::noinline]] void LeaveBehind(const Digits& secret) {
  [[maybe_unused]] volatile Digit area[ScratchDigits];
  for (std::size_t i = 0; i < secret.size() && i < ScratchDigits; ++i) area[i] = secret[i];
}

}  // namespace

TEST(Wipe, ProbeFindsWhatAFrameLeavesBehind) {
  if (ProbeUnreliable()) GTEST_SKIP() << "dead stack is not observable under a sanitizer or valgrind";
  OperandSource src(0x1EAF);
  const Digits secret = src.Make(64, Shape::Random);
  const auto needles = Needles({secret});
  const ProbeResult r = RunAndProbe([&] { LeaveBehind(secret); }, needles);
  EXPECT_GE(r.matches, 60u);
}

TEST(Wipe, WorkAreasHoldNothingAfterEachRoutine) {
  if (ProbeUnreliable()) GTEST_SKIP() << "dead stack is not observable under a sanitizer or valgrind";
  OperandSource src(0x31BE);
  constexpr std::size_t Single = 4 * ScratchDigits, Product = 8 * ScratchDigits;

  // Operands on the heap; every expected leftover computed before the stack is painted.
  const Digits b200 = src.Make(200, Shape::Random), c200 = src.Make(200, Shape::Random);
  Mpz product;
  mpz_mul(product, Mpz(b200), Mpz(c200));

  const unsigned cDigits = 400, dDigits = 150;
  const Digits dividend = src.Make(cDigits, Shape::Random);
  Digits divisor = src.Make(dDigits, Shape::Random);
  divisor[dDigits - 1] = (divisor[dDigits - 1] >> 5) | 1;  // a normalising shift of 5 or more
  const unsigned shift = 32 - DigitBits(divisor[dDigits - 1]);
  Mpz q, r, ddShifted, rShifted;
  mpz_fdiv_qr(q, r, Mpz(dividend), Mpz(divisor));
  mpz_mul_2exp(ddShifted, Mpz(divisor), shift);
  mpz_mul_2exp(rShifted, r, shift);
  const std::vector<Digits> divisionLeftovers = {Low(ddShifted, dDigits), Low(rShifted, dDigits)};

  const unsigned n = 100;
  const Digits mb = src.Make(n, Shape::Random), mc = src.Make(n, Shape::Random), md = src.Make(n, Shape::Random);
  Mpz modProduct;
  mpz_mul(modProduct, Mpz(mb), Mpz(mc));

  const unsigned e = 40;
  const Digits base = src.Make(e, Shape::Random), exponent = {src.NextDigit(), src.NextDigit() | 0xC0000000u};
  Digits modulus = src.Make(e, Shape::Random);
  modulus[0] |= 1;
  Mpz p2, p3, power;
  mpz_powm_ui(p2, Mpz(base), 2, Mpz(modulus));
  mpz_powm_ui(p3, Mpz(base), 3, Mpz(modulus));
  mpz_powm(power, Mpz(base), Mpz(exponent), Mpz(modulus));

  const unsigned v = 60;
  const Digits im = src.Make(v, Shape::Random);
  Digits iv;
  Mpz g;
  do {
    iv = src.Make(v, Shape::Random);
    mpz_gcd(g, Mpz(iv), Mpz(im));
  } while (g != Mpz(1));
  Mpz inverse, complement;
  mpz_invert(inverse, Mpz(iv), Mpz(im));
  mpz_sub(complement, Mpz(im), inverse);

  const Mpz factor(src.Make(30, Shape::Random));
  Mpz gx(src.Make(30, Shape::Random)), gy(src.Make(30, Shape::Random)), gcd;
  mpz_mul(gx, gx, factor);
  mpz_mul(gy, gy, factor);
  mpz_gcd(gcd, gx, gy);
  const Digits gb = Low(gx, v), gc = Low(gy, v);

  Digits out1(2 * ScratchDigits), out2(2 * ScratchDigits);
  struct Case {
    const char* name;
    std::size_t largestArea;
    std::function<void()> call;
    std::vector<Digits> leftovers;
  };
  const Case cases[] = {
      {"BNMult", Product, [&] { BNMult(out1.data(), b200.data(), c200.data(), 200); }, {Low(product, 400)}},
      {"BNDiv", Product + 4,
       [&] { BNDiv(out1.data(), out2.data(), dividend.data(), cDigits, divisor.data(), dDigits); },
       divisionLeftovers},
      {"BNMod", Product + 4, [&] { BNMod(out1.data(), dividend.data(), cDigits, divisor.data(), dDigits); },
       {divisionLeftovers[0], divisionLeftovers[1], Low(q, cDigits - dDigits + 1)}},
      {"BNModMult", Product, [&] { BNModMult(out1.data(), mb.data(), mc.data(), md.data(), n); },
       {Low(modProduct, 2 * n)}},
      {"BNModExp", 3 * Single,
       [&] { BNModExp(out1.data(), base.data(), exponent.data(), 2, modulus.data(), e); },
       {Low(p2, e), Low(p3, e), Low(power, e)}},
      {"BNModInv", Product, [&] { BNModInv(out1.data(), iv.data(), im.data(), v); },
       {Low(inverse, v), Low(complement, v)}},
      {"BNGcd", Product, [&] { BNGcd(out1.data(), gb.data(), gc.data(), v); }, {Low(gcd, v)}},
  };
  for (const Case& k : cases) {
    const auto needles = Needles(k.leftovers);
    ASSERT_GT(needles.size(), 20u) << k.name;
    const ProbeResult result = RunAndProbe(k.call, needles);
    EXPECT_EQ(result.matches, 0u) << k.name << " left part of a work area on the stack";
    EXPECT_GE(result.longestZeroRun, k.largestArea) << k.name << ": the probe did not see the wiped area";
  }
  // The routines computed what they should; a wrong result would make the leftovers meaningless.
  EXPECT_EQ(Digits(out1.begin(), out1.begin() + v), Low(gcd, v));
}
