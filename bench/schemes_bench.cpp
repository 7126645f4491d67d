// The standard schemes against OpenSSL with the same fixture keys (OpenSSL with its CRT values): PSS
// signing and verification and OAEP decryption at 2048 and 4096 bits, SHA-256 throughout, over a
// precomputed digest so that the lines time the RSA schemes, not the hashing. OpenSSL's context is set
// up once outside the loop.
#include <benchmark/benchmark.h>
#include <openssl/rsa.h>

#include <map>
#include <memory>
#include <string>

#include "rsa/StandardSchemes.h"
#include "support/FixtureKeys.h"
#include "support/OpenSslRsa.h"

namespace {

using Hash::THashKind;

struct Keys {
  Rsa::TRSA rsa{nullptr};
  std::unique_ptr<Testing::OpenSslRsa> openssl;
  std::string digest, pssSignature, oaepCipher;
};

Keys& KeysFor(int bits) {
  static std::map<int, std::unique_ptr<Keys>> all;
  auto& k = all[bits];
  if (!k) {
    k = std::make_unique<Keys>();
    Testing::LoadFixtureKey(k->rsa, bits);
    k->openssl = std::make_unique<Testing::OpenSslRsa>(bits);
    k->digest = Testing::DigestOf(THashKind::Sha256, "a document");
    k->pssSignature = Rsa::PssSignDigest(k->rsa, {}, k->digest);  // also builds the CRT values
    k->oaepCipher = Rsa::OaepEncrypt(k->rsa, {}, std::string(32, 'k'));
  }
  return *k;
}

const unsigned char* U(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// An OpenSSL context for one key and scheme, set up once.
struct Context {
  EVP_PKEY_CTX* c;
  explicit Context(EVP_PKEY* key) : c(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)) {}
  ~Context() { EVP_PKEY_CTX_free(c); }
};

void PssContext(EVP_PKEY_CTX* c) {
  EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_PSS_PADDING);
  EVP_PKEY_CTX_set_signature_md(c, EVP_sha256());
  EVP_PKEY_CTX_set_rsa_pss_saltlen(c, 32);
  EVP_PKEY_CTX_set_rsa_mgf1_md(c, EVP_sha256());
}

void PssSignOurs(benchmark::State& state) {
  Keys& k = KeysFor(int(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Rsa::PssSignDigest(k.rsa, {}, k.digest));
}

void PssSignOpenSsl(benchmark::State& state) {
  Keys& k = KeysFor(int(state.range(0)));
  Context ctx(k.openssl->Key());
  EVP_PKEY_sign_init(ctx.c);
  PssContext(ctx.c);
  unsigned char out[512];
  for (auto _ : state) {
    std::size_t size = sizeof out;
    if (EVP_PKEY_sign(ctx.c, out, &size, U(k.digest), k.digest.size()) <= 0) state.SkipWithError("sign failed");
  }
}

void PssVerifyOurs(benchmark::State& state) {
  Keys& k = KeysFor(int(state.range(0)));
  for (auto _ : state)
    if (!Rsa::PssVerifyDigest(k.rsa, {}, k.digest, k.pssSignature)) state.SkipWithError("did not verify");
}

void PssVerifyOpenSsl(benchmark::State& state) {
  Keys& k = KeysFor(int(state.range(0)));
  Context ctx(k.openssl->Key());
  EVP_PKEY_verify_init(ctx.c);
  PssContext(ctx.c);
  for (auto _ : state)
    if (EVP_PKEY_verify(ctx.c, U(k.pssSignature), k.pssSignature.size(), U(k.digest), k.digest.size()) != 1)
      state.SkipWithError("did not verify");
}

void OaepDecryptOurs(benchmark::State& state) {
  Keys& k = KeysFor(int(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Rsa::OaepDecrypt(k.rsa, {}, k.oaepCipher));
}

void OaepDecryptOpenSsl(benchmark::State& state) {
  Keys& k = KeysFor(int(state.range(0)));
  Context ctx(k.openssl->Key());
  EVP_PKEY_decrypt_init(ctx.c);
  EVP_PKEY_CTX_set_rsa_padding(ctx.c, RSA_PKCS1_OAEP_PADDING);
  EVP_PKEY_CTX_set_rsa_oaep_md(ctx.c, EVP_sha256());
  EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.c, EVP_sha256());
  unsigned char out[512];
  for (auto _ : state) {
    std::size_t size = sizeof out;
    if (EVP_PKEY_decrypt(ctx.c, out, &size, U(k.oaepCipher), k.oaepCipher.size()) <= 0)
      state.SkipWithError("decrypt failed");
  }
}

}  // namespace

BENCHMARK(PssSignOurs)->Name("pss-sign/ours")->Arg(2048)->Arg(4096)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(PssSignOpenSsl)->Name("pss-sign/openssl")->Arg(2048)->Arg(4096)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(PssVerifyOurs)->Name("pss-verify/ours")->Arg(2048)->Arg(4096)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(PssVerifyOpenSsl)->Name("pss-verify/openssl")->Arg(2048)->Arg(4096)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(OaepDecryptOurs)->Name("oaep-decrypt/ours")->Arg(2048)->Arg(4096)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(OaepDecryptOpenSsl)->Name("oaep-decrypt/openssl")->Arg(2048)->Arg(4096)->MinTime(0.2)->Unit(benchmark::kMicrosecond);
