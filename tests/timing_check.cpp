// Statistical timing check of the Montgomery kernels that valgrind cannot follow (hand-written assembly,
// vector units), and of OAEP decoding (passing against failing blocks): fixed-versus-random inputs. Each measurement times a few calls of one kernel on inputs
// of one class, chosen at random per measurement: the fixed class (zero operands) or the random class
// (uniform operands below the modulus). Welch's t statistic between the two classes' times, over all
// measurements and over those below a few percentiles (which cuts interrupts and other noise), must stay
// below 4.5 in absolute value; a kernel whose time depends on its operands drifts beyond that as the
// measurements accumulate. A difference also has to reach one clock tick per call, and 1/5000 of a call,
// to count: over tens of millions of measurements the test resolves a hundredth of a tick, where the
// clock itself runs a little faster on zero operands (the processor's frequency follows its power draw,
// which no code controls; on a call of 15,000 ticks on the vector units that came to a tick), while a
// branch, a memory access or an instruction whose time depends on the operands costs whole ticks.
//   timing_check [SECONDS]            total budget, shared by the kernels (default 60)
//   timing_check --canary [SECONDS]   checks a planted kernel that skips zero operands: it must leak
// Exit status 0 when every kernel passes, 1 when one leaks, 2 on a usage error.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bignum/MontgomeryIfma.h"
#include "bignum/MontgomeryInternal.h"
#include "hash/Hash.h"
#include "rsa/SchemeEncoding.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <x86intrin.h>
#endif

