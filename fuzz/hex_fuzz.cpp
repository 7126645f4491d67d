// The tool's hex readers: session keys decode exactly when the text is 2*count hex digits and encode
// back to the lower-case text; numbers parse exactly when the digits fit and give the same value as a
// digit-by-digit reading.
#include <cstdint>
#include <string>

#include "cli/Failure.h"
#include "cli/Hex.h"
#include "fuzz/FuzzCheck.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the count of bytes (session keys) or of digits (numbers).
  const unsigned choice = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  bool allHex = !text.empty();
  for (const char c : text) allHex = allHex && IsHex(c);

  const std::size_t count = choice % 40;
  try {
    const std::string bytes = Qrsa::HexDecodeBytes(text, count, "key");
    FUZZ_CHECK(allHex && text.size() == 2 * count);
    FUZZ_CHECK(Qrsa::HexEncode(bytes) == Lower(text));
  } catch (const Qrsa::Failure&) {
    FUZZ_CHECK(!(allHex && text.size() == 2 * count));
  }

  const unsigned maxDigits = 1 + choice % 64;
  try {
    const Rsa::BigNum number = Qrsa::ParseHexNumber(text, maxDigits, "seed");
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
    // The value read back, most significant digit first, without leading zeros.
    std::string written;
    for (int i = int(Rsa::BigNumDigits) - 1; i >= 0; --i)
      for (int shift = 28; shift >= 0; shift -= 4) {
        const unsigned nibble = (number.Digits[i] >> shift) & 15;
        if (written.empty() && nibble == 0) continue;
        written += "0123456789abcdef"[nibble];
      }
    const auto first = digits.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "" : Lower(digits.substr(first));
    FUZZ_CHECK(written == significant);
    FUZZ_CHECK(significant.size() <= 8 * std::size_t(maxDigits));
  } catch (const Qrsa::Failure&) {
  }
  return 0;
}
