// SHA-256 of 1 GiB and SHA-512 of 256 MiB (a quarter, to keep `make bench` short: it runs at about half
// SHA-256's speed), ours against OpenSSL's EVP digests in the same run: `RATIO sha256` and
// `RATIO sha512`. The message is streamed through one 64 KiB buffer, as a file would be read, so the
// measure is the block functions' speed and not the memory's.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <vector>

#include "hash/Hash.h"

namespace {

constexpr std::size_t ChunkBytes = 64 << 10;

const std::vector<unsigned char>& Chunk() {
  static const std::vector<unsigned char> chunk = [] {
    std::vector<unsigned char> bytes(ChunkBytes);
    std::uint32_t x = 2463534242u;  // xorshift: any non-uniform filler will do
    for (auto& byte : bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      byte = static_cast<unsigned char>(x);
    }
    return bytes;
  }();
  return chunk;
}

// Arg: the message length in MiB.
void Ours(benchmark::State& state, Hash::THashKind kind) {
  const std::vector<unsigned char>& chunk = Chunk();
  const std::size_t chunks = std::size_t(state.range(0)) * (1 << 20) / ChunkBytes;
  unsigned char out[Hash::MaxDigestSize];
  Hash::THash hash(kind);
  for (auto _ : state) {
    for (std::size_t i = 0; i < chunks; ++i) hash.Update(chunk.data(), chunk.size());
    hash.Final(out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0) * (1 << 20));
}

void OpenSsl(benchmark::State& state, const EVP_MD* md) {
  const std::vector<unsigned char>& chunk = Chunk();
  const std::size_t chunks = std::size_t(state.range(0)) * (1 << 20) / ChunkBytes;
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  for (auto _ : state) {
    if (EVP_DigestInit_ex(context, md, nullptr) != 1) state.SkipWithError("EVP_DigestInit_ex failed");
    for (std::size_t i = 0; i < chunks; ++i) EVP_DigestUpdate(context, chunk.data(), chunk.size());
    EVP_DigestFinal_ex(context, out, &length);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_CTX_free(context);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0) * (1 << 20));
}

void Sha256Ours(benchmark::State& state) { Ours(state, Hash::THashKind::Sha256); }
void Sha256OpenSsl(benchmark::State& state) { OpenSsl(state, EVP_sha256()); }
void Sha512Ours(benchmark::State& state) { Ours(state, Hash::THashKind::Sha512); }
void Sha512OpenSsl(benchmark::State& state) { OpenSsl(state, EVP_sha512()); }

}  // namespace

BENCHMARK(Sha256Ours)->Name("sha256/ours")->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Sha256OpenSsl)->Name("sha256/openssl")->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Sha512Ours)->Name("sha512/ours")->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Sha512OpenSsl)->Name("sha512/openssl")->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond);