namespace {

using Rsa::Limb;
using Rsa::MontModulus;

constexpr double Threshold = 4.5;
constexpr int CallsPerMeasurement = 4;
constexpr double MinimumTicksPerCall = 1.0;
// The clock's drift with the operands is a share of the call's time, so for calls of thousands of ticks
// (the exponentiations on the vector kernel) the floor grows with it: a difference must also reach this
// share of a call. A leak of whole ticks in a call shorter than 5000 ticks still needs one tick.
constexpr double MinimumShareOfCall = 1.0 / 5000;

// A time stamp: the cycle counter where there is one, else the steady clock in nanoseconds.
inline std::uint64_t Now() {
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
  _mm_lfence();
  const std::uint64_t t = __rdtsc();
  _mm_lfence();
  return t;
#else
  return std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
#endif
}

// Running mean and variance of one class (Welford).
struct Moments {
  double n = 0, mean = 0, m2 = 0;
  void Add(double x) {
    n += 1;
    const double delta = x - mean;
    mean += delta / n;
    m2 += delta * (x - mean);
  }
};

double WelchT(const Moments& a, const Moments& b) {
  if (a.n < 2 || b.n < 2) return 0;
  const double va = a.m2 / (a.n - 1), vb = b.m2 / (b.n - 1);
  const double se = std::sqrt(va / a.n + vb / b.n);
  return se == 0 ? 0 : (a.mean - b.mean) / se;
}

// One kernel to check: it computes into r from a and b (b is ignored by the squares).
struct Kernel {
  const char* name;
  unsigned limbs;
  void (*run)(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q);
  // Fills one operand pair (2 * limbs limbs) of the class (0 or 1); null: zeros against uniform operands.
  void (*fill)(Limb* pair, unsigned limbs, int cls, std::mt19937_64& rng) = nullptr;
};

void Product(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) { Rsa::MontProduct(r, a, b, mod, q); }
void Square(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb* q) { Rsa::MontSquare(r, a, mod, q); }
#if QARVEX_HAVE_ADX_KERNELS
void ProductAdx(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) { Rsa::MontDetail::ProductAdx(r, a, b, mod, q); }
void SquareAdx(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb* q) { Rsa::MontDetail::SquareAdx(r, a, mod, q); }
void ProductAdx8(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb*) { Rsa::MontDetail::ProductAdx8(r, a, b, mod); }
void SquareAdx8(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb* q) { Rsa::MontDetail::SquareAdx8(r, a, mod, q); }
void ProductAdx16(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb*) { Rsa::MontDetail::ProductAdx16(r, a, b, mod); }
void SquareAdx16(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb*) { Rsa::MontDetail::SquareAdx16(r, a, mod); }
// The set-up's modular doublings at 8 limbs, from a value below m.
void DoublingsAdx8(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb*) {
  for (unsigned j = 0; j < 8; ++j) r[j] = a[j];
  Rsa::MontDetail::DoublingsAdx8(r, mod.m, 64);
}
#endif

// The AVX-512 pair of exponentiations, both halves on one modulus: the bases a and b, a 64-bit exponent
// from a's low limb (zero in the fixed class). Its time may depend on the exponent's length, never on its
// bits, so a short one keeps each measurement short.
void PairIfma(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb*) {
  const Rsa::Digit exponent[2] = {static_cast<Rsa::Digit>(a[0]), static_cast<Rsa::Digit>(a[0] >> 32)};
  Limb other[Rsa::MontLimbs];
  Rsa::MontExpPairIfma({r, a, exponent, 64, &mod}, {other, b, exponent, 64, &mod});
}

// One exponentiation alone on the vector kernel: base a, the exponent from a's low limb as above.
void SingleIfma(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb*) {
  const Rsa::Digit exponent[2] = {static_cast<Rsa::Digit>(a[0]), static_cast<Rsa::Digit>(a[0] >> 32)};
  Rsa::MontExpIfma({r, a, exponent, 64, &mod});
}

// The public-exponent exponentiation on the vector kernel: base a, the exponent 65537 (public, so fixed
// in both classes); its time must not depend on the base.
void PublicIfma(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb*) {
  const Rsa::Digit exponent[1] = {65537};
  Rsa::MontExpPublicIfmaVarTime(r, a, exponent, 1, mod);
}
// The same handing back the ordinary value, as the public operations use it.
void PublicPlainIfma(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb*) {
  const Rsa::Digit exponent[1] = {65537};
  Rsa::MontPowerPublicIfmaVarTime(r, a, exponent, 1, mod);
}

// RSAES-OAEP decoding of an encoded block of 8 * limbs bytes (a's bytes), SHA-256 with an empty label:
// a block that fails its checks must take the time of one that passes, whatever its message length.
const unsigned char* EmptyLabelDigest() {
  static unsigned char digest[Hash::MaxDigestSize];
  static const bool done = (Hash::Digest(Hash::THashKind::Sha256, "", 0, digest), true);
  (void)done;
  return digest;
}
void OaepDecode(Limb* r, const Limb* a, const Limb*, const MontModulus& mod, Limb*) {
  unsigned char em[Rsa::Schemes::MaxEncodedBytes], message[Rsa::Schemes::MaxEncodedBytes];
  const std::size_t k = 8 * std::size_t(mod.limbs);
  std::memcpy(em, a, k);
  std::size_t size = 0;
  const std::uint32_t good = Rsa::Schemes::DecodeOaep(Hash::THashKind::Sha256, Hash::THashKind::Sha256,
                                                      EmptyLabelDigest(), em, k, message, size);
  r[0] = good ^ size ^ message[0];
}
// Class 0: valid encodings of random messages of random lengths; class 1: the same with one byte
// altered, so that decoding fails (at a random check: the first byte, the label digest, the padding).
void FillOaep(Limb* pair, unsigned limbs, int cls, std::mt19937_64& rng) {
  const std::size_t k = 8 * std::size_t(limbs), maxLen = k - 2 * 32 - 2;
  unsigned char seed[32], message[Rsa::Schemes::MaxEncodedBytes], em[Rsa::Schemes::MaxEncodedBytes];
  for (auto& b : seed) b = static_cast<unsigned char>(rng());
  const std::size_t length = rng() % (maxLen + 1);
  for (std::size_t i = 0; i < length; ++i) message[i] = static_cast<unsigned char>(rng());
  Rsa::Schemes::EncodeOaep(Hash::THashKind::Sha256, Hash::THashKind::Sha256, EmptyLabelDigest(), message, length,
                           seed, em, k);
  if (cls == 1) em[rng() % k] ^= static_cast<unsigned char>(1 + rng() % 255);
  std::memcpy(pair, em, k);
}

// The canary: a product that skips its work for a zero operand.
void LeakyProduct(Limb* r, const Limb* a, const Limb* b, const MontModulus& mod, Limb* q) {
  if (a[0] == 0) return;
  Rsa::MontProduct(r, a, b, mod, q);
}

// The kernels valgrind cannot see, each at the key sizes' limb counts (the prime halves and the moduli).
std::vector<Kernel> KernelsToCheck() {
  std::vector<Kernel> kernels;
#if QARVEX_HAVE_ADX_KERNELS
  if (Rsa::MontDetail::ProcessorHasAdx()) {
    for (unsigned limbs : {8u, 16u, 32u}) {
      kernels.push_back({"ADX product", limbs, ProductAdx});
      kernels.push_back({"ADX square", limbs, SquareAdx});
    }
    kernels.push_back({"ADX 8-limb product", 8, ProductAdx8});
    kernels.push_back({"ADX 8-limb square", 8, SquareAdx8});
    kernels.push_back({"ADX 16-limb blocks product", 16, ProductAdx16});
    kernels.push_back({"ADX 16-limb blocks square", 16, SquareAdx16});
    kernels.push_back({"ADX 8-limb doublings", 8, DoublingsAdx8});
  }
#endif
  if (Rsa::IfmaAvailable()) {
    for (unsigned limbs : {8u, 16u, 32u}) kernels.push_back({"IFMA pair", limbs, PairIfma});
    for (unsigned limbs : {16u, 32u}) {
      kernels.push_back({"IFMA single", limbs, SingleIfma});
      kernels.push_back({"IFMA public", limbs, PublicIfma});
      kernels.push_back({"IFMA public plain", limbs, PublicPlainIfma});
    }
  }
  for (unsigned limbs : {16u, 32u}) kernels.push_back({"OAEP decoding", limbs, OaepDecode, FillOaep});
  // The dispatcher as this process selects it, at every size where it picks a kernel by size.
  for (unsigned limbs : {8u, 16u, 32u}) {
    kernels.push_back({"selected product", limbs, Product});
    kernels.push_back({"selected square", limbs, Square});
  }
  return kernels;
}

// What one kernel's check found: the largest |t| over the crops, the class difference (ticks per call)
// in that crop, and whether any crop reached both the threshold and the minimum difference.
struct Verdict {
  double t = 0, ticksPerCall = 0;
  bool leaks = false;
};

// Checks one kernel for the given time.
Verdict CheckKernel(const Kernel& k, double seconds, std::mt19937_64& rng, long& measurements) {
  const unsigned n = k.limbs;
  // A random odd modulus with its top bit set, set up as the component would.
  std::vector<Rsa::Digit> d(2 * n);
  for (auto& x : d) x = static_cast<Rsa::Digit>(rng());
  d[0] |= 1;
  d[2 * n - 1] |= 0x80000000u;
  MontModulus mod;
  Rsa::MontSetup(mod, d.data(), 2 * n);

  constexpr int Pool = 256;  // prepared operand pairs per class
  std::vector<Limb> randomInputs(2 * Pool * n), zeroInputs(2 * Pool * n, 0);
  for (unsigned i = 0; i < 2 * Pool * n; ++i) randomInputs[i] = rng();
  for (int j = 0; j < 2 * Pool; ++j) randomInputs[(j + 1) * n - 1] &= mod.m[n - 1] >> 1;  // below m
  if (k.fill)
    for (int j = 0; j < Pool; ++j) {
      k.fill(zeroInputs.data() + 2 * j * n, n, 0, rng);
      k.fill(randomInputs.data() + 2 * j * n, n, 1, rng);
    }
  std::vector<Limb> a(n), b(n), r(n), q(2 * n);

  // Crops: everything, and times below the 50th, 75th and 90th percentile of a warm-up.
  const double fractions[] = {0.50, 0.75, 0.90};
  std::vector<double> warm;
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t t0 = Now();
    for (int c = 0; c < CallsPerMeasurement; ++c) k.run(r.data(), randomInputs.data(), randomInputs.data() + n, mod, q.data());
    warm.push_back(double(Now() - t0));
  }
  std::sort(warm.begin(), warm.end());
  double limits[4];
  for (int i = 0; i < 3; ++i) limits[i] = warm[std::size_t(fractions[i] * double(warm.size()))];
  limits[3] = 1e300;

