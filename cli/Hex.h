// Hexadecimal texts: session keys (bytes in order) and seeds (numbers, most significant digit first).
#pragma once

#include <string>
#include <string_view>

#include "rsa/RSA.h"

namespace Qrsa {

// Lower-case hex of the bytes, first byte first.
std::string HexEncode(std::string_view bytes);

// The bytes written by a hex text of exactly 2*count hex digits (either case); `what` names the
// value in the error message.
std::string HexDecodeBytes(std::string_view text, std::size_t count, const std::string& what);

// A number written in hex (an optional "0x" prefix, either case) that must fit in maxDigits 32-bit
// digits.
Rsa::BigNum ParseHexNumber(std::string_view text, unsigned maxDigits, const std::string& what);

}  // namespace Qrsa
