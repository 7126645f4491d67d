// The public key's DER SubjectPublicKeyInfo and its SHA-256 fingerprint, as OpenSSH prints them.
#include <openssl/evp.h>
#include <openssl/sha.h>

#include "envelope/Envelope.h"

namespace Qarvex::Envelope {

namespace {

// The big-endian bytes of a number, without leading zeros (one zero byte for zero).
std::string BigEndian(const Rsa::BigNum& x) {
  std::string bytes;
  for (unsigned i = Rsa::BigNumDigits; i-- > 0;)
    for (int shift = 24; shift >= 0; shift -= 8) {
      const char byte = static_cast<char>((x.Digits[i] >> shift) & 0xff);
      if (bytes.empty() && byte == 0) continue;
      bytes += byte;
    }
  if (bytes.empty()) bytes = std::string(1, '\0');
  return bytes;
}

// A DER element: tag, definite length, content.
std::string Der(unsigned char tag, const std::string& content) {
  std::string out(1, static_cast<char>(tag));
  const std::size_t length = content.size();
  if (length < 0x80) {
    out += static_cast<char>(length);
  } else {
    std::string digits;
    for (std::size_t v = length; v != 0; v >>= 8) digits.insert(digits.begin(), static_cast<char>(v & 0xff));
    out += static_cast<char>(0x80 | digits.size());
    out += digits;
  }
  return out + content;
}

// A non-negative INTEGER: a zero byte first when the top bit is set.
std::string DerInteger(const Rsa::BigNum& x) {
  std::string bytes = BigEndian(x);
  if (static_cast<unsigned char>(bytes[0]) & 0x80) bytes.insert(bytes.begin(), '\0');
  return Der(0x02, bytes);
}

std::string Base64Unpadded(const unsigned char* data, std::size_t size) {
  std::string text(4 * ((size + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data, int(size));
  text.resize(std::size_t(written));
  while (!text.empty() && text.back() == '=') text.pop_back();
  return text;
}

}  // namespace

std::string PublicKeyInfoDer(const Rsa::BigNum& e, const Rsa::BigNum& n) {
  // AlgorithmIdentifier { rsaEncryption (1.2.840.113549.1.1.1), NULL }
  static const std::string algorithm("\x30\x0d\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01\x05\x00", 15);
  const std::string rsaKey = Der(0x30, DerInteger(n) + DerInteger(e));
  return Der(0x30, algorithm + Der(0x03, std::string(1, '\0') + rsaKey));
}

std::string Fingerprint(const Rsa::BigNum& e, const Rsa::BigNum& n) {
  const std::string der = PublicKeyInfoDer(e, n);
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(der.data()), der.size(), digest);
  return "SHA256:" + Base64Unpadded(digest, sizeof digest);
}

}  // namespace Qarvex::Envelope
