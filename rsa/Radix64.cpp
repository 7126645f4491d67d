// Radix-64 text: 3 bytes to 4 characters over the component's own alphabet, no padding characters.
// The bit grouping is base64's, but the alphabet differs and an incomplete final group is handled the
// component's way, so a standard base64 codec neither reads nor writes these texts.
#include <cstdint>

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

std::uint64_t Radix64TextLength(std::uint64_t bytes) {
  const std::uint64_t groups = bytes / 3, rest = bytes % 3;
  if (groups > (UINT64_MAX - 3) / 4) return UINT64_MAX;
  return 4 * groups + (rest == 0 ? 0 : rest + 1);
}

std::uint64_t Radix64ByteLength(std::uint64_t chars) {
  const std::uint64_t rest = chars % 4;
  return chars / 4 * 3 + (rest == 0 ? 0 : rest - 1);
}

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
  const std::size_t length = std::size_t(bytes.Length());
  const unsigned char* in = bytes.bytes();
  System::AnsiString text;
  text.SetLength(System::AnsiString::CheckedLength(Radix64TextLength(length)));
  char* out = text.data();
  std::size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const unsigned group = unsigned(in[i]) << 16 | unsigned(in[i + 1]) << 8 | in[i + 2];
    *out++ = Radix64Alphabet[group >> 18];
    *out++ = Radix64Alphabet[(group >> 12) & 63];
    *out++ = Radix64Alphabet[(group >> 6) & 63];
    *out++ = Radix64Alphabet[group & 63];
  }
  const std::size_t rest = length - i;
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
// When a character is refused, the bytes decoded so far are wiped: the text may be a private key field.
System::AnsiString Radix64Decode(std::string_view text) {
  const std::size_t length = text.size();
  System::AnsiString bytes;
  bytes.SetLength(System::AnsiString::CheckedLength(Radix64ByteLength(length)));
  struct TWipeUnlessDone {
    System::AnsiString& Bytes;
    bool Done = false;
    ~TWipeUnlessDone() {
      if (!Done && Bytes.Length() > 0) BNWipe(Bytes.data(), 0, std::size_t(Bytes.Length()));
    }
  } guard{bytes};
  unsigned char* out = bytes.bytes();
  unsigned char acc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char v = DecodeChar(text[i]);
    switch (i % 4) {
      case 0: acc = static_cast<unsigned char>(v << 2); break;
      case 1: *out++ = static_cast<unsigned char>(acc | v >> 4); acc = static_cast<unsigned char>(v << 4); break;
      case 2: *out++ = static_cast<unsigned char>(acc | v >> 2); acc = static_cast<unsigned char>(v << 6); break;
      default: *out++ = static_cast<unsigned char>(acc | v); acc = 0; break;
    }
  }
  guard.Done = true;
  return bytes;
}

System::AnsiString TRSA::EncodeString(const System::AnsiString Bytes) { return Radix64Encode(Bytes); }

System::AnsiString TRSA::DecodeString(const System::AnsiString Text) { return Radix64Decode(Text); }

}  // namespace Rsa