  Moments classes[4][2];
  const auto stop = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  long count = 0;
  while ((count & 1023) != 0 || std::chrono::steady_clock::now() < stop) {
    const int cls = int(rng() & 1);
    const int slot = int(rng() % Pool);
    const Limb* source = (cls == 0 ? zeroInputs : randomInputs).data() + 2 * slot * n;
    std::memcpy(a.data(), source, n * sizeof(Limb));
    std::memcpy(b.data(), source + n, n * sizeof(Limb));
    const std::uint64_t t0 = Now();
    for (int c = 0; c < CallsPerMeasurement; ++c) k.run(r.data(), a.data(), b.data(), mod, q.data());
    const double t = double(Now() - t0);
    for (int i = 0; i < 4; ++i)
      if (t < limits[i]) classes[i][cls].Add(t);
    ++count;
  }
  measurements = count;
  Verdict verdict;
  for (auto& crop : classes) {
    const double t = std::fabs(WelchT(crop[0], crop[1]));
    const double ticks = std::fabs(crop[0].mean - crop[1].mean) / CallsPerMeasurement;
    const double floor = std::max(MinimumTicksPerCall, MinimumShareOfCall * crop[1].mean / CallsPerMeasurement);
    if (t > verdict.t) verdict.t = t, verdict.ticksPerCall = ticks;
    verdict.leaks |= t >= Threshold && ticks >= floor;
  }
  return verdict;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  const bool canary = argc > 1 && std::strcmp(argv[1], "--canary") == 0;
  const int rest = argc - (canary ? 2 : 1);
  if (rest > 1 || (rest == 1 && (seconds = std::atof(argv[argc - 1])) <= 0)) {
    std::fprintf(stderr, "usage: timing_check [--canary] [SECONDS]\n");
    return 2;
  }
  const std::vector<Kernel> kernels = canary ? std::vector<Kernel>{{"canary", 16, LeakyProduct}} : KernelsToCheck();
  std::mt19937_64 rng(std::random_device{}());
  bool leaks = false;
  for (const Kernel& k : kernels) {
    long measurements = 0;
    const Verdict v = CheckKernel(k, seconds / double(kernels.size()), rng, measurements);
    leaks |= v.leaks;
    std::printf("timing-check: %-20s %2u limbs  %8ld measurements  max |t| = %6.2f  difference %8.3f ticks/call  %s\n",
                k.name, k.limbs, measurements, v.t, v.ticksPerCall, v.leaks ? "LEAKS" : "ok");
  }
  std::printf("timing-check: %s (a leak: |t| >= %.1f and a difference of %.0f tick per call or 1/%.0f of a call, "
              "whichever is more)\n",
              leaks ? "a kernel's time depends on its operands" : "no kernel's time depends on its operands", Threshold,
              MinimumTicksPerCall, 1 / MinimumShareOfCall);
  return leaks ? 1 : 0;
}
