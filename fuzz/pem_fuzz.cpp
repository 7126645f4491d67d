// The tool's PEM and DER key reader: any input is refused with the tool's error or gives numbers that
// fit the key store; a public key read this way and written as PEM reads back to the same numbers.
#include <cstdint>
#include <cstring>
#include <string>

#include "cli/Failure.h"
#include "cli/Pem.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Qrsa::RsaNumbers key;
  try {
    key = Qrsa::ReadKey(input);
  } catch (const Qrsa::Failure&) {
    return 0;
  }
  FUZZ_CHECK(Qrsa::BitLength(key.n) > 0);
  std::string pem;
  try {
    pem = Qrsa::PublicKeyPem(key.e, key.n);
  } catch (const Qrsa::Failure&) {
    return 0;  // OpenSSL's own check refused the numbers
  }
  const Qrsa::RsaNumbers again = Qrsa::ReadKey(pem);
  FUZZ_CHECK(std::memcmp(&again.n, &key.n, sizeof key.n) == 0);
  FUZZ_CHECK(std::memcmp(&again.e, &key.e, sizeof key.e) == 0);
  FUZZ_CHECK(!again.HasPrivate);
  return 0;
}
