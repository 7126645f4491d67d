// The component's private-key operations against OpenSSL without CRT: DecryptKey and Sign with a 2048-bit
// key against OpenSSL's raw private-key operation on a key without its CRT factors (so that it also
// exponentiates with d modulo n).
#define OPENSSL_SUPPRESS_DEPRECATED  // the raw key operation lives in the low-level RSA interface
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>
#include <memory>
#include <random>

#include "BenchOperands.h"
#include "rsa/RSA.h"

namespace {

using Bench::BigNum;

// One 2048-bit key pair, made once by OpenSSL.
struct KeyPair {
  BigNum e{}, n{}, d{};
};

const KeyPair& Key2048() {
  static const KeyPair key = [] {
    KeyPair k;
    EVP_PKEY* pkey = EVP_RSA_gen(2048);
    BIGNUM *e = nullptr, *n = nullptr, *d = nullptr;
    EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_E, &e);
    EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_D, &d);
    k.e = Bench::FromOpenSsl(e);
    k.n = Bench::FromOpenSsl(n);
    k.d = Bench::FromOpenSsl(d);
    BN_free(e);
    BN_free(n);
    BN_free(d);
    EVP_PKEY_free(pkey);
    return k;
  }();
  return key;
}

std::unique_ptr<Rsa::TRSA> ComponentWithKey() {
  auto rsa = std::make_unique<Rsa::TRSA>(nullptr);
  const KeyPair& key = Key2048();
  rsa->SetKeyBits(Rsa::kb2048);
  rsa->SetPublicKey(key.e, key.n);
  rsa->SetPrivateKey(key.n, key.d);
  return rsa;
}

void DecryptKey(benchmark::State& state) {
  auto rsa = ComponentWithKey();
  rsa->SetSymKeyLength(Rsa::sk256);
  Rsa::TSymKey key{}, back{};
  for (unsigned i = 0; i < sizeof key; ++i) key[i] = static_cast<unsigned char>(i * 37 + 1);
  const System::AnsiString wrapped = rsa->EncryptKey(key);
  for (auto _ : state) rsa->DecryptKey(wrapped, back);
  if (std::memcmp(key, back, sizeof key) != 0) state.SkipWithError("DecryptKey gave another key");
}

void Sign(benchmark::State& state) {
  auto rsa = ComponentWithKey();
  unsigned char data[32];
  for (unsigned i = 0; i < sizeof data; ++i) data[i] = static_cast<unsigned char>(i * 11 + 5);
  for (auto _ : state) rsa->Sign(data, sizeof data - 1, sizeof data);
  if (!rsa->Verify(data, sizeof data - 1, sizeof data)) state.SkipWithError("the signature does not verify");
}

// RSA_private_decrypt without padding is the bare c^d mod n; with no factors given, OpenSSL cannot take
// the CRT path and exponentiates modulo n in constant time, with its usual blinding.
void OpenSslPrivateOp(benchmark::State& state) {
  const KeyPair& key = Key2048();
  RSA* rsa = RSA_new();
  RSA_set0_key(rsa, Bench::ToOpenSsl(key.n), Bench::ToOpenSsl(key.e), Bench::ToOpenSsl(key.d));
  unsigned char in[256], out[256];
  std::mt19937_64 engine(7);
  for (unsigned char& byte : in) byte = static_cast<unsigned char>(engine());
  in[0] = 0;  // below n
  for (auto _ : state) {
    if (RSA_private_decrypt(sizeof in, in, out, rsa, RSA_NO_PADDING) != 256) state.SkipWithError("OpenSSL failed");
  }
  RSA_free(rsa);
}

}  // namespace

BENCHMARK(DecryptKey)->Name("private-op/DecryptKey")->Arg(2048)->MinTime(0.2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Sign)->Name("private-op/Sign")->Arg(2048)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslPrivateOp)->Name("private-op/openssl-no-crt")->Arg(2048)->MinTime(0.2)
    ->Unit(benchmark::kMicrosecond);
