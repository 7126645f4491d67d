#include "cli/Hex.h"

#include "cli/Failure.h"

namespace Qrsa {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void RequireHex(std::string_view text, const std::string& what) {
  if (text.empty()) throw Failure(what + " is empty");
  for (const char c : text)
    if (HexValue(c) < 0) throw Failure(what + " is not a hex number: unexpected character '" + std::string(1, c) + "'");
}

}  // namespace

std::string HexEncode(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string HexDecodeBytes(std::string_view text, std::size_t count, const std::string& what) {
  RequireHex(text, what);
  if (text.size() != 2 * count)
    throw Failure(what + " must be " + std::to_string(2 * count) + " hex digits (" + std::to_string(count) +
                  " bytes), not " + std::to_string(text.size()));
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<char>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
  return bytes;
}

Rsa::BigNum ParseHexNumber(std::string_view text, unsigned maxDigits, const std::string& what) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  RequireHex(text, what);
  while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
  if (text.size() > 8 * std::size_t(maxDigits))
    throw Failure(what + " has more than " + std::to_string(8 * maxDigits) + " hex digits (" +
                  std::to_string(32 * maxDigits) + " bits) for this key size");
  Rsa::BigNum number{};
  // The last hex digit is the least significant: hex digit i from the end fills bits 4i to 4i+3.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto value = Rsa::Digit(HexValue(text[text.size() - 1 - i]));
    number.Digits[i / 8] |= value << (4 * (i % 8));
  }
  return number;
}

}  // namespace Qrsa
