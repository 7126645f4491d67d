// The steps of one private-key operation by the Chinese remainder theorem, each timed alone, to show
// where the time outside the pair of exponentiations goes: the block into Montgomery form modulo n and
// modulo each factor, the way out of Montgomery form, Garner's recombination, the check by the public
// exponent, and the text decoding. Odd random moduli of the key's and the halves' lengths stand in for
// n, p and q: the timing of these steps does not depend on primality.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "BenchOperands.h"
#include "bignum/Montgomery.h"
#include "rsa/TextFormats.h"

namespace {

using Bench::BigNum;
using Rsa::Limb;
using Rsa::MontLimbs;

struct StepOperands {
  Rsa::MontModulus n, p, q;
  BigNum block, exponent;
  Limb half[MontLimbs], unit[MontLimbs];
  unsigned bits;
  std::string text;
};

const StepOperands& StepsFor(unsigned bits) {
  static std::map<unsigned, StepOperands> cache;
  auto found = cache.find(bits);
  if (found != cache.end()) return found->second;
  std::mt19937_64 engine(0x5EEDu + bits);
  StepOperands s{};
  s.bits = bits;
  Rsa::MontSetup(s.n, Bench::RandomDigits(engine, bits, true), bits / 32);
  Rsa::MontSetup(s.p, Bench::RandomDigits(engine, bits / 2, true), bits / 64);
  Rsa::MontSetup(s.q, Bench::RandomDigits(engine, bits / 2, true), bits / 64);
  s.block = Bench::RandomDigits(engine, bits - 1, false);
  s.exponent = BigNum{};
  s.exponent.Digits[0] = 65537;
  Limb work[3 * MontLimbs];
  Rsa::MontToForm(s.half, Bench::RandomDigits(engine, bits / 2 - 1, false), bits / 64, s.p, work);
  s.unit[0] = 1;
  System::AnsiString bytes;
  bytes.SetLength(int(bits / 8));
  for (int i = 0; i < int(bits / 8); ++i) bytes.bytes()[i] = static_cast<unsigned char>(engine());
  s.text = std::string(Rsa::Radix64Encode(bytes).c_str());
  return cache.emplace(bits, s).first->second;
}

const StepOperands& Steps(benchmark::State& state) { return StepsFor(static_cast<unsigned>(state.range(0))); }

void ToFormN(benchmark::State& state) {
  const StepOperands& s = Steps(state);
  Limb r[MontLimbs], work[3 * MontLimbs];
  for (auto _ : state) {
    Rsa::MontToForm(r, s.block, s.bits / 32, s.n, work);
    benchmark::DoNotOptimize(r);
  }
}

void ToFormHalves(benchmark::State& state) {
  const StepOperands& s = Steps(state);
  Limb r[MontLimbs], work[3 * MontLimbs];
  for (auto _ : state) {
    Rsa::MontToForm(r, s.block, s.bits / 32, s.p, work);
    Rsa::MontToForm(r, s.block, s.bits / 32, s.q, work);
    benchmark::DoNotOptimize(r);
  }
}

void HalfProduct(benchmark::State& state) {
  const StepOperands& s = Steps(state);
  Limb r[MontLimbs], q[2 * MontLimbs];
  for (auto _ : state) {
    Rsa::MontProduct(r, s.half, s.unit, s.p, q);
    benchmark::DoNotOptimize(r);
  }
}

void PublicCheck(benchmark::State& state) {
  const StepOperands& s = Steps(state);
  Limb r[MontLimbs], q[2 * MontLimbs], work[3 * MontLimbs];
  for (auto _ : state) {
    Rsa::MontToForm(r, s.block, s.bits / 32, s.n, work);
    Rsa::MontExpPublicVarTime(r, r, s.exponent, 1, s.n, q);
    benchmark::DoNotOptimize(r);
  }
}

void PublicPower(benchmark::State& state) {
  const StepOperands& s = Steps(state);
  BigNum out{};
  for (auto _ : state) {
    Rsa::MontPowerPublicVarTime(out, Rsa::BigNumDigits, s.block, s.bits / 32, s.exponent, 1, s.n);
    benchmark::DoNotOptimize(out);
  }
}

void Decode(benchmark::State& state) {
  const StepOperands& s = Steps(state);
  for (auto _ : state) {
    System::AnsiString bytes = Rsa::Radix64Decode(s.text);
    benchmark::DoNotOptimize(bytes);
  }
}

void WipeStack(benchmark::State& state) {
  for (auto _ : state) Rsa::MontWipeStack();
}

}  // namespace

BENCHMARK(ToFormN)->Name("crt-step/to-form-n")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(ToFormHalves)->Name("crt-step/to-form-p-and-q")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(HalfProduct)->Name("crt-step/half-product")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(PublicCheck)->Name("crt-step/public-check")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(PublicPower)->Name("crt-step/public-power")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(Decode)->Name("crt-step/radix64-decode")->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(WipeStack)->Name("crt-step/wipe-stack")->Unit(benchmark::kMicrosecond);
