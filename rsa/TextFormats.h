// The component's text formats, as free routines of the unit: radix-64 text, key fields and the
// signature text. TRSA's methods and key generation use them.
#pragma once

#include "rsa/RSA.h"

namespace Rsa {

// Value 0..63 of one radix-64 character; raises EConvertError
// "Error converting from Base64 - invalid character" for any other character.
unsigned char DecodeChar(char c);
// Radix-64 text of a byte string, and back (what TRSA::EncodeString and TRSA::DecodeString do).
System::AnsiString Radix64Encode(const System::AnsiString& bytes);
System::AnsiString Radix64Decode(const System::AnsiString& text);

// Key field text of x: its significant digits, each digit's bytes most significant first, encoded.
System::AnsiString KeyFieldText(const BigNum& x);
// Key field text of x over exactly `digits` digits (zero bytes above its significant digits): the
// second field of a key text, which readers accept only at exactly 4P bytes.
System::AnsiString KeyFieldText(const BigNum& x, int digits);
// Signature text of s at precision P: its 4P-byte little-endian image, encoded.
System::AnsiString SignatureText(const BigNum& s, int precision);

}  // namespace Rsa
