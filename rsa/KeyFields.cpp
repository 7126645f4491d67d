// Key fields and the signature text: how key store numbers become bytes and radix-64 text, and back.
// Key fields run digits least significant first but each digit's bytes most significant first; the
// signature text is the plain little-endian image, so one number gives different texts in the two.
#include "bignum/Declassify.h"
#include "rsa/ByteImage.h"
#include "rsa/TextFormats.h"

namespace Rsa {

namespace {

// Index of the top non-zero digit plus one; 0 for zero. Variable time: for public numbers (e, n).
int SignificantDigits(const BigNum& x) {
  int k = BigNumDigits;
  while (k > 0 && x.Digits[k - 1] == 0) --k;
  return k;
}

// Encodes the bytes of x's lowest `digits` digits in key field order, then wipes them: the field may
// be a private exponent.
System::AnsiString EncodeKeyField(const BigNum& x, int digits) {
  System::AnsiString bytes;
  bytes.SetLength(4 * digits);
  unsigned char* out = bytes.bytes();
  for (int i = 0; i < digits; ++i) {
    const Digit d = x.Digits[i];
    *out++ = static_cast<unsigned char>(d >> 24);
    *out++ = static_cast<unsigned char>(d >> 16);
    *out++ = static_cast<unsigned char>(d >> 8);
    *out++ = static_cast<unsigned char>(d);
  }
  System::AnsiString text = Radix64Encode(bytes);
  if (digits > 0) BNWipe(bytes.data(), 0, std::size_t(bytes.Length()));
  return text;
}

}  // namespace

System::AnsiString KeyFieldText(const BigNum& x) { return EncodeKeyField(x, SignificantDigits(x)); }

// x may be the private exponent: its digits are counted in constant time, and the count is declassified
// because the text's length shows it anyway (it exceeds `digits` only for a number that does not fit).
System::AnsiString KeyFieldText(const BigNum& x, int digits) {
  const int fitting = digits < int(BigNumDigits) ? digits : int(BigNumDigits);
  const int significant = int(ConstantTime::Declassify(BNDigitsConstTime(x, BigNumDigits)));
  return EncodeKeyField(x, significant > fitting ? significant : fitting);
}

void ReadKeyField(BigNum& x, const System::AnsiString& bytes) {
  const int length = bytes.Length();
  if (length > BigNumImageBytes) throw Sysutils::ERangeError("Key field longer than a number holds");
  const unsigned char* in = bytes.bytes();
  for (int i = 0; i < length; ++i) x.Digits[i / 4] = x.Digits[i / 4] << 8 | in[i];
}

System::AnsiString SignatureText(const BigNum& s, int precision) {
  const int digits = precision < 0 ? 0 : precision < int(BigNumDigits) ? precision : int(BigNumDigits);
  System::AnsiString bytes;
  bytes.SetLength(4 * digits);
  ImageToBytes(s, bytes.bytes(), bytes.Length());
  return Radix64Encode(bytes);
}

}  // namespace Rsa
