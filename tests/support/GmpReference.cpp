#include "support/GmpReference.h"

#include <gmp.h>

#include <stdexcept>

namespace Testing {

std::string GmpModPowLE(const std::string& block, const char* exponentHex, const char* modulusHex, int bytes) {
  mpz_t m, e, n, r;
  mpz_inits(m, e, n, r, nullptr);
  mpz_import(m, block.size(), -1, 1, 0, 0, block.data());  // least significant byte first
  mpz_set_str(e, exponentHex, 16);
  mpz_set_str(n, modulusHex, 16);
  mpz_powm(r, m, e, n);
  std::string out(std::size_t(bytes), '\0');
  size_t written = 0;
  if (mpz_sizeinbase(r, 256) > std::size_t(bytes)) {
    mpz_clears(m, e, n, r, nullptr);
    throw std::length_error("result does not fit");
  }
  mpz_export(out.data(), &written, -1, 1, 0, 0, r);
  mpz_clears(m, e, n, r, nullptr);
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
