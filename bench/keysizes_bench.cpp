// The key sizes against OpenSSL: the private-key operation (DecryptKey) at 1024 to 4096 bits against
// OpenSSL's raw private operation on a complete key (its usual path: CRT with blinding), the public one,
// string encryption, and MakeKeyPair against OpenSSL's key generation. OpenSSL tests each prime candidate
// with many more Miller-Rabin rounds than our Fermat test and ten Miller-Rabin rounds, which is part of
// the gap in key generation. Key generation times vary widely with the distance to the next prime, so
// each side is timed one key per repetition and compared by the median.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BenchOperands.h"
#include "rsa/RSA.h"

namespace {

using Bench::BigNum;

Rsa::TKeyBits KeyBitsFor(int bits) {
  for (const Rsa::TKeySize& size : Rsa::KeySizes)
    if (size.Bits == bits) return size.KeyBits;
  return Rsa::kb2048;
}

// One OpenSSL key of each size, made once, and its numbers as the component takes them.
struct SizedKey {
  EVP_PKEY* pkey = nullptr;
  BigNum e{}, n{}, d{};
};

const SizedKey& KeyOf(int bits) {
  static std::map<int, SizedKey> keys;
  auto found = keys.find(bits);
  if (found != keys.end()) return found->second;
  SizedKey k;
  k.pkey = EVP_RSA_gen(unsigned(bits));
  BIGNUM *e = nullptr, *n = nullptr, *d = nullptr;
  EVP_PKEY_get_bn_param(k.pkey, OSSL_PKEY_PARAM_RSA_E, &e);
  EVP_PKEY_get_bn_param(k.pkey, OSSL_PKEY_PARAM_RSA_N, &n);
  EVP_PKEY_get_bn_param(k.pkey, OSSL_PKEY_PARAM_RSA_D, &d);
  k.e = Bench::FromOpenSsl(e);
  k.n = Bench::FromOpenSsl(n);
  k.d = Bench::FromOpenSsl(d);
  BN_free(e);
  BN_free(n);
  BN_free(d);
  return keys.emplace(bits, k).first->second;
}

void OursPrivate(benchmark::State& state) {
  const int bits = int(state.range(0));
  const SizedKey& key = KeyOf(bits);
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(KeyBitsFor(bits));
  rsa.SetPublicKey(key.e, key.n);
  rsa.SetPrivateKey(key.n, key.d);
  rsa.SetSymKeyLength(Rsa::sk256);
  Rsa::TSymKey sessionKey{}, back{};
  for (unsigned i = 0; i < sizeof sessionKey; ++i) sessionKey[i] = static_cast<unsigned char>(i * 37 + 1);
  const System::AnsiString wrapped = rsa.EncryptKey(sessionKey);
  for (auto _ : state) rsa.DecryptKey(wrapped, back);
  if (std::memcmp(sessionKey, back, sizeof sessionKey) != 0) state.SkipWithError("DecryptKey gave another key");
}

// OpenSSL's raw private (decrypt) or public (encrypt) operation without padding on one block below n.
void OpenSslRaw(benchmark::State& state, bool privateKey) {
  const int bits = int(state.range(0));
  const SizedKey& key = KeyOf(bits);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
  if (privateKey)
    EVP_PKEY_decrypt_init(ctx);
  else
    EVP_PKEY_encrypt_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
  const std::size_t K = std::size_t(bits / 8);
  std::vector<unsigned char> in(K), out(K);
  std::mt19937_64 engine(7);
  for (unsigned char& byte : in) byte = static_cast<unsigned char>(engine());
  in[0] = 0;  // below n
  for (auto _ : state) {
    std::size_t outLength = out.size();
    const int ok = privateKey ? EVP_PKEY_decrypt(ctx, out.data(), &outLength, in.data(), in.size())
                              : EVP_PKEY_encrypt(ctx, out.data(), &outLength, in.data(), in.size());
    if (ok != 1) state.SkipWithError("OpenSSL failed");
  }
  EVP_PKEY_CTX_free(ctx);
}

void OpenSslPrivate(benchmark::State& state) { OpenSslRaw(state, true); }
void OpenSslPublic(benchmark::State& state) { OpenSslRaw(state, false); }

// The public operation: EncryptKey against EVP_PKEY_encrypt without padding on the same key.
void OursPublic(benchmark::State& state) {
  const int bits = int(state.range(0));
  const SizedKey& key = KeyOf(bits);
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(KeyBitsFor(bits));
  rsa.SetPublicKey(key.e, key.n);
  rsa.SetSymKeyLength(Rsa::sk256);
  Rsa::TSymKey sessionKey{};
  for (auto _ : state) benchmark::DoNotOptimize(rsa.EncryptKey(sessionKey));
}

// String encryption in bytes per second: 64 blocks of plain text through EncryptString and
// DecryptString, against OpenSSL's raw public and private operations over the same number of blocks.
constexpr int StringBlocks = 64;

void OursStrings(benchmark::State& state, bool decrypt) {
  const int bits = int(state.range(0));
  const SizedKey& key = KeyOf(bits);
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(KeyBitsFor(bits));
  rsa.SetPublicKey(key.e, key.n);
  rsa.SetPrivateKey(key.n, key.d);
  const int B = bits / 8 - 1;
  std::string plain(std::size_t(StringBlocks * B - 1), 'x');
  System::AnsiString cipher, back;
  rsa.EncryptString(plain, cipher);
  for (auto _ : state) {
    if (decrypt)
      rsa.DecryptString(cipher, back);
    else
      rsa.EncryptString(plain, cipher);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(plain.size()));
}

void OpenSslStrings(benchmark::State& state, bool decrypt) {
  const int bits = int(state.range(0));
  const SizedKey& key = KeyOf(bits);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
  if (decrypt)
    EVP_PKEY_decrypt_init(ctx);
  else
    EVP_PKEY_encrypt_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
  const std::size_t K = std::size_t(bits / 8);
  std::vector<unsigned char> in(K), out(K);
  std::mt19937_64 engine(9);
  for (unsigned char& byte : in) byte = static_cast<unsigned char>(engine());
  in[0] = 0;
  for (auto _ : state) {
    for (int block = 0; block < StringBlocks; ++block) {
      std::size_t outLength = out.size();
      const int ok = decrypt ? EVP_PKEY_decrypt(ctx, out.data(), &outLength, in.data(), in.size())
                             : EVP_PKEY_encrypt(ctx, out.data(), &outLength, in.data(), in.size());
      if (ok != 1) state.SkipWithError("OpenSSL failed");
    }
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * StringBlocks * std::int64_t(K - 1));
  EVP_PKEY_CTX_free(ctx);
}

void OursKeyGen(benchmark::State& state) {
  Rsa::TRSA rsa(nullptr);
  rsa.SetKeyBits(KeyBitsFor(int(state.range(0))));
  static std::mt19937_64 engine(0x4096);
  for (auto _ : state) {
    BigNum seed1{}, seed2{};
    for (unsigned i = 0; i < Rsa::BigNumDigits; ++i) {
      seed1.Digits[i] = static_cast<Rsa::Digit>(engine());
      seed2.Digits[i] = static_cast<Rsa::Digit>(engine());
    }
    rsa.MakeKeyPair(seed1, seed2);
  }
}

void OpenSslKeyGen(benchmark::State& state) {
  const auto bits = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    EVP_PKEY* pkey = EVP_RSA_gen(bits);
    if (pkey == nullptr) state.SkipWithError("OpenSSL failed");
    EVP_PKEY_free(pkey);
  }
}

}  // namespace

