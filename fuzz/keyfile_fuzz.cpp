// The key library's key-file reader: any content is either refused with the tool's or the component's own
// error, or loads a key that writes back to a key file which loads to the same key texts.
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "keys/KeyError.h"
#include "keys/KeyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<Qarvex::Keys::KeyHolder> holder;
  try {
    holder = Qarvex::Keys::LoadKeyText(input, "fuzz");
  } catch (const Qarvex::Keys::KeyError&) {
    return 0;
  } catch (const Sysutils::Exception&) {
    return 0;
  }
  const std::string publicText = holder->Rsa().PublicKey().str();
  const std::string privateText = holder->Rsa().PrivateKey().str();
  const std::string form = Qarvex::Keys::KeyFileText(*holder);
  const auto again = Qarvex::Keys::LoadKeyText(form, "fuzz again");
  FUZZ_CHECK(again->Rsa().PublicKey().str() == publicText);
  FUZZ_CHECK(again->Rsa().PrivateKey().str() == privateText);
  FUZZ_CHECK(again->Rsa().KeyBits() == holder->Rsa().KeyBits());
  return 0;
}
