#include "support/GmpReference.h"

#include <gmp.h>

#include <stdexcept>

namespace Testing {

Mpz MpzOf(const Rsa::BigNum& x) { return Mpz(x.Digits, Rsa::BigNumDigits); }

Rsa::BigNum BigNumOf(const Mpz& v) {
  if (!v.FitsIn(Rsa::BigNumDigits)) throw std::length_error("value does not fit a BigNum: " + v.Hex());
  Rsa::BigNum x{};
  const Digits digits = v.ToDigits(Rsa::BigNumDigits);
  for (unsigned i = 0; i < Rsa::BigNumDigits; ++i) x.Digits[i] = digits[i];
  return x;
}

std::string GmpModPowLE(const std::string& block, const char* exponentHex, const char* modulusHex, int bytes) {
  Mpz m, r;
  const Mpz e(exponentHex), n(modulusHex);
  mpz_import(m, block.size(), -1, 1, 0, 0, block.data());  // least significant byte first
  mpz_powm(r, m, e, n);
  std::string out(std::size_t(bytes), '\0');
  size_t written = 0;
  if (mpz_sizeinbase(r, 256) > std::size_t(bytes)) throw std::length_error("result does not fit");
  mpz_export(out.data(), &written, -1, 1, 0, 0, r);
  return out;
}

std::string ReferenceRadix64(const std::string& bytes) {
  static const char alphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::string text;
  const std::size_t bits = bytes.size() * 8;
  for (std::size_t start = 0; start < bits; start += 6) {
    unsigned group = 0;
    for (std::size_t b = start; b < start + 6; ++b) {
      const unsigned bit = b < bits ? (static_cast<unsigned char>(bytes[b / 8]) >> (7 - b % 8)) & 1u : 0u;
      group = group << 1 | bit;
    }
    text += alphabet[group];
  }
  return text;
}

}  // namespace Testing
