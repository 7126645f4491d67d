// The dual exponentiation on the IFMA kernels against the two scalar exponentiations it replaces: two
// moduli of the same length (the CRT halves of a key twice as long), each with its own base and exponent.
// Both sides set their moduli up at every call.
#include <benchmark/benchmark.h>

#include "BenchOperands.h"
#include "bignum/Montgomery.h"
#include "bignum/MontgomeryIfma.h"

namespace {

using Bench::BigNum;
constexpr unsigned Digits = Rsa::BigNumDigits;

// The second half's operands: those of the next size up would be too long, so another seed.
struct Pair {
  const Bench::ModExpOperands& first;
  Bench::ModExpOperands second;
};

Pair PairFor(unsigned bits) {
  std::mt19937_64 engine(0xD0A1u + bits);
  Bench::ModExpOperands ops;
  ops.modulus = Bench::RandomDigits(engine, bits, true);
  ops.exponent = Bench::RandomDigits(engine, bits, false);
  ops.base = Bench::RandomDigits(engine, bits - 1, false);
  return {Bench::OperandsFor(bits), ops};
}

void TwoScalar(benchmark::State& state) {
  const Pair p = PairFor(static_cast<unsigned>(state.range(0)));
  BigNum r1{}, r2{};
  for (auto _ : state) {
    Rsa::BNModExpMontgomery(r1, p.first.base, p.first.exponent, Digits, p.first.modulus, Digits);
    Rsa::BNModExpMontgomery(r2, p.second.base, p.second.exponent, Digits, p.second.modulus, Digits);
    benchmark::DoNotOptimize(r1);
    benchmark::DoNotOptimize(r2);
  }
}

void DualIfma(benchmark::State& state) {
  if (!Rsa::IfmaAvailable()) {
    state.SkipWithError("no IFMA");
    return;
  }
  const Pair p = PairFor(static_cast<unsigned>(state.range(0)));
  BigNum r1{}, r2{};
  Rsa::MontModulus mod1, mod2;
  for (auto _ : state) {
    Rsa::MontSetupVarTime(mod1, p.first.modulus, Digits);
    Rsa::MontSetupVarTime(mod2, p.second.modulus, Digits);
    Rsa::ModExpDualIfma(r1, p.first.base, p.first.exponent, Digits, mod1, r2, p.second.base, p.second.exponent,
                        Digits, mod2, Digits, Digits);
    benchmark::DoNotOptimize(r1);
    benchmark::DoNotOptimize(r2);
  }
}

}  // namespace

BENCHMARK(TwoScalar)->Name("dual/scalar")->Arg(512)->Arg(1024)->Arg(1536)->Arg(2048)->MinTime(0.1)
    ->Repetitions(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(DualIfma)->Name("dual/ifma")->Arg(512)->Arg(1024)->Arg(1536)->Arg(2048)->MinTime(0.1)
    ->Repetitions(7)->Unit(benchmark::kMicrosecond);
