// Radix-64 text: 3 bytes to 4 characters over the component's own alphabet, no padding characters.
// The bit grouping is base64's, but the alphabet differs and an incomplete final group is handled the
// component's way, so a standard base64 codec neither reads nor writes these texts.
#include <cstdint>

#include "bignum/Declassify.h"
#include "rsa/TextFormats.h"

namespace Rsa {

// Texts may carry secrets (a private exponent's key field, a decrypted session key's image), so the
// mapping between values and characters is computed, not looked up: no table is indexed by a byte or a
// character and nothing branches on one. The alphabet "+-0123456789A..Za..z" is five runs in ascending
// code order; a value's character is the value plus the offset of its run.

namespace {

// 1 when x > limit, for x and limit below 2^16 (arithmetic on a wider signed value, no comparison).
inline int Above(int x, int limit) { return int(unsigned(limit - x) >> 31); }

// The character of value v (0 to 63): '+' is 43, '-' 45, '0' 48, 'A' 65, 'a' 97.
inline char EncodeValue(unsigned v) {
  const int x = int(v);
  return static_cast<char>(x + 43 + Above(x, 0) + 2 * Above(x, 1) + 7 * Above(x, 11) + 6 * Above(x, 37));
}

// The value of character c, and valid := 0 when c is not in the alphabet.
inline unsigned DecodeValue(unsigned char c, unsigned& valid) {
  const int x = c;
  const auto in = [x](int lo, int hi) { return unsigned(Above(x, lo - 1) & (1 - Above(x, hi))); };
  const unsigned plus = in('+', '+'), minus = in('-', '-'), digit = in('0', '9'), upper = in('A', 'Z'),
                 lower = in('a', 'z');
  valid &= plus | minus | digit | upper | lower;
  const unsigned value = (unsigned(x - 46) & (0u - digit)) | (unsigned(x - 53) & (0u - upper)) |
                         (unsigned(x - 59) & (0u - lower)) | minus;
  return value & 63;
}

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
  unsigned valid = 1;
  const unsigned v = DecodeValue(static_cast<unsigned char>(c), valid);
  if (!valid) throw Sysutils::EConvertError("Error converting from Base64 - invalid character");
  return static_cast<unsigned char>(v);
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
    *out++ = EncodeValue(group >> 18);
    *out++ = EncodeValue((group >> 12) & 63);
    *out++ = EncodeValue((group >> 6) & 63);
    *out++ = EncodeValue(group & 63);
  }
  const std::size_t rest = length - i;
  if (rest > 0) {
    const unsigned group = unsigned(in[i]) << 16 | (rest == 2 ? unsigned(in[i + 1]) << 8 : 0);
    *out++ = EncodeValue(group >> 18);
    *out++ = EncodeValue((group >> 12) & 63);
    if (rest == 2) *out++ = EncodeValue((group >> 6) & 63);
  }
  return text;
}

// Every character is checked, a lone character of a final group included, although it adds no byte.
// Bits of an incomplete final group that do not fill a whole byte are dropped, whatever their value.
// Validity is gathered over the whole text and decided once at the end, the only decision taken on the
// characters: whether the text is accepted is the caller's public outcome. A refused text's bytes are
// wiped: it may be a private key field.
System::AnsiString Radix64Decode(std::string_view text) {
  const std::size_t length = text.size();
  System::AnsiString bytes;
  bytes.SetLength(System::AnsiString::CheckedLength(Radix64ByteLength(length)));
  unsigned char* out = bytes.bytes();
  unsigned acc = 0;
  unsigned valid = 1;
  // Whole groups first, 64 characters at a time: their values in one pass that the compiler can run on
  // vector registers, then three bytes from each four. What is left of the text follows one by one.
  std::size_t i = 0;
  unsigned char values[64];
  for (; i + sizeof values <= length; i += sizeof values) {
    for (std::size_t j = 0; j < sizeof values; ++j)
      values[j] = static_cast<unsigned char>(DecodeValue(static_cast<unsigned char>(text[i + j]), valid));
    for (std::size_t j = 0; j < sizeof values; j += 4) {
      const unsigned group = unsigned(values[j]) << 18 | unsigned(values[j + 1]) << 12 |
                             unsigned(values[j + 2]) << 6 | values[j + 3];
      out[0] = static_cast<unsigned char>(group >> 16);
      out[1] = static_cast<unsigned char>(group >> 8);
      out[2] = static_cast<unsigned char>(group);
      out += 3;
    }
  }
  BNWipe(values, 0, sizeof values);
  for (; i < length; ++i) {
    const unsigned v = DecodeValue(static_cast<unsigned char>(text[i]), valid);
    switch (i % 4) {
      case 0: acc = (v << 2) & 0xFF; break;
      case 1: *out++ = static_cast<unsigned char>(acc | v >> 4); acc = (v << 4) & 0xFF; break;
      case 2: *out++ = static_cast<unsigned char>(acc | v >> 2); acc = (v << 6) & 0xFF; break;
      default: *out++ = static_cast<unsigned char>(acc | v); acc = 0; break;
    }
  }
  if (!ConstantTime::Declassify(valid)) {
    BNWipe(bytes.data(), 0, std::size_t(bytes.Length()));
    throw Sysutils::EConvertError("Error converting from Base64 - invalid character");
  }
  return bytes;
}

System::AnsiString TRSA::EncodeString(const System::AnsiString Bytes) { return Radix64Encode(Bytes); }

System::AnsiString TRSA::DecodeString(const System::AnsiString Text) { return Radix64Decode(Text); }

}  // namespace Rsa
