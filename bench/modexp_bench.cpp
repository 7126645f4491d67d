// Modular exponentiation with a full-length exponent: ours (as the component calls it, on 132-digit
// arrays), OpenSSL's constant-time Montgomery exponentiation, GMP's side-channel-silent one, and the
// two-bit window method over reduced products that even moduli still use.
#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/bn.h>

#include "BenchOperands.h"
#include "bignum/BigNumInternal.h"

namespace {

using Bench::BigNum;
using Bench::OperandsFor;

constexpr unsigned Digits = Rsa::BigNumDigits;

void Ours(benchmark::State& state) {
  const auto& op = OperandsFor(static_cast<unsigned>(state.range(0)));
  BigNum result{};
  for (auto _ : state) {
    Rsa::BNModExp(result, op.base, op.exponent, Digits, op.modulus, Digits);
    benchmark::DoNotOptimize(result);
  }
}

void Reference(benchmark::State& state) {
  const auto& op = OperandsFor(static_cast<unsigned>(state.range(0)));
  BigNum result{};
  for (auto _ : state) {
    Rsa::BNModExpReference(result, op.base, op.exponent, Digits, op.modulus, Digits);
    benchmark::DoNotOptimize(result);
  }
}

// Without a cached Montgomery context, as ours sets its modulus up on every call.
void OpenSsl(benchmark::State& state) {
  const auto& op = OperandsFor(static_cast<unsigned>(state.range(0)));
  BIGNUM* b = Bench::ToOpenSsl(op.base);
  BIGNUM* e = Bench::ToOpenSsl(op.exponent);
  BIGNUM* m = Bench::ToOpenSsl(op.modulus);
  BIGNUM* r = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  for (auto _ : state) {
    if (BN_mod_exp_mont_consttime(r, b, e, m, ctx, nullptr) != 1) state.SkipWithError("OpenSSL failed");
  }
  if (Bench::FromOpenSsl(r).Digits[0] == 0 && BN_is_zero(r)) state.SkipWithError("zero result");
  BN_CTX_free(ctx);
  BN_free(r);
  BN_free(m);
  BN_free(e);
  BN_free(b);
}

void Gmp(benchmark::State& state) {
  const auto& op = OperandsFor(static_cast<unsigned>(state.range(0)));
  mpz_t b, e, m, r;
  mpz_inits(b, e, m, r, nullptr);
  mpz_import(b, Digits, -1, sizeof(Rsa::Digit), 0, 0, op.base.Digits);
  mpz_import(e, Digits, -1, sizeof(Rsa::Digit), 0, 0, op.exponent.Digits);
  mpz_import(m, Digits, -1, sizeof(Rsa::Digit), 0, 0, op.modulus.Digits);
  for (auto _ : state) mpz_powm_sec(r, b, e, m);
  mpz_clears(b, e, m, r, nullptr);
}

}  // namespace

void Bench::RegisterPortableModExpBenchmarks() {
  benchmark::RegisterBenchmark("modexp-portable/ours", Ours)->Arg(2048)->MinTime(0.1)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("modexp-portable/openssl", OpenSsl)->Arg(2048)->MinTime(0.1)
      ->Unit(benchmark::kMicrosecond);
}

// No repetitions of their own: the runner measures each comparison in rounds, ours then the peers.
BENCHMARK(Ours)->Name("modexp/ours")->Arg(512)->Arg(1024)->Arg(2048)->MinTime(0.1)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSsl)->Name("modexp/openssl")->Arg(512)->Arg(1024)->Arg(2048)->MinTime(0.1)->Unit(benchmark::kMicrosecond);
BENCHMARK(Gmp)->Name("modexp/gmp")->Arg(512)->Arg(1024)->Arg(2048)->MinTime(0.1)->Unit(benchmark::kMicrosecond);
BENCHMARK(Reference)->Name("modexp/reference")->Arg(512)->Arg(1024)->Arg(2048)->MinTime(0.2)->Repetitions(1)
    ->Unit(benchmark::kMicrosecond);
