// Radix-64 text: any text either decodes to the bit-stream reading of its characters or is refused with
// the decoder's message exactly when it holds a character outside the alphabet; every byte string
// encodes to the bit-stream writing and decodes back; decode-then-encode gives the text back whenever
// the text is in the form the encoder writes.
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "rsa/RSA.h"

namespace {

Rsa::TRSA& Component() {
  static Rsa::TRSA rsa(nullptr);
  return rsa;
}

// A text the encoder would write: N mod 4 is not 1 and the bits of the last character beyond the
// bytes are zero.
bool IsEncoderForm(const std::string& text) {
  if (text.size() % 4 == 1) return false;
  const int spare = int(text.size() * 6 % 8);
  if (spare == 0 || text.empty()) return true;
  const int last = Fuzz::Radix64Value(static_cast<unsigned char>(text.back()));
  return (last & ((1 << spare) - 1)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Rsa::TRSA& rsa = Component();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const System::AnsiString statusBefore = rsa.Status();

  // As text to decode.
  const auto expected = Fuzz::ReferenceDecode(input);
  try {
    const System::AnsiString decoded = rsa.DecodeString(input);
    FUZZ_CHECK(expected.has_value());
    FUZZ_CHECK(decoded.str() == *expected);
    FUZZ_CHECK(std::size_t(decoded.Length()) == input.size() * 3 / 4);
    const System::AnsiString again = rsa.EncodeString(decoded);
    if (IsEncoderForm(input)) FUZZ_CHECK(again.str() == input);
    FUZZ_CHECK(rsa.DecodeString(again) == decoded);
  } catch (const Sysutils::EConvertError& e) {
    FUZZ_CHECK(!expected.has_value());
    FUZZ_CHECK(std::string(e.Message().c_str()) == "Error converting from Base64 - invalid character");
  }

  // As bytes to encode.
  const System::AnsiString text = rsa.EncodeString(input);
  FUZZ_CHECK(text.str() == Fuzz::ReferenceEncode(input));
  FUZZ_CHECK(rsa.DecodeString(text).str() == input);

  // Neither operation reports a status.
  FUZZ_CHECK(rsa.Status() == statusBefore);
  return 0;
}
