#include "support/SmallExponentForgery.h"

#include <gmp.h>
#include <gtest/gtest.h>

namespace Testing {

namespace {

std::string FromHex(const char* hex) {
  std::string bytes;
  for (const char* p = hex; p[0] && p[1]; p += 2) bytes += char(std::stoi(std::string(p, 2), nullptr, 16));
  return bytes;
}

}  // namespace

std::string ForgedSignature(const Rsa::BigNum& nValue, unsigned long e, const std::string& x, int keyBytes) {
  mpz_t n, want, mod, root, inverse, group, s, check;
  mpz_inits(n, want, mod, root, inverse, group, s, check, nullptr);
  mpz_import(n, Rsa::BigNumDigits, -1, sizeof(Rsa::Digit), 0, 0, nValue.Digits);
  mpz_import(want, x.size(), -1, 1, 0, 0, x.data());
  const unsigned long k = 8 * x.size();
  mpz_ui_pow_ui(mod, 2, k);
  const bool odd = mpz_odd_p(want);
  mpz_set(root, want);
  if (!odd) {
    mpz_sub(root, n, want);
    mpz_mod(root, root, mod);
  }
  // The odd residues modulo 2^k form a group of exponent 2^(k-2): the root is the power by 1/e modulo it.
  mpz_ui_pow_ui(group, 2, k - 2);
  mpz_set_ui(inverse, e);
  EXPECT_NE(mpz_invert(inverse, inverse, group), 0);
  mpz_powm(root, root, inverse, mod);
  if (odd) {
    mpz_set(s, root);
  } else {
    mpz_sub(s, n, root);
  }
  mpz_powm_ui(check, s, e, n);
  mpz_mod(check, check, mod);
  EXPECT_EQ(mpz_cmp(check, want), 0) << "the forgery does not hold";
  std::string image(std::size_t(keyBytes), '\0');
  std::size_t written = 0;
  EXPECT_LE(mpz_sizeinbase(s, 256), std::size_t(keyBytes));
  mpz_export(image.data(), &written, -1, 1, 0, 0, s);
  mpz_clears(n, want, mod, root, inverse, group, s, check, nullptr);
  return image;
}

std::string Sha256InfoPrefix() { return FromHex("3031300d060960864801650304020105000420"); }
std::string Sha512InfoPrefix() { return FromHex("3051300d060960864801650304020305000440"); }

}  // namespace Testing
