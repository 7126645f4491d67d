// The private-key path must neither branch on nor index memory by the private exponent. Run under
// valgrind memcheck (scripts/ct-check), this test marks the exponent's digits as undefined before
// DecryptKey and Sign: memcheck then reports every conditional jump and every memory address that
// depends on them, and the check fails on any report. The exponent's digit count is public (it is the
// key size), so its top digit stays defined; results handed to the caller are public and are marked
// defined again before the test looks at them. Outside valgrind the marks do nothing and this is an
// ordinary round-trip test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "rsa/RSA.h"
#include "support/FixtureKeys.h"
#include "support/KeyStoreProbe.h"

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#else
#define VALGRIND_MAKE_MEM_UNDEFINED(addr, len) ((void)(addr), (void)(len))
#define VALGRIND_MAKE_MEM_DEFINED(addr, len) ((void)(addr), (void)(len))
#define RUNNING_ON_VALGRIND 0
#endif

namespace {

using Rsa::TRSA;

Rsa::BigNum& PrivExp(TRSA& rsa) { return const_cast<Rsa::BigNum&>(Testing::PrivExpOf(rsa)); }

// Every digit of d below its top digit becomes secret.
void MarkSecret(TRSA& rsa) {
  VALGRIND_MAKE_MEM_UNDEFINED(PrivExp(rsa).Digits, sizeof(Rsa::Digit) * std::size_t(rsa.GetPrecision() - 1));
}

void Declassify(const void* area, std::size_t size) { VALGRIND_MAKE_MEM_DEFINED(area, size); }

class ConstantTime : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { Testing::LoadFixtureKey(rsa, GetParam()); }
  void TearDown() override { Declassify(PrivExp(rsa).Digits, sizeof(Rsa::BigNum)); }
  TRSA rsa{nullptr};
};

TEST_P(ConstantTime, DecryptKeyLooksAtNoSecretDigit) {
  rsa.SetSymKeyLength(Rsa::sk256);
  unsigned char key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(i * 7 + 3);
  const System::AnsiString wrapped = rsa.EncryptKey(key);

  MarkSecret(rsa);
  unsigned char back[32] = {};
  rsa.DecryptKey(wrapped, back);
  Declassify(back, sizeof back);
  EXPECT_EQ(std::memcmp(back, key, sizeof key), 0);
}

TEST_P(ConstantTime, SignLooksAtNoSecretDigit) {
  unsigned char data[16];
  for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(0xF0 - i);

  MarkSecret(rsa);
  rsa.Sign(data, 15, 16);
  // The signature is public once made.
  Declassify(Testing::SigValueOf(rsa).Digits, sizeof(Rsa::BigNum));
  Declassify(rsa.Signature().data(), std::size_t(rsa.Signature().Length()));
  Declassify(PrivExp(rsa).Digits, sizeof(Rsa::BigNum));
  EXPECT_TRUE(rsa.Verify(data, 15, 16));
}

// Shows that the marks take effect: with QARVEX_CT_CANARY set, a branch on a secret digit must be
// reported (scripts/ct-check expects that run to fail).
TEST(ConstantTimeCanary, BranchOnSecretDigitIsReported) {
  if (std::getenv("QARVEX_CT_CANARY") == nullptr) GTEST_SKIP() << "runs only when asked for";
  TRSA rsa(nullptr);
  Testing::LoadFixtureKey(rsa, 512);
  MarkSecret(rsa);
  [[maybe_unused]] volatile int taken = 0;
  if (PrivExp(rsa).Digits[0] & 1) taken = 1;
  Declassify(PrivExp(rsa).Digits, sizeof(Rsa::BigNum));
}

INSTANTIATE_TEST_SUITE_P(KeySizes, ConstantTime, ::testing::Values(512, 1024, 2048),
                         [](const auto& info) { return "Bits" + std::to_string(info.param); });

}  // namespace
