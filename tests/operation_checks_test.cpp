// The checks every RSA operation makes on entry, beyond the key size and modulus (which each
// operation's own tests cover): a public exponent that cannot encrypt is refused where it is used,
// while a text holding it still loads.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/StatusRecorder.h"

using Rsa::BigNum;
using Rsa::TRSA;
using System::AnsiString;

namespace {

BigNum Small(Rsa::Digit v) {
  BigNum x{};
  x.Digits[0] = v;
  return x;
}

}  // namespace

// e = 1 gave back the plain text as "cipher text", e = 0 wrapped every key to 1; an even e or one not
// below n cannot belong to a key pair. EncryptKey, EncryptString and Verify refuse them; loading the
// text still succeeds, so stored texts read as before.
TEST(OperationChecks, PublicExponentsThatCannotEncryptAreRefusedWhereUsed) {
  const Testing::FixtureKey& key = Testing::GetFixtureKey(512);
  const BigNum n = Testing::HexToBigNum(key.N);
  BigNum nPlus2 = n;
  const BigNum two = Small(2);
  Rsa::BNAdd(nPlus2, nPlus2, two, Rsa::BigNumDigits);
  struct Case {
    const char* Name;
    BigNum E;
    bool Valid;
  };
  const Case cases[] = {
      {"0", Small(0), false},
      {"1", Small(1), false},
      {"2", Small(2), false},
      {"65536 (even)", Small(65536), false},
      {"n", n, false},
      {"n + 2", nPlus2, false},
      {"3", Small(3), true},
      {"fixture e", Testing::HexToBigNum(key.E), true},
  };
  const unsigned char data[4] = {1, 2, 3, 4};
  Rsa::TSymKey session{};

  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    Testing::LoadFixturePrivateKey(rsa, 512);
    rsa.Sign(data, 3, 4);
    rsa.PutPublicKey(Rsa::KeyText(c.E, n, 16));  // loads whatever the exponent
    EXPECT_EQ(rsa.Status(), "Public key loaded OK");

    AnsiString cipher = "untouched";
    const std::function<void()> uses[] = {
        [&] { rsa.EncryptKey(session); },
        [&] { rsa.EncryptString("abc", cipher); },
        [&] { rsa.Verify(data, 3, 4); },
    };
    for (const auto& use : uses) {
      if (c.Valid) {
        EXPECT_NO_THROW(use());
      } else {
        Testing::ExpectReportedFailure<Rsa::EInvalidKey>(rsa, use, "Public exponent not valid");
      }
    }
    if (!c.Valid) {
      EXPECT_EQ(cipher, "untouched");
    }
    // The private key's operations do not use e.
    EXPECT_NO_THROW(rsa.Sign(data, 3, 4));
  }
}
