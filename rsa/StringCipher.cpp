// String encryption: the string is padded and cut into blocks one byte shorter than the key size, each
// block is raised to the exponent by itself, and the concatenated K-byte results travel as radix-64
// text. No random bytes are involved, so equal strings under one key give equal texts.
#include <cstdint>
#include <string>
#include <utility>

#include "rsa/RSA.h"
#include "rsa/StringPadding.h"
#include "rsa/TextFormats.h"

namespace Rsa {

std::uint64_t CipherTextLength(std::uint64_t plainLength, int keyBytes) {
  if (plainLength > UINT64_MAX - std::uint64_t(PadCountBytes(keyBytes))) return UINT64_MAX;
  const std::uint64_t K = std::uint64_t(keyBytes), blocks = PaddedBlocks(plainLength, keyBytes);
  if (blocks > UINT64_MAX / K) return UINT64_MAX;
  return Radix64TextLength(blocks * K);
}

// Both are one piece through the streaming encryptor and decryptor, so there is one implementation.
// Plain and Cipher are taken by value, so the caller may pass one string variable as both input and
// output: the input is complete before the output is first written.

void TRSA::EncryptString(const System::AnsiString Plain, System::AnsiString& Cipher) {
  TStringEncryptor encryptor(*this);
  // The cipher text is about 4/3 of the plain text's length: refuse, before anything is allocated, a
  // string whose cipher text a string could not hold.
  const std::uint64_t length = CipherTextLength(std::uint64_t(Plain.Length()), 4 * FPrecision);
  if (length > System::AnsiString::MaxLength) Fail<Sysutils::ERangeError>("String too long to encrypt");
  std::string text;
  text.reserve(std::size_t(length));
  encryptor.Update(Plain.data(), std::size_t(Plain.Length()), text);
  encryptor.Finish(text);
  Cipher = std::move(text);
}

void TRSA::DecryptString(const System::AnsiString Cipher, System::AnsiString& Plain) {
  TStringDecryptor decryptor(*this);
  // The whole text is at hand: all of it is decoded, and so checked, and its length is checked before
  // anything is decrypted. An undecodable text leaves Plain as it was; one of the wrong length (a
  // trailing partial block, truncated or padded in transit) empties it.
  const System::AnsiString raw = decryptor.DecodePiece(Cipher);
  Plain = System::AnsiString();
  decryptor.CheckLength(std::uint64_t(raw.Length()));

  std::string plain;
  plain.reserve(std::size_t(raw.Length()));  // enough for every byte, so no partial copy is left behind
  decryptor.Decrypt(raw.bytes(), std::size_t(raw.Length()), plain);
  decryptor.End(plain);
  Plain = std::move(plain);
}

}  // namespace Rsa
