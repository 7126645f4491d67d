// The pair of exponentiations on the IFMA kernels against the scalar pair (one exponentiation after the
// other on the best scalar kernels): two moduli of the same length, the CRT halves of a key twice as
// long, each with its own base and a full-length exponent. Moduli are set up once, as a key's are.
#include <benchmark/benchmark.h>

#include <map>

#include "BenchOperands.h"
#include "bignum/Montgomery.h"
#include "bignum/MontgomeryIfma.h"

namespace {

using Bench::BigNum;

struct PairOperands {
  Rsa::MontModulus mod[2];
  Rsa::Limb base[2][Rsa::MontLimbs];
  BigNum exponent[2];
  unsigned bits;
};

const PairOperands& PairFor(unsigned bits) {
  static std::map<unsigned, PairOperands> cache;
  auto found = cache.find(bits);
  if (found != cache.end()) return found->second;
  std::mt19937_64 engine(0xD0A1u + bits);
  PairOperands p{};
  p.bits = bits;
  for (int h = 0; h < 2; ++h) {
    const BigNum modulus = Bench::RandomDigits(engine, bits, true);
    const BigNum base = Bench::RandomDigits(engine, bits - 1, false);
    p.exponent[h] = Bench::RandomDigits(engine, bits, false);
    Rsa::MontSetup(p.mod[h], modulus, bits / 32);
    Rsa::Limb work[3 * Rsa::MontLimbs];
    Rsa::MontToForm(p.base[h], base, bits / 32, p.mod[h], work);
  }
  return cache.emplace(bits, p).first->second;
}

void RunPair(benchmark::State& state, Rsa::MontExpPairFn pair) {
  const PairOperands& p = PairFor(static_cast<unsigned>(state.range(0)));
  Rsa::Limb r[2][Rsa::MontLimbs];
  const Rsa::MontExpJob first{r[0], p.base[0], p.exponent[0], p.bits, &p.mod[0]};
  const Rsa::MontExpJob second{r[1], p.base[1], p.exponent[1], p.bits, &p.mod[1]};
  for (auto _ : state) {
    pair(first, second);
    benchmark::DoNotOptimize(r);
  }
}

void ScalarPair(const Rsa::MontExpJob& first, const Rsa::MontExpJob& second) {
  static Rsa::MontExpWork w;
  Rsa::MontExpScalar(first.r, first.base, first.exponent, first.expBits, *first.mod, w);
  Rsa::MontExpScalar(second.r, second.base, second.exponent, second.expBits, *second.mod, w);
}

void Scalar(benchmark::State& state) { RunPair(state, &ScalarPair); }

void Ifma(benchmark::State& state) {
  if (!Rsa::IfmaAvailable()) {
    state.SkipWithError("no IFMA");
    return;
  }
  RunPair(state, &Rsa::MontExpPairIfma);
}

}  // namespace

BENCHMARK(Scalar)->Name("pair/scalar")->Arg(512)->Arg(1024)->Arg(1536)->Arg(2048)->MinTime(0.1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Ifma)->Name("pair/ifma")->Arg(512)->Arg(1024)->Arg(1536)->Arg(2048)->MinTime(0.1)
    ->Unit(benchmark::kMicrosecond);
