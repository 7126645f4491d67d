// Unwrapping session keys and decrypting strings with a fixture private key, on any text. The first
// input byte picks the key size, the session-key length, the operation and whether one string is both
// input and output; the rest is the text. The outcome is judged against GMP: the exception class and
// message, the status and event, the caller's key or string left as it was (or emptied) on a failure,
// and on success exactly the bytes that raising each block to d modulo n gives.
#include <gmp.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <typeinfo>

#include "fuzz/FuzzCheck.h"
#include "rsa/RSA.h"
#include "support/FixtureKeys.h"

namespace {

Fuzz::CountingRandom gRandom;

struct Key {
  mpz_t N, D;
  Key(int bits) {
    const Testing::FixtureKey& k = Testing::GetFixtureKey(bits);
    mpz_init_set_str(N, k.N, 16);
    mpz_init_set_str(D, k.D, 16);
  }
};

const Key& KeyOf(int bits) {
  static const Key k512(512), k1024(1024), k2048(2048), k3072(3072);
  return bits == 512 ? k512 : bits == 1024 ? k1024 : bits == 2048 ? k2048 : k3072;
}

// One K-byte block, little-endian, raised to d modulo n: its K-byte little-endian image.
std::string DecryptBlock(const Key& key, const std::string& block) {
  mpz_t c;
  mpz_init(c);
  mpz_import(c, block.size(), -1, 1, 0, 0, block.data());
  mpz_powm(c, c, key.D, key.N);
  std::string out(block.size(), '\0');
  std::size_t count = 0;
  if (mpz_sgn(c) != 0) mpz_export(out.data(), &count, -1, 1, 0, 0, c);
  FUZZ_CHECK(count <= block.size());
  mpz_clear(c);
  return out;
}

struct Failure {
  std::string Class, Message;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  static const int sizes[] = {512, 1024, 2048, 3072};
  const int bits = sizes[mode & 3];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  Rsa::TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, bits);
  rsa.SetSymKeyLength(Rsa::TSymKeyLength(mode >> 2 & 3));
  const int K = bits / 8, L = rsa.GetSymKeyBytes();
  rsa.SetStatus("before");
  int events = 0;
  rsa.SetOnStatusUpdate([&](System::TObject*) { ++events; });
  const Key& key = KeyOf(bits);
  const auto decoded = Fuzz::ReferenceDecode(text);

  Failure failure;
  auto run = [&](auto&& call) {
    try {
      call();
    } catch (const Sysutils::Exception& e) {
      failure = {typeid(e) == typeid(Sysutils::EConvertError) ? "EConvertError" : typeid(e).name(),
                 e.Message().str()};
    }
  };

  if (mode & 0x10) {
    unsigned char sessionKey[32];
    std::memset(sessionKey, 0xA5, sizeof sessionKey);
    run([&] { rsa.DecryptKey(text, sessionKey); });
    if (!decoded || int(decoded->size()) != K) {
      const char* message = decoded ? "String has incorrect length" : "String not valid";
      FUZZ_CHECK(failure.Class == "EConvertError" && failure.Message == message);
      FUZZ_CHECK(rsa.Status().str() == message && events == 1);
      for (unsigned char b : sessionKey) FUZZ_CHECK(b == 0xA5);  // left as it was
      return 0;
    }
    FUZZ_CHECK(failure.Class.empty());
    const std::string block = DecryptBlock(key, *decoded);
    FUZZ_CHECK(std::memcmp(sessionKey, block.data(), std::size_t(L)) == 0);
    for (int i = L; i < 32; ++i) FUZZ_CHECK(sessionKey[i] == 0);
  } else {
    const bool sameVariable = mode & 0x20;
    System::AnsiString plain = sameVariable ? System::AnsiString(text) : System::AnsiString("previous");
    const System::AnsiString before = plain;
    run([&] { rsa.DecryptString(sameVariable ? plain : System::AnsiString(text), plain); });
    if (!decoded) {
      FUZZ_CHECK(failure.Class == "EConvertError" && failure.Message == "String not valid");
      FUZZ_CHECK(plain == before);
    } else if (decoded->size() < std::size_t(K) || decoded->size() % std::size_t(K) != 0) {
      // Shorter than one block, or a trailing partial block: refused before anything is decrypted.
      FUZZ_CHECK(failure.Class == "EConvertError" && failure.Message == "String has incorrect length");
      FUZZ_CHECK(plain.IsEmpty());
    } else {
      FUZZ_CHECK(failure.Class.empty());
      std::string want;
      for (std::size_t at = 0; at < decoded->size(); at += std::size_t(K))
        want += DecryptBlock(key, decoded->substr(at, std::size_t(K))).substr(0, std::size_t(K - 1));
      // The pad count: the last byte, or from 3072 bits the last two, high byte first.
      std::size_t pad = static_cast<unsigned char>(want.back());
      if (bits > 2048) pad += std::size_t(static_cast<unsigned char>(want[want.size() - 2])) << 8;
      want.resize(pad < want.size() ? want.size() - pad : 0);
      FUZZ_CHECK(plain.str() == want);
    }
    if (failure.Class.empty()) {
      FUZZ_CHECK(rsa.Status().str() == "before" && events == 0);
    } else {
      FUZZ_CHECK(rsa.Status().str() == "String not valid" && events == 1);
    }
  }
  return 0;
}
