// String encryption: the string is padded and cut into blocks one byte shorter than the key size, each
// block is raised to the exponent by itself, and the concatenated K-byte results travel as radix-64
// text. No random bytes are involved, so equal strings under one key give equal texts.
#include <climits>
#include <cstdint>
#include <string>

#include "bignum/ConstantTime.h"
#include "bignum/Declassify.h"
#include "rsa/ByteImage.h"
#include "rsa/KeySize.h"
#include "rsa/RSA.h"
#include "rsa/StringPadding.h"
#include "rsa/TextFormats.h"

namespace Rsa {

// Plain and Cipher are taken by value, so the caller may pass one string variable as both input and
// output: the input is complete before the output is first written.

void TRSA::EncryptString(const System::AnsiString Plain, System::AnsiString& Cipher) {
  if (!FPublicLoaded) Fail<ENoKeyLoaded>("Public key not loaded");
  RequirePrecision();
  if (!ModulusFitsKeySize(FModulus, FPrecision)) Fail<EInvalidKey>(ModulusSizeMessage);
  const int K = 4 * FPrecision;
  const int B = K - 1;

  // Pad to whole blocks; the pad always ends in its own length, so decryption knows how much to cut.
  const int length = Plain.Length();
  const int p = PadLength(std::uint64_t(length), K);
  const std::int64_t blocks = std::int64_t(PaddedBlocks(std::uint64_t(length), K));
  const std::int64_t rawLength = blocks * K;
  if ((rawLength * 4 + 2) / 3 > INT_MAX) Fail<Sysutils::ERangeError>("String too long to encrypt");

  std::string padded(Plain.str());
  padded.append(std::size_t(p), '\0');
  auto* source = reinterpret_cast<unsigned char*>(padded.data());
  WritePad(source + length, p, K);

  System::AnsiString raw;
  raw.SetLength(int(rawLength));
  BigNum m, c;
  for (std::int64_t j = 0; j < blocks; ++j) {
    BNAssignZero(m, BigNumDigits);
    BNAssignZero(c, BigNumDigits);
    BytesToImage(m, source + j * B, B);
    BNModExp(c, m, FPubExp, BigNumDigits, FModulus, BigNumDigits);
    ImageToBytes(c, raw.bytes() + j * K, K);
  }
  BNWipe(&m, 0, sizeof m);
  BNWipe(padded.data(), 0, padded.size());
  Cipher = Radix64Encode(raw);
}

void TRSA::DecryptString(const System::AnsiString Cipher, System::AnsiString& Plain) {
  if (!FPrivateLoaded) Fail<ENoKeyLoaded>("Private key not loaded");
  RequirePrecision();
  if (!ModulusFitsKeySize(FModulus, FPrecision)) Fail<EInvalidKey>(ModulusSizeMessage);
  const int K = 4 * FPrecision;
  const int B = K - 1;

  System::AnsiString raw;
  try {
    raw = Radix64Decode(Cipher);
  } catch (const Sysutils::Exception&) {
    // The decoder's own message is replaced by the one this operation reports.
    Fail<Sysutils::EConvertError>("String not valid");
  }
  Plain = System::AnsiString();

  // Only whole blocks are accepted: a text shorter than one block, or one with a trailing partial
  // block (truncated or padded in transit), is refused before anything is decrypted. The status names
  // the text as invalid; the exception says why.
  const int blocks = raw.Length() / K;
  if (blocks == 0 || raw.Length() % K != 0) {
    StatusUpdate("String not valid");
    throw Sysutils::EConvertError("String has incorrect length");
  }

  System::AnsiString plain;
  plain.SetLength(blocks * B);
  BigNum c, m;
  for (int j = 0; j < blocks; ++j) {
    BNAssignZero(c, BigNumDigits);
    BNAssignZero(m, BigNumDigits);
    BytesToImage(c, raw.bytes() + std::int64_t(j) * K, K);
    BNModExp(m, c, FPrivExp, BigNumDigits, FModulus, BigNumDigits);
    ImageToBytes(m, plain.bytes() + std::int64_t(j) * B, B);  // byte K-1 of the block is dropped
  }
  BNWipe(&m, 0, sizeof m);

  // The pad count ends the text. It is not checked against the other pad bytes or against the block
  // size, so a wrong key yields wrong bytes rather than an error; a count beyond the length leaves
  // nothing. The count is secret like the rest of the plaintext: the cut is worked out with masks over
  // every byte, and only the resulting length, which the caller receives anyway, is declassified.
  const auto length = std::uint32_t(plain.Length());  // below 2^31
  const auto p = std::uint32_t(ReadPadCount(plain.bytes() + plain.Length(), K));  // below 2^16
  const std::uint32_t fits = 0u - ((p - length) >> 31);  // all ones when p < length
  const std::uint32_t kept = ConstantTime::Select(fits, length - p, 0u);
  unsigned char* bytes = plain.bytes();
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto inside = static_cast<unsigned char>(0u - ((i - kept) >> 31));  // all ones when i < kept
    bytes[i] &= inside;
  }
  plain.SetLength(int(ConstantTime::Declassify(kept)));
  Plain = std::move(plain);
}

}  // namespace Rsa
