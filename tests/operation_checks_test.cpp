// The checks every RSA operation makes on entry, beyond the key size and modulus (which each
// operation's own tests cover): a public exponent that cannot encrypt is refused where it is used,
// while a text holding it still loads.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "rsa/RSA.h"
#include "rsa/TextFormats.h"
#include "support/FixtureKeys.h"
#include "support/SmallExponentForgery.h"
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

// Signatures forged from a public key with a small e, for raw data and for DigestInfo blocks (SHA-256
// and SHA-512, as --digest builds them), and Verify refuses the key
// instead of answering true. ForgedSignature checks with GMP that each holds.
TEST(OperationChecks, SignaturesForgedUnderSmallExponentsDoNotVerify) {
  const Testing::FixtureKey& key = Testing::GetFixtureKey(2048);
  const BigNum n = Testing::HexToBigNum(key.N);
  const std::string sha256Info = Testing::Sha256InfoPrefix() + std::string(32, '\x5a');
  const std::string sha512Info = Testing::Sha512InfoPrefix() + std::string(64, '\xa5');
  const struct {
    const char* Name;
    unsigned long E;
    std::string Data;
  } forgeries[] = {
      {"e = 3, raw data, odd first byte", 3, "I owe you 1000000"},
      {"e = 3, raw data, even first byte", 3, "pay 100 to Mallory"},
      {"e = 3, SHA-256 DigestInfo", 3, sha256Info},
      {"e = 3, SHA-512 DigestInfo", 3, sha512Info},
      {"e = 5, SHA-256 DigestInfo", 5, sha256Info},
      {"e = 17, raw data", 17, "ok"},
  };
  for (const auto& f : forgeries) {
    SCOPED_TRACE(f.Name);
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb2048);
    rsa.PutPublicKey(Rsa::KeyText(Small(Rsa::Digit(f.E)), n, 64));
    rsa.PutSignature(rsa.EncodeString(Testing::ForgedSignature(n, f.E, f.Data, 256)));
    const auto* data = reinterpret_cast<const unsigned char*>(f.Data.data());
    const int len = int(f.Data.size());
    Testing::ExpectReportedFailure<Rsa::EInvalidKey>(rsa, [&] { rsa.Verify(data, len - 1, len); },
                                                    "Public exponent not valid");
  }
}

// Every block scheme refuses an exponent below 50001, the smallest the component's key generation
// makes, the private operations too whenever the public key is loaded; with the private key alone e is
// unknown and they work as before. Loading the texts still succeeds.
TEST(OperationChecks, BlockSchemesRefuseExponentsBelow50001) {
  const Testing::FixtureKey& key = Testing::GetFixtureKey(512);
  const BigNum n = Testing::HexToBigNum(key.N);
  const unsigned char data[4] = {1, 2, 3, 4};
  Rsa::TSymKey session{};
  TRSA maker(nullptr);
  maker.SetKeyBits(Rsa::kb0512);
  Testing::LoadFixtureKey(maker, 512);
  const AnsiString wrapped = maker.EncryptKey(session);
  AnsiString cipher;
  maker.EncryptString("abc", cipher);

  for (const Rsa::Digit e : {3u, 5u, 17u, 257u, 49999u, 50001u, 65537u}) {
    SCOPED_TRACE(e);
    const bool valid = e >= 50001;
    TRSA rsa(nullptr);
    rsa.SetKeyBits(Rsa::kb0512);
    Testing::LoadFixturePrivateKey(rsa, 512);
    rsa.Sign(data, 3, 4);  // the private key alone: e unknown
    rsa.PutPublicKey(Rsa::KeyText(Small(e), n, 16));
    EXPECT_EQ(rsa.Status(), "Public key loaded OK");
    AnsiString out = "untouched";
    const std::function<void()> uses[] = {
        [&] { rsa.EncryptKey(session); },
        [&] { rsa.DecryptKey(wrapped, session); },
        [&] { rsa.EncryptString("abc", out); },
        [&] { rsa.DecryptString(cipher, out); },
        [&] { Rsa::TStringEncryptor stream(rsa); },
        [&] { Rsa::TStringDecryptor stream(rsa); },
        [&] { rsa.Sign(data, 3, 4); },
        [&] { rsa.Verify(data, 3, 4); },
    };
    for (const auto& use : uses) {
      if (valid) {
        EXPECT_NO_THROW(use());
      } else {
        Testing::ExpectReportedFailure<Rsa::EInvalidKey>(rsa, use, "Public exponent not valid");
      }
    }
    if (!valid) {
      EXPECT_EQ(out, "untouched");
    }
  }
}

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
      {"3 (below 50001)", Small(3), false},
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
    // The private key's operations do not use e, but refuse one below 50001 (see below).
    if (c.Valid || Rsa::BNDigits(c.E, Rsa::BigNumDigits) > 1 || c.E.Digits[0] >= 50001) {
      EXPECT_NO_THROW(rsa.Sign(data, 3, 4));
    }
  }
}
