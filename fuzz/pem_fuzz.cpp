// The key library's PEM and DER key reader: any input is refused with the tool's error or gives numbers that
// fit the key store; a public key read this way and written as PEM reads back to the same numbers.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "keys/KeyError.h"
#include "keys/Pem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Qarvex::Keys::RsaNumbers key;
  try {
    key = Qarvex::Keys::ReadKey(input);
  } catch (const Qarvex::Keys::KeyError&) {
    return 0;
  }
  FUZZ_CHECK(Qarvex::Keys::BitLength(key.n) > 0);
  std::string pem;
  try {
    pem = Qarvex::Keys::PublicKeyPem(key.e, key.n);
  } catch (const Qarvex::Keys::KeyError&) {
    return 0;  // OpenSSL's own check refused the numbers
  }
  const Qarvex::Keys::RsaNumbers again = Qarvex::Keys::ReadKey(pem);
  FUZZ_CHECK(std::memcmp(&again.n, &key.n, sizeof key.n) == 0);
  FUZZ_CHECK(std::memcmp(&again.e, &key.e, sizeof key.e) == 0);
  FUZZ_CHECK(!again.HasPrivate);
  return 0;
}
