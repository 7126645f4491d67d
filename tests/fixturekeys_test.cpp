// The fixed test keys themselves: sizes, a working key pair, and key texts that load back.
#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "rsa/RSA.h"
#include "support/FixtureKeys.h"

using Rsa::BigNum;
using Rsa::TRSA;

namespace {

bool Same(const BigNum& a, const BigNum& b) { return std::equal(a.Digits, a.Digits + Rsa::BigNumDigits, b.Digits); }

}  // namespace

TEST(FixtureKeys, SizesAndKeyPairsHold) {
  for (int bits : Testing::FixtureKeySizes) {
    for (int which : {0, 1}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, key " << which);
      const Testing::FixtureKey& key = Testing::GetFixtureKey(bits, which);
      EXPECT_EQ(key.Bits, bits);
      mpz_t e, n, d, m, r;
      mpz_inits(e, n, d, m, r, nullptr);
      mpz_set_str(e, key.E, 16);
      mpz_set_str(n, key.N, 16);
      mpz_set_str(d, key.D, 16);
      EXPECT_EQ(mpz_sizeinbase(n, 2), std::size_t(bits));
      EXPECT_GT(mpz_sizeinbase(d, 2), std::size_t(bits - 32));  // d has all P digits
      // (m^e)^d = m for a few m: e and d are inverse exponents modulo n.
      for (unsigned long value : {2ul, 12345ul, 0xFFFFFFFFul}) {
        mpz_set_ui(m, value);
        mpz_powm(r, m, e, n);
        mpz_powm(r, r, d, n);
        EXPECT_EQ(mpz_cmp(r, m), 0) << value;
      }
      mpz_clears(e, n, d, m, r, nullptr);
    }
  }
  EXPECT_THROW(Testing::GetFixtureKey(768), std::invalid_argument);
  EXPECT_THROW(Testing::GetFixtureKey(512, 2), std::invalid_argument);
}

TEST(FixtureKeys, LoadedNumbersAndTextsAgree) {
  for (int bits : Testing::FixtureKeySizes) {
    SCOPED_TRACE(bits);
    TRSA numbers(nullptr), texts(nullptr);
    Testing::LoadFixtureKey(numbers, bits, 1);
    EXPECT_EQ(numbers.KeyBits(), Testing::KeyBitsFor(bits));
    texts.SetKeyBits(Testing::KeyBitsFor(bits));
    texts.PutPublicKey(Testing::FixturePublicKeyText(bits, 1));
    texts.PutPrivateKey(Testing::FixturePrivateKeyText(bits, 1));
    BigNum e1, n1, d1, e2, n2, d2;
    numbers.GetPublicKey(e1, n1);
    numbers.GetPrivateKey(n1, d1);
    texts.GetPublicKey(e2, n2);
    texts.GetPrivateKey(n2, d2);
    EXPECT_TRUE(Same(e1, e2));
    EXPECT_TRUE(Same(n1, n2));
    EXPECT_TRUE(Same(d1, d2));
    EXPECT_EQ(e1.Digits[0], 65537u);
  }
}
