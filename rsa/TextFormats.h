// The component's text formats, as free routines of the unit: radix-64 text, key fields and the
// signature text. TRSA's methods and key generation use them.
#pragma once

#include <cstdint>
#include <string_view>

#include "bignum/BigNum.h"
#include "rsa/RSA.h"

namespace Rsa {

// Value 0..63 of one radix-64 character; raises EConvertError
// "Error converting from Base64 - invalid character" for any other character.
unsigned char DecodeChar(char c);
// Radix-64 text of a byte string, and back (what TRSA::EncodeString and TRSA::DecodeString do).
// Encoding raises ERangeError when the text would be longer than an AnsiString holds. Decoding takes a
// view, so a field of a key text is decoded where it stands, without a copy of it.
System::AnsiString Radix64Encode(const System::AnsiString& bytes);
System::AnsiString Radix64Decode(std::string_view text);

// Sizes, computed in 64 bits and saturating at UINT64_MAX, so no input length can wrap them; callers
// pass the results to AnsiString::CheckedLength.
// Characters in the radix-64 text of `bytes` bytes: 4 for every 3, 2 or 3 for a final 1 or 2.
std::uint64_t Radix64TextLength(std::uint64_t bytes);
// Bytes decoded from `chars` characters: 3 for every 4, 0, 1 or 2 for a final 1, 2 or 3.
std::uint64_t Radix64ByteLength(std::uint64_t chars);
// Characters in the cipher text of a `plainLength`-byte string at K = keyBytes: one K-byte block for
// each block of K-1 bytes that the padded plain text fills (always at least one).
std::uint64_t CipherTextLength(std::uint64_t plainLength, int keyBytes);

// Key field text of x: its significant digits, least significant digit first, each digit's bytes most
// significant first, encoded. Zero gives the empty text.
System::AnsiString KeyFieldText(const BigNum& x);
// Key field text of x over exactly `digits` digits (zero bytes above its significant digits): the
// second field of a key text, which readers accept only at exactly 4P bytes. A number with more
// significant digits than that is written whole, never cut short.
System::AnsiString KeyFieldText(const BigNum& x, int digits);
// Key text "first:second", the second field over exactly `digits` digits (as above). It is assembled in
// one buffer of its final length and the field texts are wiped once copied in, so when the second
// field is a private exponent the result is the only copy of its text.
System::AnsiString KeyText(const BigNum& first, const BigNum& second, int digits);
// Reads the decoded bytes of a key field into x, which must be zero beforehand: each byte is shifted
// into the current digit from digit 0 upward, four bytes a digit, so a short last digit receives its
// bytes as its low-order bytes. More bytes than a BigNum holds raise ERangeError and change nothing.
void ReadKeyField(BigNum& x, const System::AnsiString& bytes);
// Signature text of s at precision P: its 4P-byte little-endian image, encoded.
System::AnsiString SignatureText(const BigNum& s, int precision);

}  // namespace Rsa
