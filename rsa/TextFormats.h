// The component's text formats, as free routines of the unit: radix-64 text, key fields and the
// signature text. TRSA's methods and key generation use them.
#pragma once

#include "bignum/BigNum.h"
#include "rsa/RSA.h"

namespace Rsa {

// Value 0..63 of one radix-64 character; raises EConvertError
// "Error converting from Base64 - invalid character" for any other character.
unsigned char DecodeChar(char c);
// Radix-64 text of a byte string, and back (what TRSA::EncodeString and TRSA::DecodeString do).
System::AnsiString Radix64Encode(const System::AnsiString& bytes);
System::AnsiString Radix64Decode(const System::AnsiString& text);

// Key field text of x: its significant digits, least significant digit first, each digit's bytes most
// significant first, encoded. Zero gives the empty text.
System::AnsiString KeyFieldText(const BigNum& x);
// Key field text of x over exactly `digits` digits (zero bytes above its significant digits): the
// second field of a key text, which readers accept only at exactly 4P bytes. A number with more
// significant digits than that is written whole, never cut short.
System::AnsiString KeyFieldText(const BigNum& x, int digits);
// Reads the decoded bytes of a key field into x, which must be zero beforehand: each byte is shifted
// into the current digit from digit 0 upward, four bytes a digit, so a short last digit receives its
// bytes as its low-order bytes. More bytes than a BigNum holds raise ERangeError and change nothing.
void ReadKeyField(BigNum& x, const System::AnsiString& bytes);
// Signature text of s at precision P: its 4P-byte little-endian image, encoded.
System::AnsiString SignatureText(const BigNum& s, int precision);

}  // namespace Rsa