void Bench::RegisterScalarPeerBenchmarks() {
  benchmark::RegisterBenchmark("private-scalar/ours", OursPrivate)->Arg(1024)->Arg(2048)->MinTime(0.2)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("private-scalar/openssl", OpenSslPrivate)->Arg(1024)->Arg(2048)->MinTime(0.2)
      ->Unit(benchmark::kMillisecond);
}

void Bench::RegisterPortablePrivateBenchmarks() {
  benchmark::RegisterBenchmark("private-portable/ours", OursPrivate)->Arg(2048)->MinTime(0.2)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("private-portable/openssl", OpenSslPrivate)->Arg(2048)->MinTime(0.2)
      ->Unit(benchmark::kMillisecond);
}

// The benchmarks of the comparisons carry no repetitions of their own: the runner measures each
// comparison in rounds of one repetition per side (see ratio_main.cpp).

// One size per line: the private-key table runs over every size listed here.
void PrivateSizes(benchmark::internal::Benchmark* b) {
  for (int bits : {1024, 2048, 3072, 4096}) b->Arg(bits);
}
BENCHMARK(OursPrivate)->Name("private/ours")->Apply(PrivateSizes)->MinTime(0.2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslPrivate)->Name("private/openssl")->Apply(PrivateSizes)->MinTime(0.2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OursPublic)->Name("public/ours")->Arg(1024)->Arg(2048)->MinTime(0.2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslPublic)->Name("public/openssl")->Arg(1024)->Arg(2048)->MinTime(0.2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OursStrings, decrypt, true)->Name("decryptstring/ours")->Arg(2048)->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSslStrings, decrypt, true)->Name("decryptstring/openssl")->Arg(2048)->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OursStrings, encrypt, false)->Name("encryptstring/ours")->Arg(2048)->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenSslStrings, encrypt, false)->Name("encryptstring/openssl")->Arg(2048)->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK(OursKeyGen)->Name("keygen/MakeKeyPair")->Arg(1024)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslKeyGen)->Name("keygen/openssl")->Arg(1024)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OursKeyGen)->Name("keygen/MakeKeyPair")->Arg(2048)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslKeyGen)->Name("keygen/openssl")->Arg(2048)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OursKeyGen)->Name("keygen/MakeKeyPair")->Arg(3072)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslKeyGen)->Name("keygen/openssl")->Arg(3072)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OursKeyGen)->Name("keygen/MakeKeyPair")->Arg(4096)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslKeyGen)->Name("keygen/openssl")->Arg(4096)->Iterations(1)
    ->Unit(benchmark::kMillisecond);
