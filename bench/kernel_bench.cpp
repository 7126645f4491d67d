// The Montgomery product and square kernels alone, at the limb counts of the key halves: the dispatched
// ones (the family QARVEX_KERNEL forces, or the best) and, where the build has them, each scalar kernel by
// name, so that a new kernel can be measured against the one it replaces.
#include <benchmark/benchmark.h>

#include "BenchOperands.h"
#include "bignum/Montgomery.h"
#include "bignum/MontgomeryInternal.h"

namespace {

struct KernelOperands {
  Rsa::MontModulus mod;
  Rsa::Limb a[Rsa::MontLimbs], b[Rsa::MontLimbs];
};

KernelOperands MakeOperands(unsigned limbs) {
  std::mt19937_64 engine(0x4B31u + limbs);
  KernelOperands k{};
  const Bench::BigNum modulus = Bench::RandomDigits(engine, 64 * limbs, true);
  Rsa::MontSetup(k.mod, modulus, 2 * limbs);
  for (unsigned i = 0; i + 1 < limbs; ++i) k.a[i] = engine(), k.b[i] = engine();
  return k;
}

using Kernel = void (*)(Rsa::Limb*, const Rsa::Limb*, const Rsa::Limb*, const Rsa::MontModulus&, Rsa::Limb*);

void Run(benchmark::State& state, Kernel kernel) {
  KernelOperands k = MakeOperands(static_cast<unsigned>(state.range(0)));
  Rsa::Limb q[2 * Rsa::MontLimbs];
  // Each result feeds the next call, as in an exponentiation.
  for (auto _ : state) {
    kernel(k.a, k.a, k.b, k.mod, q);
    benchmark::DoNotOptimize(k.a);
  }
}

void Product(benchmark::State& s) { Run(s, [](auto r, auto a, auto b, auto& m, auto q) { Rsa::MontProduct(r, a, b, m, q); }); }
void Square(benchmark::State& s) { Run(s, [](auto r, auto a, auto, auto& m, auto q) { Rsa::MontSquare(r, a, m, q); }); }
void ProductPortable(benchmark::State& s) {
  Run(s, [](auto r, auto a, auto b, auto& m, auto q) { Rsa::MontProductPortable(r, a, b, m, q); });
}
void SquarePortable(benchmark::State& s) {
  Run(s, [](auto r, auto a, auto, auto& m, auto q) { Rsa::MontSquarePortable(r, a, m, q); });
}

#define KERNEL_BENCH(fn, name) \
  BENCHMARK(fn)->Name(name)->Arg(8)->Arg(16)->MinTime(0.1)->Repetitions(5)->Unit(benchmark::kNanosecond)

KERNEL_BENCH(Product, "kernel/product");
KERNEL_BENCH(Square, "kernel/square");
KERNEL_BENCH(ProductPortable, "kernel/portable-product");
KERNEL_BENCH(SquarePortable, "kernel/portable-square");

#if QARVEX_HAVE_ADX_KERNELS
void SkipWithoutAdx(benchmark::State& s) { s.SkipWithError("no ADX/BMI2"); }
void ProductRows(benchmark::State& s) {
  if (!Rsa::MontDetail::ProcessorHasAdx()) return SkipWithoutAdx(s);
  Run(s, [](auto r, auto a, auto b, auto& m, auto q) { Rsa::MontDetail::ProductAdx(r, a, b, m, q); });
}
void SquareRows(benchmark::State& s) {
  if (!Rsa::MontDetail::ProcessorHasAdx()) return SkipWithoutAdx(s);
  Run(s, [](auto r, auto a, auto, auto& m, auto q) { Rsa::MontDetail::SquareAdx(r, a, m, q); });
}
void ProductFixed(benchmark::State& s) {
  if (!Rsa::MontDetail::ProcessorHasAdx()) return SkipWithoutAdx(s);
  if (s.range(0) == 8)
    Run(s, [](auto r, auto a, auto b, auto& m, auto) { Rsa::MontDetail::ProductAdx8(r, a, b, m); });
  else
    Run(s, [](auto r, auto a, auto b, auto& m, auto) { Rsa::MontDetail::ProductAdx16(r, a, b, m); });
}
void SquareFixed(benchmark::State& s) {
  if (!Rsa::MontDetail::ProcessorHasAdx()) return SkipWithoutAdx(s);
  if (s.range(0) == 8)
    Run(s, [](auto r, auto a, auto, auto& m, auto q) { Rsa::MontDetail::SquareAdx8(r, a, m, q); });
  else
    Run(s, [](auto r, auto a, auto, auto& m, auto) { Rsa::MontDetail::SquareAdx16(r, a, m); });
}
KERNEL_BENCH(ProductRows, "kernel/adx-rows-product");
KERNEL_BENCH(SquareRows, "kernel/adx-rows-square");
KERNEL_BENCH(ProductFixed, "kernel/adx-fixed-product");
KERNEL_BENCH(SquareFixed, "kernel/adx-fixed-square");
#endif

}  // namespace
