// Radix-64 text: 3 bytes to 4 characters over the component's own alphabet, no padding characters.
// The bit grouping is base64's, but the alphabet differs and an incomplete final group is handled the
// component's way, so a standard base64 codec neither reads nor writes these texts.
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

// Character v stands for the value v; the characters are in ascending order of their codes.
constexpr char Radix64Alphabet[64] = {
    '+', '-', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D',
    'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T',
    'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j',
    'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z'};

}  // namespace

unsigned char DecodeChar(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0' + 2);
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A' + 12);
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 38);
  if (c == '+') return 0;
  if (c == '-') return 1;
  throw Sysutils::EConvertError("Error converting from Base64 - invalid character");
}

// The input is one bit stream, most significant bit of each byte first, cut into 6-bit groups; the
// last group is filled with zero bits. A final group of 1 byte gives 2 characters, of 2 bytes 3.
System::AnsiString Radix64Encode(const System::AnsiString& bytes) {
  const int length = bytes.Length();
  const unsigned char* in = bytes.bytes();
  System::AnsiString text;
  text.SetLength((4 * length + 2) / 3);
  char* out = text.data();
  int i = 0;
  for (; i + 3 <= length; i += 3) {
    const unsigned group = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
    *out++ = Radix64Alphabet[group >> 18];
    *out++ = Radix64Alphabet[(group >> 12) & 63];
    *out++ = Radix64Alphabet[(group >> 6) & 63];
    *out++ = Radix64Alphabet[group & 63];
  }
  const int rest = length - i;
  if (rest > 0) {
    const unsigned group = unsigned(in[i]) << 16 | (rest == 2 ? unsigned(in[i + 1]) << 8 : 0);
    *out++ = Radix64Alphabet[group >> 18];
    *out++ = Radix64Alphabet[(group >> 12) & 63];
    if (rest == 2) *out++ = Radix64Alphabet[(group >> 6) & 63];
  }
  return text;
}

// Every character is checked, a lone character of a final group included, although it adds no byte.
// Bits of an incomplete final group that do not fill a whole byte are dropped, whatever their value.
System::AnsiString Radix64Decode(const System::AnsiString& text) {
  const int length = text.Length();
  System::AnsiString bytes;
  bytes.SetLength(3 * length / 4);
  unsigned char* out = bytes.bytes();
  unsigned char acc = 0;
  for (int i = 0; i < length; ++i) {
    const unsigned char v = DecodeChar(text.data()[i]);
    switch (i % 4) {
      case 0: acc = static_cast<unsigned char>(v << 2); break;
      case 1: *out++ = static_cast<unsigned char>(acc | v >> 4); acc = static_cast<unsigned char>(v << 4); break;
      case 2: *out++ = static_cast<unsigned char>(acc | v >> 2); acc = static_cast<unsigned char>(v << 6); break;
      default: *out++ = static_cast<unsigned char>(acc | v); acc = 0; break;
    }
  }
  return bytes;
}

System::AnsiString TRSA::EncodeString(const System::AnsiString Bytes) { return Radix64Encode(Bytes); }

System::AnsiString TRSA::DecodeString(const System::AnsiString Text) { return Radix64Decode(Text); }

}  // namespace Rsa
