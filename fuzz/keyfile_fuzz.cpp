// The tool's key-file reader: any content is either refused with the tool's or the component's own
// error, or loads a key that writes back to a key file which loads to the same key texts.
#include <cstdint>
#include <string>

#include "cli/Failure.h"
#include "cli/KeyFile.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<Qrsa::KeyHolder> holder;
  try {
    holder = Qrsa::LoadKeyText(input, "fuzz");
  } catch (const Qrsa::Failure&) {
    return 0;
  } catch (const Sysutils::Exception&) {
    return 0;
  }
  const std::string publicText = holder->Rsa().PublicKey().str();
  const std::string privateText = holder->Rsa().PrivateKey().str();
  const std::string form = Qrsa::KeyFileText(*holder);
  const auto again = Qrsa::LoadKeyText(form, "fuzz again");
  FUZZ_CHECK(again->Rsa().PublicKey().str() == publicText);
  FUZZ_CHECK(again->Rsa().PrivateKey().str() == privateText);
  FUZZ_CHECK(again->Rsa().KeyBits() == holder->Rsa().KeyBits());
  return 0;
}
