// Throughput of sealed envelopes (AES-256-GCM in 64 KiB chunks) in memory: seal-MBps and open-MBps.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "envelope/Envelope.h"

namespace {

constexpr std::size_t kDataBytes = 16 << 20;

Rsa::TRSA& Key() {
  static Rsa::TRSA* rsa = [] {
    auto* key = new Rsa::TRSA(nullptr);
    key->SetKeyBits(Rsa::kb1024);
    key->MakeKeyPair(Rsa::BigNum{}, Rsa::BigNum{});
    return key;
  }();
  return *rsa;
}

Qarvex::Envelope::Reader FromString(const std::string& data, std::size_t& at) {
  return [&data, &at](void* out, std::size_t size) {
    const std::size_t n = std::min(size, data.size() - at);
    std::memcpy(out, data.data() + at, n);
    at += n;
    return n;
  };
}

void SealMBps(benchmark::State& state) {
  const std::string data(kDataBytes, 'q');
  std::string sealed;
  sealed.reserve(kDataBytes + kDataBytes / 1000 + 4096);
  for (auto _ : state) {
    std::size_t at = 0;
    sealed.clear();
    Qarvex::Envelope::Seal(Key(), FromString(data, at), [&](const void* p, std::size_t n) { sealed.append(static_cast<const char*>(p), n); });
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kDataBytes));
  state.counters["MBps"] = benchmark::Counter(double(state.iterations()) * double(kDataBytes) / 1e6, benchmark::Counter::kIsRate);
}

void OpenMBps(benchmark::State& state) {
  const std::string data(kDataBytes, 'q');
  std::string sealed, opened;
  std::size_t at = 0;
  Qarvex::Envelope::Seal(Key(), FromString(data, at), [&](const void* p, std::size_t n) { sealed.append(static_cast<const char*>(p), n); });
  opened.reserve(kDataBytes);
  for (auto _ : state) {
    std::size_t from = 0;
    opened.clear();
    Qarvex::Envelope::Open(Key(), FromString(sealed, from), [&](const void* p, std::size_t n) { opened.append(static_cast<const char*>(p), n); });
  }
  if (opened != data) state.SkipWithError("the envelope did not open to the data");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kDataBytes));
  state.counters["MBps"] = benchmark::Counter(double(state.iterations()) * double(kDataBytes) / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK(SealMBps)->Name("seal-MBps")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenMBps)->Name("open-MBps")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
